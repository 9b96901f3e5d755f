#pragma once

// Advisory locks that the kernel drops when their holder dies, so no lock is ever left stale:
// a lock file in a folder (created on demand, removed on release) and a lock on an existing
// file. No Qt: shared by the editor and the decompressor.

#include "File.h"
#include "Folder.h"
#include "Lease.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace platform {

// Why a lock could not be had, beside the system's own errors (the file cannot be opened, the
// lock file cannot be created).
enum class LockError {
    Busy = 1,     // another live process holds it for longer than the wait
    NotRegular,   // the path is a folder, a link, a pipe or a device: not a lock of ours
    CannotClear,  // a lock file left by an ended program cannot be removed
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

    // Locks the file `name` in the folder held open, waiting up to `wait`; a link there is
    // refused (LockError::NotRegular), never followed. A file replaced by a rename while we
    // waited is locked afresh, so the lock always covers the file the name leads to.
    [[nodiscard]] std::error_code lockFileIn(const Folder& folder, const Path& name,
                                             std::chrono::milliseconds wait);
    // The same for the file at `path`, its folder's path resolved once.
    [[nodiscard]] std::error_code lockExistingFile(const Path& path,
                                                   std::chrono::milliseconds wait);

    bool locked() const { return m_file.valid(); }
    // After lockFileIn: the name still leads to the locked file, with the size and time it had
    // when it was locked, so nobody (no program that ignores the lock) wrote it since.
    bool stillAsLocked() const;
    // After lockFileIn: the locked file itself (whatever name it has now) still has the size
    // and time it had when it was locked; where those cannot tell (a clock that moves in
    // steps, a file written within the last moments), its bytes too. Nothing needs looking at
    // while the lease below is held.
    bool unchangedSinceLocked() const;
    // Waits up to `wait` until no other program has the locked file open (a writer that has
    // not finished), then takes what it holds as the file as locked. Nothing has been read of
    // it yet when this runs.
    Openers settle(std::chrono::milliseconds wait);
    // Takes a write lease on the locked file, waiting up to `wait` for other programs that
    // have it open to close it.
    Openers leaseFile(std::chrono::milliseconds wait);
    // The lease is held: nobody opened the file since it was taken.
    bool leaseHeld() const;
    // A lease was taken and has been broken: another program opened the file since, and may
    // be writing it (or about to).
    bool leaseBroken() const { return m_leased && !leaseHeld(); }
    // The open locked file, for reading it or linking it while it is held.
    const File& file() const { return m_file; }
    // Removes a lock file made by lockFolderFile, then unlocks.
    void release();

private:
    // Keeps the locked existing file and what tells whether anybody writes it from now on.
    void hold(File file, const Folder& folder, const Path& name);
    void takeStamp();
    // `path` is where `name` is, for the systems that open by path; empty: the name in the
    // folder.
    std::error_code lockAt(const Folder& folder, const Path& name, const Path& path,
                           std::chrono::milliseconds wait);

    File m_file;
    Path m_removeOnRelease;
    Folder m_lockedFolder;  // for lockFileIn: where the locked file's name is
    Path m_lockedName;
    long long m_lockedSize = 0;
    long long m_lockedTimeNs = 0;
    std::optional<std::uint64_t> m_lockedDigest;  // where the stamp cannot tell
    bool m_leased = false;
};

// Locks the open file for as long as this handle stays open, without waiting: the mark of a run
// under way on a file of its own (a pending backup, a new file beside a state), so that no other
// run takes it for a killed run's leftover. LockError::Busy when another holds it.
std::error_code LockOpenFile(const File& file);
// A live process holds a lock on the file `name` in `folder` (LockOpenFile's, or a FileLock's).
bool HeldByARun(const Folder& folder, const Path& name);

// True when the folder lock at `path` is held by process `pid`, alive and locking it now.
bool FolderLockHeldBy(const Path& path, long pid);

}  // namespace platform

template <> struct std::is_error_code_enum<platform::LockError> : std::true_type {
};
