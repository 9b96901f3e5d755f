#pragma once

// Shared by the Windows implementation's files only.

#include "File.h"

#include <string>

#include <windows.h>

namespace platform {

// The facts of an open handle, from what Windows keeps of it.
FileFacts FactsOfHandle(HANDLE handle);
// The full path of an open file or folder.
Path PathOfHandle(HANDLE handle);
std::error_code ErrorOf(DWORD error);

// Opens for reading or writing with every kind of sharing: another program (the emulator) may
// go on reading, writing, renaming and deleting the file meanwhile, as on other systems.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace platform
