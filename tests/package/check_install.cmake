# Installs into a fresh prefix as `cmake --install --strip` does, checks the whole layout,
# validates the desktop files, then makes the prefix read-only and loads and saves a state
# through the installed cindral-party as a user who cannot write there.
# Expects BINARY_DIR, WORK_DIR, and MAKE_STATE (a program that writes a demo state).
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BINARY_DIR}" --prefix "${prefix}" --strip
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
list(SORT installed)
set(expected
  bin/cindral-editor bin/cindral-party libexec/cindral-editor/Unvell
  share/applications/cindral-editor.desktop
  share/bash-completion/completions/cindral-party
  share/doc/cindral-editor/LICENSE share/doc/cindral-editor/README.md
  share/doc/cindral-editor/changelog.gz share/doc/cindral-editor/copyright
  share/icons/hicolor/128x128/apps/cindral-editor.png
  share/icons/hicolor/16x16/apps/cindral-editor.png
  share/icons/hicolor/256x256/apps/cindral-editor.png
  share/icons/hicolor/32x32/apps/cindral-editor.png
  share/icons/hicolor/48x48/apps/cindral-editor.png
  share/icons/hicolor/64x64/apps/cindral-editor.png
  share/icons/hicolor/scalable/apps/cindral-editor.svg
  share/man/man1/cindral-editor.1.gz share/man/man1/cindral-party.1.gz
  share/metainfo/io.github.cindral.Editor.metainfo.xml)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "the install holds:\n${installed}\nnot:\n${expected}")
endif()
foreach(program bin/cindral-editor bin/cindral-party libexec/cindral-editor/Unvell)
  execute_process(COMMAND readelf -S "${prefix}/${program}" OUTPUT_VARIABLE sections)
  if(sections MATCHES "\\.symtab")
    message(FATAL_ERROR "${program} is installed with its symbols")
  endif()
endforeach()
find_program(DESKTOP_VALIDATE desktop-file-validate)
if(DESKTOP_VALIDATE)
  execute_process(COMMAND ${DESKTOP_VALIDATE} "${prefix}/share/applications/cindral-editor.desktop"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND ${APPSTREAMCLI} validate --no-net
                          "${prefix}/share/metainfo/io.github.cindral.Editor.metainfo.xml"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}")
  endif()
endif()

# A user who cannot write into the prefix: root ignores permission bits, so the programs run
# as nobody, with a home of their own.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(SETPRIV setpriv)
if(NOT uid STREQUAL "0" OR NOT SETPRIV)
  message(STATUS "SKIPPED: running as another user needs root and setpriv")
  return()
endif()
set(home "${WORK_DIR}/home")
file(MAKE_DIRECTORY "${home}")
execute_process(COMMAND "${MAKE_STATE}" "${home}/game.000" OUTPUT_QUIET)
execute_process(COMMAND chown -R 65534:65534 "${home}")
execute_process(COMMAND chmod -R a-w "${prefix}")
execute_process(COMMAND chmod 755 "${WORK_DIR}")
set(as_nobody ${SETPRIV} --reuid=65534 --regid=65534 --clear-groups
    env -i "HOME=${home}" "PATH=/usr/bin:/bin" LANG=C.UTF-8)
execute_process(COMMAND ${as_nobody} test -x "${prefix}/bin/cindral-party" RESULT_VARIABLE reach)
if(NOT reach EQUAL 0)
  execute_process(COMMAND chmod -R u+w "${prefix}")
  message(STATUS "SKIPPED: nobody cannot reach ${prefix} (a folder above it is closed)")
  return()
endif()
execute_process(COMMAND ${as_nobody} "${prefix}/bin/cindral-party" set "${home}/game.000" --slot 1 str=77
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
execute_process(COMMAND ${as_nobody} "${prefix}/bin/cindral-party" show "${home}/game.000"
                RESULT_VARIABLE shown OUTPUT_VARIABLE listing ERROR_VARIABLE err2)
execute_process(COMMAND chmod -R u+w "${prefix}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "Saved")
  message(FATAL_ERROR "set from the read-only install as nobody: ${rc} ${out} ${err}")
endif()
if(NOT shown EQUAL 0 OR NOT listing MATCHES "Str 77")
  message(FATAL_ERROR "show from the read-only install as nobody: ${shown} ${listing} ${err2}")
endif()
if(NOT EXISTS "${home}/.cache/cindral-editor/Unvell")
  message(FATAL_ERROR "no private copy of the decompressor in the user's cache folder")
endif()
file(GLOB leftovers "${home}/.cache/cindral-editor/newstate.dec*" "${home}/.cache/cindral-editor/flag.unv")
if(leftovers)
  message(FATAL_ERROR "working files left behind: ${leftovers}")
endif()
message(STATUS "the install works from a read-only prefix")
