#include "FileLock.h"

#include "Calls.h"
#include "Shared.h"
#include "SharedWin.h"

#include <cstdlib>

namespace platform {
namespace {

// Byte-range locks are mandatory here: the lock takes one byte far past the end of any state,
// so that it never stands in the way of a program (the emulator) that writes the file.
OVERLAPPED FarByte()
{
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

bool LockFar(HANDLE handle, bool exclusive)
{
    OVERLAPPED at = FarByte();
    return calls::lockFile(
        handle, (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 1, 0, &at);
}

void UnlockFar(HANDLE handle)
{
    OVERLAPPED at = FarByte();
    ::UnlockFileEx(handle, 0, 1, 0, &at);
}

// A lock file its holder has marked for removal refuses every opener ("access denied") until
// that holder closes it, a moment later: busy, not a folder we may not write. Told apart by the
// name still being there.
bool BeingRemoved(const Path& path, DWORD error)
{
    if (error != ERROR_ACCESS_DENIED && error != ERROR_DELETE_PENDING)
        return false;
    if (::GetFileAttributesW(Win32Path(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD why = ::GetLastError();
    return why == ERROR_ACCESS_DENIED || why == ERROR_DELETE_PENDING;
}

// The open `handle`: a plain file, locked, and still the one at `path`. Closes `handle` unless it
// is locked.
LockTry Locking(HANDLE handle, const Path& path, File& locked)
{
    const FileFacts facts = FactsOfHandle(handle);
    if (facts.error || facts.kind != FileKind::Regular) {
        ::CloseHandle(handle);
        return {LockTry::Failed,
                facts.error ? facts.error : make_error_code(LockError::NotRegular)};
    }
    if (!LockFar(handle, true)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return {LockTry::Busy};
        return {LockTry::Failed, ErrorOf(error)};
    }
    // Replaced while we waited: the lock on the old file would guard nothing.
    const FileFacts now = FactsOf(path, false);
    if (now.error || !now.stamp.sameFile(facts.stamp)) {
        ::CloseHandle(handle);
        return {LockTry::Busy};
    }
    locked = File::fromNative(handle);
    return {LockTry::Locked};
}

}  // namespace

long CurrentProcessId()
{
    return long(::GetCurrentProcessId());
}

LockTry TryLockFolderFile(const Path& path, File& locked)
{
    const HANDLE handle =
        calls::createFile(Win32Path(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle != INVALID_HANDLE_VALUE)
        return Locking(handle, path, locked);
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || BeingRemoved(path, error))
        return {LockTry::Busy};
    return {LockTry::Failed, ErrorOf(error)};
}

LockTry TryLockFileIn(const Folder& folder, const Path& name, const Path& path, File& locked)
{
    // By the path as given where there is one: Wine names no handle's path past 260 characters.
    const Path at = path.empty() ? Inside(folder.native(), name) : path;
    // A link in the state's place is opened as itself and refused: never followed.
    const HANDLE handle =
        calls::createFile(Win32Path(at).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle != INVALID_HANDLE_VALUE)
        return Locking(handle, at, locked);
    const DWORD error = ::GetLastError();
    return {error == ERROR_FILE_NOT_FOUND ? LockTry::Missing : LockTry::Failed, ErrorOf(error)};
}

void FileLock::release()
{
    if (!m_file.valid())
        return;
    // Removed while still held, and only if it is still ours.
    if (!m_removeOnRelease.empty()) {
        const FileFacts there = FactsOf(m_removeOnRelease, false);
        const Result<FileStamp> mine = m_file.stamp();
        if (!there.error && mine && there.stamp.sameFile(*mine)) {
            FILE_DISPOSITION_INFO remove{TRUE};
            calls::setFileInformation(m_file.native(), FileDispositionInfo, &remove, sizeof remove);
        }
    }
    ReleaseWriteLease(m_file);
    UnlockFar(m_file.native());
    (void)m_file.close();
    (void)m_lockedFolder.close();
    m_removeOnRelease.clear();
    m_leased = false;
}

std::error_code LockOpenFile(const File& file)
{
    if (LockFar(file.native(), true))
        return {};
    const DWORD error = ::GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
               ? make_error_code(LockError::Busy)
               : ErrorOf(error);
}

bool HeldByARun(const Folder& folder, const Path& name)
{
    const HANDLE handle =
        calls::createFile(Win32Path(Inside(folder.native(), name)).c_str(), GENERIC_READ, kShareAll,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool held = !LockFar(handle, false);
    if (!held)
        UnlockFar(handle);
    ::CloseHandle(handle);
    return held;
}

bool FolderLockHeldBy(const Path& path, long pid)
{
    const HANDLE handle = calls::createFile(Win32Path(path).c_str(), GENERIC_READ, kShareAll,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    char text[32] = {};
    DWORD got = 0;
    bool held = false;
    if (::ReadFile(handle, text, sizeof text - 1, &got, nullptr) && got > 0 &&
        std::strtol(text, nullptr, 10) == pid) {
        held = !LockFar(handle, false);
        if (!held)
            UnlockFar(handle);
    }
    ::CloseHandle(handle);
    return held;
}

}  // namespace platform
