# The Windows packages, both holding the three programs side by side with the user's README, the
# licence and the notices of what is linked in:
# - a portable zip (cindral-editor-<version>-win64.zip), unpacked anywhere, read-only or not;
# - an installer (cindral-editor-<version>-win64-setup.exe, NSIS): Program Files, a Start-menu
#   entry, an uninstaller in the system's list of programs, /S for a silent run.
# Each program carries its version resource and the icon.

# cindral_windows_resources(target description): the version resource and icon of one program.
function(cindral_windows_resources target description)
  set(CINDRAL_RC_NAME ${target})
  set(CINDRAL_RC_FILE ${target}.exe)
  set(CINDRAL_RC_DESCRIPTION "${description}")
  set(CINDRAL_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/cindral-editor.ico)
  set(rc ${PROJECT_BINARY_DIR}/packaging/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
enable_language(RC)
cindral_windows_resources(cindral-editor "Cindral I Editor")
cindral_windows_resources(cindral-party "Cindral I Editor on the command line")
cindral_windows_resources(Unvell "Cindral I Editor's decompressor")

set(windows_programs cindral-editor cindral-party Unvell)
install(TARGETS ${windows_programs} RUNTIME DESTINATION . COMPONENT windows)
install(FILES packaging/README.user.md DESTINATION . RENAME README.md COMPONENT windows)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT windows)
install(FILES packaging/windows/THIRD-PARTY.txt DESTINATION . COMPONENT windows)
# The texts of the licences Qt comes under, from the system building the packages.
install(FILES /usr/share/common-licenses/LGPL-3 DESTINATION . RENAME LGPL-3.0.txt COMPONENT windows)
install(FILES /usr/share/common-licenses/GPL-3 DESTINATION . RENAME GPL-3.0.txt COMPONENT windows)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME cindral-editor)
set(CPACK_PACKAGE_VENDOR "The Cindral I Editor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Party editor for Snes9x save states of Cindral I")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL windows)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_FILE_NAME cindral-editor-${PROJECT_VERSION}-win64)
set(CPACK_ARCHIVE_FILE_NAME cindral-editor-${PROJECT_VERSION}-win64)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/windows/CPackPerGenerator.cmake)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

set(CPACK_PACKAGE_INSTALL_DIRECTORY "Cindral I Editor")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Cindral I Editor")
set(CPACK_NSIS_PACKAGE_NAME "Cindral I Editor")
set(CPACK_NSIS_DISPLAY_NAME "Cindral I Editor ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer, as the programs are: it needs no 32-bit Windows layer. CMake 3.25's CPack
# has no setting for NSIS's Target and splits makensis's extra arguments at spaces; the
# compressor's line of its script is the one place a command of our own goes in early enough.
set(CPACK_NSIS_COMPRESSOR "lzma\n  Target amd64-unicode")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/cindral-editor.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/icons/cindral-editor.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME cindral-editor.exe)
# Installed over another version, the installer first runs that version's uninstaller, so no
# file the new version no longer ships stays behind (the question it asks is answered yes by
# /S). The user's backups and working folder are in local application data: never touched.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The Start-menu entry: the editor under its name.
set(CPACK_PACKAGE_EXECUTABLES cindral-editor "Cindral I Editor")
include(CPack)
