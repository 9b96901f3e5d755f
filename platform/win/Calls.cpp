#include "Calls.h"

namespace platform::calls {

HANDLE createFile(LPCWSTR path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL replaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags)
{
    return ::ReplaceFileW(replaced, replacement, backup, flags, nullptr, nullptr);
}

BOOL moveFile(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    return ::MoveFileExW(from, to, flags);
}

BOOL lockFile(HANDLE file, DWORD flags, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED at)
{
    return ::LockFileEx(file, flags, 0, bytesLow, bytesHigh, at);
}

BOOL createHardLink(LPCWSTR link, LPCWSTR existing)
{
    return ::CreateHardLinkW(link, existing, nullptr);
}

BOOL flushFile(HANDLE file)
{
    return ::FlushFileBuffers(file);
}

BOOL setFileInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    return ::SetFileInformationByHandle(file, kind, info, size);
}

BOOL deleteFile(LPCWSTR path)
{
    return ::DeleteFileW(path);
}

DWORD finalPathName(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    return ::GetFinalPathNameByHandleW(file, path, size, flags);
}

}  // namespace platform::calls
