# Runs lintian on the .deb that package_contents made. Fails on any error or warning, and on an
# override without a comment above it that gives its reason. Expects WORK_DIR (the folder
# package_contents packs into).
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message("SKIPPED: lintian is not installed")
  return()
endif()
file(GLOB debs "${WORK_DIR}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${WORK_DIR}, found: ${debs}")
endif()

# --fail-on: an overridden tag does not count, an unused override is only information.
execute_process(COMMAND "${LINTIAN}" --fail-on error,warning --tag-display-limit 0 "${debs}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" complaints "${out}")
if(NOT rc EQUAL 0 OR complaints)
  message(FATAL_ERROR "lintian rejects ${debs} (${rc}):\n${out}${err}")
endif()

# Each override names its reason: a comment line right above it.
execute_process(COMMAND dpkg-deb --fsys-tarfile "${debs}" OUTPUT_FILE "${WORK_DIR}/deb.tar")
file(REMOVE_RECURSE "${WORK_DIR}/deb")
file(ARCHIVE_EXTRACT INPUT "${WORK_DIR}/deb.tar" DESTINATION "${WORK_DIR}/deb")
file(GLOB overrides "${WORK_DIR}/deb/usr/share/lintian/overrides/*")
foreach(file IN LISTS overrides)
  file(STRINGS "${file}" lines)
  set(previous "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^#" AND NOT line STREQUAL "" AND NOT previous MATCHES "^# .+")
      message(FATAL_ERROR "${file}: the override \"${line}\" gives no reason")
    endif()
    set(previous "${line}")
  endforeach()
endforeach()
message(STATUS "lintian accepts ${debs}")
