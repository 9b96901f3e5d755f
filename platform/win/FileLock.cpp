#include "FileLock.h"

#include "Calls.h"
#include "Internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRetryPause = std::chrono::milliseconds(10);
// Another program replacing the state with ReplaceFileW frees its name for a moment (longer on
// a busy machine): a state that is missing is looked for again for as long as the lock is
// waited for, and at least this long. (A state missing before is reported before the lock.)
constexpr auto kMissingGrace = std::chrono::milliseconds(500);

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

bool PauseBefore(Clock::time_point deadline)
{
    if (Clock::now() >= deadline)
        return false;
    std::this_thread::sleep_for(kRetryPause);
    return true;
}

bool SameFile(const FileStamp& a, const FileStamp& b)
{
    return a.device == b.device && a.inode == b.inode;
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

enum class Step { Locked, Busy, Replaced, Failed };

// One try: a plain file, locked, and still the one at `path`. Closes `handle` unless Locked.
Step TryLock(HANDLE handle, const Path& path, bool followLinks, std::error_code& failure)
{
    const FileFacts facts = FactsOfHandle(handle);
    if (facts.error || facts.kind != FileKind::Regular) {
        ::CloseHandle(handle);
        failure = facts.error ? facts.error : make_error_code(LockError::notRegular);
        return Step::Failed;
    }
    if (!LockFar(handle, true)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return Step::Busy;
        failure = ErrorOf(error);
        return Step::Failed;
    }
    const FileFacts now = FactsOf(path, followLinks);
    if (now.error || !SameFile(now.stamp, facts.stamp)) {
        ::CloseHandle(handle);
        return Step::Replaced;
    }
    return Step::Locked;
}

}  // namespace

std::error_code FileLock::lockFolderFile(const Path& path, std::chrono::milliseconds wait)
{
    release();
    const auto deadline = Clock::now() + wait;
    for (;;) {
        const HANDLE handle = calls::createFile(
            Win32Path(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            const bool busy = error == ERROR_SHARING_VIOLATION || BeingRemoved(path, error);
            if (busy && PauseBefore(deadline))
                continue;
            return busy ? make_error_code(LockError::busy) : ErrorOf(error);
        }
        std::error_code failure;
        const Step step = TryLock(handle, path, false, failure);
        if (step == Step::Failed)
            return failure;
        if (step != Step::Locked) {
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        char pid[32];
        const int length = std::snprintf(pid, sizeof pid, "%lu\n", ::GetCurrentProcessId());
        m_file = File::fromNative(handle);
        (void)m_file.truncate(0);
        (void)m_file.writeAt(0, pid, std::size_t(length));
        m_removeOnRelease = path;
        return {};
    }
}

std::error_code FileLock::lockFileIn(const Folder& folder, const Path& name,
                                     std::chrono::milliseconds wait)
{
    return lockAt(Inside(folder.native(), name), folder, name, wait);
}

std::error_code FileLock::lockExistingFile(const Path& path, std::chrono::milliseconds wait)
{
    // By the path as given: Wine names no handle's path past 260 characters.
    const Folder folder = Folder::open(path.has_parent_path() ? path.parent_path() : Path("."));
    if (!folder.valid())
        return folder.error();
    return lockAt(path, folder, path.filename(), wait);
}

std::error_code FileLock::lockAt(const Path& path, const Folder& folder, const Path& name,
                                 std::chrono::milliseconds wait)
{
    release();
    const auto deadline = Clock::now() + wait;
    const auto missingDeadline = std::max(deadline, Clock::now() + kMissingGrace);
    for (;;) {
        // A link in the state's place is opened as itself and refused: never followed.
        const HANDLE handle =
            calls::createFile(Win32Path(path).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND && PauseBefore(missingDeadline))
                continue;
            return ErrorOf(error);
        }
        std::error_code failure;
        const Step step = TryLock(handle, path, false, failure);
        if (step == Step::Failed)
            return failure;
        if (step != Step::Locked) {
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        hold(File::fromNative(handle), folder, name);
        return {};
    }
}

void FileLock::release()
{
    if (!m_file.valid())
        return;
    // Removed while still held, and only if it is still ours.
    if (!m_removeOnRelease.empty()) {
        const FileFacts there = FactsOf(m_removeOnRelease, false);
        const std::optional<FileStamp> mine = m_file.stamp();
        if (!there.error && mine && SameFile(there.stamp, *mine)) {
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
               ? make_error_code(LockError::busy)
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
