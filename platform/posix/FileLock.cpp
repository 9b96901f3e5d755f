#include "FileLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Between tries while another process holds a lock: short enough to notice a release soon,
// long enough to cost no measurable CPU.
constexpr auto kRetryPause = std::chrono::milliseconds(10);

std::error_code Failed(int error)
{
    return {error, std::generic_category()};
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Waits a little if the deadline allows another try.
bool PauseBefore(Clock::time_point deadline)
{
    if (Clock::now() >= deadline)
        return false;
    std::this_thread::sleep_for(kRetryPause);
    return true;
}

enum class Step { Locked, Busy, Replaced, Failed };

// One try at an open file: a plain file, locked, and still the one `name` leads to in the folder
// `at` (a holder before us may have removed or replaced it while we waited), never following a
// link. Closes `fd` unless it is Locked.
Step TryLock(int fd, int at, const Path& name, std::error_code& failure)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        failure = LockError::notRegular;
        return Step::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Step::Busy;
        failure = Failed(error);
        return Step::Failed;
    }
    struct stat now {
    };
    if (::fstatat(at, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(st, now)) {
        ::close(fd);
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
        // No links followed and no blocking open: a pipe or a link to a device put in the
        // lock's place must give an answer, not a hang.
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            const int error = errno;
            if (error == ELOOP)
                return LockError::notRegular;
            if (error == EISDIR)
                return LockError::notRegular;
            if (error != EACCES && error != EPERM)
                return Failed(error);
            // Perhaps a lock file of another user's that we may read but not write.
            const int readOnly =
                ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (readOnly < 0)
                return Failed(error);
            struct stat st {
            };
            if (::fstat(readOnly, &st) != 0 || !S_ISREG(st.st_mode)) {
                ::close(readOnly);
                return LockError::notRegular;
            }
            struct stat now {
            };
            if (::flock(readOnly, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &now) == 0 &&
                SameFile(st, now)) {
                // Nobody holds it, and it is still the file at the path: left by a program that
                // has ended. Ours to clear.
                const bool removed = ::unlink(path.c_str()) == 0;
                ::close(readOnly);
                if (!removed)
                    return LockError::cannotClear;
                continue;
            }
            ::close(readOnly);
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        std::error_code failure;
        const Step step = TryLock(fd, AT_FDCWD, path, failure);
        if (step == Step::Failed)
            return failure;
        if (step != Step::Locked) {
            // Busy, or removed by the holder before us: try again, within the bound.
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        char pid[32];
        const int length = std::snprintf(pid, sizeof pid, "%ld\n", long(::getpid()));
        if (::ftruncate(fd, 0) != 0 || ::write(fd, pid, size_t(length)) != length) {
            // The folder's disk may be full; the lock holds all the same.
        }
        m_file = File::fromNative(fd);
        m_removeOnRelease = path;
        return {};
    }
}

std::error_code FileLock::lockFileIn(const Folder& folder, const Path& name,
                                     std::chrono::milliseconds wait)
{
    release();
    const auto deadline = Clock::now() + wait;
    for (;;) {
        // Read and write where allowed (NFS grants an exclusive lock only so), else read only;
        // nothing is written through it.
        constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::openat(folder.native(), name.c_str(), O_RDWR | kFlags);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY))
            fd = ::openat(folder.native(), name.c_str(), O_RDONLY | kFlags);
        if (fd < 0 && errno == EWOULDBLOCK) {
            // Another run holds a lease on it and is letting go: as busy as its lock.
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        if (fd < 0)
            return errno == ELOOP ? make_error_code(LockError::notRegular) : Failed(errno);
        std::error_code failure;
        const Step step = TryLock(fd, folder.native(), name, failure);
        if (step == Step::Failed)
            return failure;
        if (step != Step::Locked) {
            // Busy, or replaced by a save's rename while we waited: the lock on the old file
            // would guard nothing.
            if (!PauseBefore(deadline))
                return LockError::busy;
            continue;
        }
        hold(File::fromNative(fd), folder, name);
        return {};
    }
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
        ::lstat(m_removeOnRelease.c_str(), &there) == 0 && SameFile(mine, there))
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
    return errno == EWOULDBLOCK ? make_error_code(LockError::busy) : Failed(errno);
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
