# How cindral-editor starts when it cannot or need not show its window: help and version
# without a display, and one line with status 1 when the display cannot be opened.
# Expects EDITOR (the program).

# run(<expected status> <stdout regex> <stderr regex> <env...> -- <args...>)
function(run status out_regex err_regex)
  set(env_args "")
  set(args "")
  set(in_args OFF)
  foreach(word IN LISTS ARGN)
    if(word STREQUAL "--")
      set(in_args ON)
    elseif(in_args)
      list(APPEND args "${word}")
    else()
      list(APPEND env_args "${word}")
    endif()
  endforeach()
  execute_process(
    COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE ${env_args}
            "${EDITOR}" ${args}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  if(NOT rc STREQUAL "${status}" OR NOT out MATCHES "${out_regex}" OR NOT err MATCHES "${err_regex}")
    message(FATAL_ERROR "cindral-editor ${args} with ${env_args}: status ${rc} (expected ${status})\n"
                        "stdout:\n${out}\nstderr:\n${err}")
  endif()
endfunction()

set(one_line "^cindral-editor: cannot open the display: [^\n]+\n$")
run(0 "^Usage: cindral-editor \\[--\\] \\[STATE\\]\n" "^$" -- --help)
run(0 "^Usage: cindral-editor" "^$" -- -h some.000)
run(0 "^cindral-editor [0-9]+\\.[0-9]+\\.[0-9]+\n$" "^$" -- --version)
run(0 "^cindral-editor [0-9]" "^$" -- -V)
# No X server answers on this display.
run(1 "^$" "${one_line}" DISPLAY=:4711 QT_QPA_PLATFORM=xcb --)
# A Wayland session whose Qt lacks the Wayland plugin, or whose compositor is gone; and one
# whose display cannot even be looked for (libwayland would print its own line first, where Qt
# has the plugin), asked for by name and chosen by Qt.
run(1 "^$" "${one_line}" WAYLAND_DISPLAY=/nonexistent/cindral-no-such-socket
    QT_QPA_PLATFORM=wayland --)
run(1 "^$" "${one_line}" WAYLAND_DISPLAY=cindral-no-such-socket XDG_RUNTIME_DIR= --)
run(1 "^$" "${one_line}" WAYLAND_DISPLAY=cindral-no-such-socket XDG_RUNTIME_DIR=
    QT_QPA_PLATFORM=wayland --)
run(2 "^$" "(^|\n)cindral-editor: unknown option \"--frob\"\nTry 'cindral-editor --help'"
    QT_QPA_PLATFORM=offscreen -- --frob)
run(2 "^$" "one state file at a time" QT_QPA_PLATFORM=offscreen -- a.000 b.000)
message(STATUS "cindral-editor starts as it should without a window")
