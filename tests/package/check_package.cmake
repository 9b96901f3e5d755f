# Makes both packages with cpack and checks them: the portable folder is unpacked and run, the
# .deb's file list and control fields are read. Expects BINARY_DIR and WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_CPACK_COMMAND}" --config "${BINARY_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${rc}\n${out}")
endif()

# The portable folder: three programs side by side, the user's README, the licence.
file(GLOB archives "${WORK_DIR}/*.tar.gz")
list(LENGTH archives count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .tar.gz, found: ${archives}")
endif()
file(ARCHIVE_EXTRACT INPUT "${archives}" DESTINATION "${WORK_DIR}/unpacked")
file(GLOB top LIST_DIRECTORIES true "${WORK_DIR}/unpacked/*")
list(LENGTH top count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the package must hold one folder, it holds: ${top}")
endif()
file(GLOB contents RELATIVE "${top}" "${top}/*")
list(SORT contents)
if(NOT contents STREQUAL "LICENSE;README.md;Unvell;cindral-editor;cindral-party")
  message(FATAL_ERROR "the portable folder holds: ${contents}")
endif()
file(READ "${top}/README.md" readme)
if(readme MATCHES "run\\.sh" OR NOT readme MATCHES "Backups" OR NOT readme MATCHES "cindral-party")
  message(FATAL_ERROR "the portable folder carries the developers' README, not the user's")
endif()
execute_process(COMMAND "${top}/Unvell" --help RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "Unvell --help failed from the package: ${rc}")
endif()
execute_process(COMMAND "${top}/cindral-party" show "${top}/no-such.000" RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "does not exist")
  message(FATAL_ERROR "cindral-party from the package: ${rc} ${err}")
endif()

# The .deb: the desktop install under /usr, dependencies from the libraries it links.
file(GLOB debs "${WORK_DIR}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb -c "${debs}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb cannot list ${debs}")
endif()
foreach(path usr/bin/cindral-editor usr/bin/cindral-party usr/libexec/cindral-editor/Unvell
        usr/share/applications/cindral-editor.desktop
        usr/share/icons/hicolor/scalable/apps/cindral-editor.svg
        usr/share/icons/hicolor/48x48/apps/cindral-editor.png
        usr/share/metainfo/io.github.cindral.Editor.metainfo.xml
        usr/share/man/man1/cindral-party.1.gz usr/share/man/man1/cindral-editor.1.gz
        usr/share/bash-completion/completions/cindral-party
        usr/share/doc/cindral-editor/README.md usr/share/doc/cindral-editor/LICENSE
        usr/share/doc/cindral-editor/copyright usr/share/doc/cindral-editor/changelog.gz)
  if(NOT listing MATCHES "\\./${path}\n")
    message(FATAL_ERROR "the .deb lacks ${path}:\n${listing}")
  endif()
endforeach()
if(listing MATCHES "README\\.md\n.*README\\.md\n" OR listing MATCHES "usr/Unvell"
   OR listing MATCHES "\\.1\n")
  message(FATAL_ERROR "the .deb holds the portable layout or an uncompressed manual page:\n${listing}")
endif()
execute_process(COMMAND dpkg-deb -f "${debs}" Package Version Architecture Depends Recommends
                        Section Homepage Maintainer
                OUTPUT_VARIABLE control)
# zlib comes from the system: the decompressor links it dynamically.
foreach(field "Package: cindral-editor" "Version: 1\\." "Architecture: amd64|Architecture: [a-z0-9]+"
        "Depends: .*libqt6widgets6" "Depends: .*libc6" "Depends: .*zlib1g"
        "Recommends: .*qt6-wayland" "Section: utils" "Homepage: https://"
        "Maintainer: [^<\n]+<[^@>]+@[^>]+>")
  if(NOT control MATCHES "${field}")
    message(FATAL_ERROR "the .deb's control lacks ${field}:\n${control}")
  endif()
endforeach()
message(STATUS "packages ${archives} and ${debs} are complete")
