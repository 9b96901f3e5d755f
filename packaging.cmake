# Two ways to install, one set of programs:
# - the desktop install (`cmake --install`, and the .deb): GNU folders, the decompressor in
#   libexec/cindral-editor, desktop entry, icons, metainfo, manual pages, completion;
# - the portable folder (the .tar.gz): the three programs side by side with the user's README,
#   unpacked anywhere writable.
if(WIN32)
  include(packaging/windows/Packaging.cmake)
  return()
endif()
include(GNUInstallDirs)

set(desktop_programs cindral-editor cindral-party)
install(TARGETS ${desktop_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
install(TARGETS Unvell RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/cindral-editor
        COMPONENT desktop)
install(FILES packaging/cindral-editor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT desktop)
install(FILES packaging/icons/cindral-editor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
foreach(size 16 32 48 64 128 256)
  install(FILES packaging/icons/${size}/cindral-editor.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT desktop)
endforeach()
install(FILES packaging/cindral-editor.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME io.github.cindral.Editor.metainfo.xml COMPONENT desktop)
# Manual pages and the changelog are installed gzipped, as man and the packaging tools expect;
# -n keeps the bytes the same from one build to the next.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging_gz)
foreach(source man/cindral-editor.1 man/cindral-party.1 changelog)
  get_filename_component(name ${source} NAME)
  set(gz ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/packaging/${source} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source} VERBATIM)
  list(APPEND packaging_gz ${gz})
endforeach()
add_custom_target(packaging_gz ALL DEPENDS ${packaging_gz})
install(FILES ${PROJECT_BINARY_DIR}/packaging/cindral-editor.1.gz
              ${PROJECT_BINARY_DIR}/packaging/cindral-party.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
install(FILES packaging/completion/cindral-party
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT desktop)
install(FILES packaging/README.user.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/cindral-editor RENAME README.md
        COMPONENT desktop)
install(FILES LICENSE packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/cindral-editor COMPONENT desktop)

install(TARGETS ${desktop_programs} Unvell RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
install(FILES packaging/README.user.md DESTINATION . RENAME README.md COMPONENT portable
        EXCLUDE_FROM_ALL)
install(FILES LICENSE DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_NAME cindral-editor)
set(CPACK_PACKAGE_VENDOR "The Cindral I Editor developers")
# A packager who builds the .deb under their own name sets CINDRAL_PACKAGE_MAINTAINER.
set(CINDRAL_PACKAGE_MAINTAINER "The Cindral I Editor developers <editor@cindral.github.io>"
    CACHE STRING "The .deb's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${CINDRAL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Party editor for Snes9x save states of Cindral I")
set(CPACK_STRIP_FILES ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# Which component each generator packs, and where: packaging/CPackPerGenerator.cmake.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/CPackPerGenerator.cmake)
set(CPACK_CINDRAL_PORTABLE_FILE_NAME
    "cindral-editor-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://cindral.github.io/editor/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt on a Wayland session needs the Wayland platform plugin; without it the editor says so.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; these are the lines below it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Opens a save state, shows the four party members and writes edits back\n"
    "within the game's limits, keeping a backup of every state it replaces.\n"
    "Includes cindral-party, the same editor on the command line.")
include(CPack)
