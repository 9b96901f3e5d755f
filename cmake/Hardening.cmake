# Hardening for every program of every build, as distributions build theirs: fortified libc
# calls, stack protector, stack-clash and control-flow protection where the compiler has them,
# position-independent executables, and relocations made read-only before main runs.
#
# Under the sanitizers everything stays but _FORTIFY_SOURCE: the sanitizers check those calls
# themselves and fortify's wrappers hide them from their interceptors. _FORTIFY_SOURCE needs
# optimisation, so a debug build goes without it as well.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" OR WIN32)
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES CXX)

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "CINDRAL_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    add_compile_options(${flag})
  endif()
endforeach()

if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>
                      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
