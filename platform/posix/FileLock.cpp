#include "FileLock.h"

#include "Shared.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::error_code Failed(int error)
{
    return {error, std::generic_category()};
}

bool SameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The open file `fd`: a plain file, locked, and still the one `name` leads to in the folder `at`
// (a holder before us may have removed or replaced it while we waited), never following a link.
// Closes `fd` unless it is locked.
LockTry Locking(int fd, int at, const Path& name, File& locked)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {LockTry::Failed, LockError::NotRegular};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return {LockTry::Busy};
        return {LockTry::Failed, Failed(error)};
    }
    struct stat now {
    };
    if (::fstatat(at, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(st, now)) {
        ::close(fd);
        return {LockTry::Busy};
    }
    locked = File::fromNative(fd);
    return {LockTry::Locked};
}

}  // namespace

long CurrentProcessId()
{
    return long(::getpid());
}

LockTry TryLockFolderFile(const Path& path, File& locked)
{
    // No links followed and no blocking open: a pipe or a link to a device put in the lock's
    // place must give an answer, not a hang.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd >= 0)
        return Locking(fd, AT_FDCWD, path, locked);
    const int error = errno;
    if (error == ELOOP || error == EISDIR)
        return {LockTry::Failed, LockError::NotRegular};
    if (error != EACCES && error != EPERM)
        return {LockTry::Failed, Failed(error)};
    // Perhaps a lock file of another user's that we may read but not write.
    const int readOnly = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (readOnly < 0)
        return {LockTry::Failed, Failed(error)};
    struct stat st {
    };
    if (::fstat(readOnly, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(readOnly);
        return {LockTry::Failed, LockError::NotRegular};
    }
    struct stat now {
    };
    if (::flock(readOnly, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &now) == 0 &&
        SameInode(st, now)) {
        // Nobody holds it, and it is still the file at the path: left by a program that has
        // ended. Ours to clear.
        const bool removed = ::unlink(path.c_str()) == 0;
        ::close(readOnly);
        if (!removed)
            return {LockTry::Failed, LockError::CannotClear};
        return {LockTry::Again};
    }
    ::close(readOnly);
    return {LockTry::Busy};
}

LockTry TryLockFileIn(const Folder& folder, const Path& name, const Path&, File& locked)
{
    // Read and write where allowed (NFS grants an exclusive lock only so), else read only;
    // nothing is written through it.
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::openat(folder.native(), name.c_str(), O_RDWR | kFlags);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY))
        fd = ::openat(folder.native(), name.c_str(), O_RDONLY | kFlags);
    // Another run holds a lease on it and is letting go: as busy as its lock.
    if (fd < 0 && errno == EWOULDBLOCK)
        return {LockTry::Busy};
    if (fd < 0)
        return {LockTry::Failed,
                errno == ELOOP ? make_error_code(LockError::NotRegular) : Failed(errno)};
    // A file replaced by a save's rename while we waited is tried again: the lock on the old
    // file would guard nothing.
    return Locking(fd, folder.native(), name, locked);
}

void FileLock::release()
{
    if (!m_file.valid())
        return;
    // Removed while still held, so nobody can lock the file between the two steps; and only
    // if it is still ours (a person may have removed it and another program made it anew).
    struct stat mine {
    };
    struct stat there {
    };
    if (!m_removeOnRelease.empty() && ::fstat(m_file.native(), &mine) == 0 &&
        ::lstat(m_removeOnRelease.c_str(), &there) == 0 && SameInode(mine, there))
        ::unlink(m_removeOnRelease.c_str());
    (void)m_file.close();
    (void)m_lockedFolder.close();
    m_removeOnRelease.clear();
    m_leased = false;
}

std::error_code LockOpenFile(const File& file)
{
    if (::flock(file.native(), LOCK_EX | LOCK_NB) == 0)
        return {};
    return errno == EWOULDBLOCK ? make_error_code(LockError::Busy) : Failed(errno);
}

bool HeldByARun(const Folder& folder, const Path& name)
{
    const int fd =
        ::openat(folder.native(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool FolderLockHeldBy(const Path& path, long pid)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    char text[32] = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t length = regular ? ::read(fd, text, sizeof text - 1) : -1;
    bool held = false;
    if (length > 0 && std::strtol(text, nullptr, 10) == pid)
        held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace platform
