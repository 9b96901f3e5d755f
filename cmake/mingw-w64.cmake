# Cross-builds for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which Qt and
# std::thread need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# Qt for Windows and Google Benchmark for Windows, built by scripts/setup-windows.sh, are roots
# to find packages in too.
foreach(root CINDRAL_WINDOWS_QT CINDRAL_WINDOWS_BENCHMARK)
  if(${root})
    list(APPEND CMAKE_FIND_ROOT_PATH "${${root}}")
    list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ${root})
  endif()
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One file per program: zlib, like Qt, is linked in.
set(ZLIB_USE_STATIC_LIBS ON)
# Programs that run under Wine without the mingw runtime's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
