#pragma once

// Shared by the Windows implementation's files only.

#include "File.h"

#include <string>

#include <windows.h>

namespace platform {

// The facts of an open handle, from what Windows keeps of it.
FileFacts FactsOfHandle(HANDLE handle);
// The full path of an open file or folder; empty when Windows cannot tell it.
Path PathOfHandle(HANDLE handle);
// The path of `name` in an open folder: one that reaches nothing when the folder's path cannot
// be told, never the name in the current folder.
Path Inside(HANDLE folder, const Path& name);
std::error_code ErrorOf(DWORD error);
// The path as the wide calls take it: past MAX_PATH in its extended form ("\\?\"), so a state
// deep in a folder tree opens as any other.
std::wstring Win32Path(const Path& path);

// Opens for reading or writing with every kind of sharing: another program (the emulator) may
// go on reading, writing, renaming and deleting the file meanwhile, as on other systems.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace platform
