#pragma once

// The Windows calls on whose failure what the user keeps depends: every use in this layer goes
// through here. Calls.cpp passes them straight on; a test build links a file of its own in its
// place that makes a chosen call fail with a chosen error on its Nth use, so failures that a
// test machine never produces by itself (a scanner holding a file in the middle of a replace, a
// full disk) still have a test.

#include <windows.h>

namespace platform::calls {

HANDLE createFile(LPCWSTR path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
BOOL replaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags);
BOOL moveFile(LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL lockFile(HANDLE file, DWORD flags, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED at);
BOOL createHardLink(LPCWSTR link, LPCWSTR existing);
BOOL flushFile(HANDLE file);
BOOL setFileInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size);
BOOL deleteFile(LPCWSTR path);
DWORD finalPathName(HANDLE file, LPWSTR path, DWORD size, DWORD flags);

}  // namespace platform::calls
