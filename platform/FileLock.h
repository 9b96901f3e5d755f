#pragma once

// Advisory locks that the kernel drops when their holder dies, so no lock is ever left stale:
// a lock file in a folder (created on demand, removed on release) and a lock on an existing
// file. No Qt: shared by the editor and the decompressor.

#include "File.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace platform {

// Why a lock could not be had, beside the system's own errors (the file cannot be opened, the
// lock file cannot be created).
enum class LockError {
    busy = 1,     // another live process holds it for longer than the wait
    notRegular,   // the path is a folder, a link, a pipe or a device: not a lock of ours
    cannotClear,  // a lock file left by an ended program cannot be removed
};
std::error_code make_error_code(LockError error);

class FileLock
{
public:
    FileLock() = default;
    ~FileLock() { release(); }
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates `path` if need be and locks it, waiting up to `wait`. The holder's process id
    // goes into the file, for a person looking and for the decompressor's check below. A lock
    // file that a dead process left is simply taken over.
    [[nodiscard]] std::error_code lockFolderFile(const Path& path, std::chrono::milliseconds wait);

    // Locks the file at `path` as it is now (following links), waiting up to `wait`. A file
    // replaced by a rename while we waited is locked afresh, so the lock always covers the file
    // the path names.
    [[nodiscard]] std::error_code lockExistingFile(const Path& path,
                                                   std::chrono::milliseconds wait);

    bool locked() const { return m_file.valid(); }
    // After lockExistingFile: the path still names the locked file, with the size and time it
    // had when it was locked, so nobody (no program that ignores the lock) wrote it since.
    bool stillAsLocked() const;
    // After lockExistingFile: the locked file itself (whatever name it has now) still has the
    // size and time it had when it was locked.
    bool unchangedSinceLocked() const;
    // The open locked file, for reading it or linking it while it is held.
    const File& file() const { return m_file; }
    // Removes a lock file made by lockFolderFile, then unlocks.
    void release();

private:
    // Keeps the locked existing file and what tells whether anybody writes it from now on.
    void hold(File file, const Path& path);

    File m_file;
    Path m_removeOnRelease;
    Path m_lockedPath;  // for lockExistingFile
    long long m_lockedSize = 0;
    long long m_lockedTimeNs = 0;
    std::optional<std::uint64_t> m_lockedDigest;  // where the file system keeps whole seconds
};

// True when the folder lock at `path` is held by process `pid`, alive and locking it now.
bool FolderLockHeldBy(const Path& path, long pid);

}  // namespace platform

template <> struct std::is_error_code_enum<platform::LockError> : std::true_type {
};
