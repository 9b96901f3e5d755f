# A portable package: one folder with the three programs, the README and the licence.
# The programs use the system's Qt 6 and zlib; the folder must stay writable, because the
# editor keeps its working files beside itself.
install(FILES README.md LICENSE DESTINATION .)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME cindral-editor)
set(CPACK_PACKAGE_VENDOR "The Cindral I Editor developers")
set(CPACK_PACKAGE_FILE_NAME "cindral-editor-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
