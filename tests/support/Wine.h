#pragma once

// Whether a Windows build runs under Wine rather than on Windows: what Wine does not do as
// Windows does is skipped there, with the reason. Plain C++, for the Qt-free checks too.

#if defined(_WIN32)
#include <windows.h>
#endif

namespace testsupport {

inline bool RunningUnderWine()
{
#if defined(_WIN32)
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

}  // namespace testsupport
