#include "File.h"

#include "Folder.h"
#include "SharedPosix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

static_assert(kLongestPath == PATH_MAX);

std::string ReservedDeviceName(const Path&)
{
    return {};
}

bool OnNetwork(const Path&)
{
    // A network file system here behaves as a local one for everything this program does.
    return false;
}
namespace {

FileStamp StampOf(const struct stat& st)
{
    return FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                     std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

FileKind KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::Link;
    if (S_ISFIFO(mode))
        return FileKind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::Device;
    if (S_ISSOCK(mode))
        return FileKind::Socket;
    return FileKind::Other;
}

// Calls `step` (which transfers up to `left` bytes at `done` and returns the count) until all
// bytes are through.
template <class Step> std::error_code Whole(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LastError();
        if (n == 0)
            return std::make_error_code(std::errc::io_error);  // the file ended first
        done += std::size_t(n);
    }
    return {};
}

int Flags(Access access)
{
    switch (access) {
    case Access::Read: return O_RDONLY;
    case Access::Write: return O_WRONLY;
    case Access::ReadWrite: break;
    }
    return O_RDWR;
}

}  // namespace

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

bool HeldOpenElsewhere(const std::error_code&)
{
    return false;
}

std::error_code RemoveFile(const Path& path, std::chrono::milliseconds)
{
    // Nobody holds a file against its removal here.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return {};
    return {errno, std::generic_category()};
}

Path SpelledAsStored(const Path& path)
{
    return path;  // one name, one spelling
}

bool DiskFull(const std::error_code& error)
{
    return error.category() == std::generic_category() &&
           (error.value() == ENOSPC || error.value() == EDQUOT);
}

FileFacts FactsOfStat(const struct stat& st)
{
    FileFacts facts;
    facts.kind = KindOf(st.st_mode);
    facts.ownedByMe = st.st_uid == ::geteuid();
    facts.ownedByRoot = st.st_uid == 0;
    facts.othersMayWrite = st.st_mode & (S_IWGRP | S_IWOTH);
    facts.keepsOthersEntries = st.st_mode & S_ISVTX;
    facts.markedWritable = st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH);
    facts.permissions = st.st_mode & 0777;
    facts.links = std::uint64_t(st.st_nlink);
    facts.stamp = StampOf(st);
    facts.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return facts;
}

FileFacts FactsOf(const Path& path, bool followLinks)
{
    struct stat st {
    };
    const int found = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (found != 0) {
        FileFacts facts;
        facts.error = LastError();
        return facts;
    }
    return FactsOfStat(st);
}

File File::open(const Path& path, Access access, bool followLinks)
{
    const int flags = Flags(access) | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(path.c_str(), flags);
    return fd >= 0 ? File(fd) : File(-1, LastError());
}

File File::create(const Path& path, unsigned permissions)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode_t(permissions));
    return fd >= 0 ? File(fd) : File(-1, LastError());
}

File File::createIn(const Folder& folder, const Path& name, unsigned permissions)
{
    const int fd =
        ::openat(folder.native(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 mode_t(permissions));
    return fd >= 0 ? File(fd) : File(-1, LastError());
}

File File::openIn(const Folder& folder, const Path& name, Access access)
{
    const int fd = ::openat(folder.native(), name.c_str(),
                            Flags(access) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? File(fd) : File(-1, LastError());
}

File File::createOrTruncate(const Path& path, unsigned permissions)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          mode_t(permissions));
    return fd >= 0 ? File(fd) : File(-1, LastError());
}

std::ptrdiff_t File::read(void* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(m_handle, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

std::error_code File::readAt(std::int64_t offset, void* data, std::size_t size) const
{
    auto* bytes = static_cast<char*>(data);
    return Whole(size, [&](std::size_t done, std::size_t left) {
        return ::pread(m_handle, bytes + done, left, off_t(offset + std::int64_t(done)));
    });
}

std::error_code File::writeAt(std::int64_t offset, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    return Whole(size, [&](std::size_t done, std::size_t left) {
        return ::pwrite(m_handle, bytes + done, left, off_t(offset + std::int64_t(done)));
    });
}

std::error_code File::writeAll(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    return Whole(size, [&](std::size_t done, std::size_t left) {
        return ::write(m_handle, bytes + done, left);
    });
}

std::error_code File::syncData()
{
    return ::fdatasync(m_handle) == 0 ? std::error_code() : LastError();
}

std::error_code File::setPermissions(unsigned permissions)
{
    return ::fchmod(m_handle, mode_t(permissions)) == 0 ? std::error_code() : LastError();
}

std::error_code File::truncate(std::int64_t size)
{
    return ::ftruncate(m_handle, off_t(size)) == 0 ? std::error_code() : LastError();
}

Result<FileStamp> File::stamp() const
{
    struct stat st {
    };
    if (::fstat(m_handle, &st) != 0)
        return LastError();
    return StampOf(st);
}

FileFacts Handle::facts() const
{
    struct stat st {
    };
    if (::fstat(m_handle, &st) != 0) {
        FileFacts facts;
        facts.error = LastError();
        return facts;
    }
    return FactsOfStat(st);
}

std::error_code Handle::close()
{
    if (m_handle == kNoHandle)
        return {};
    const int closed = ::close(std::exchange(m_handle, kNoHandle));
    return closed == 0 ? std::error_code() : LastError();
}

std::error_code CopyRange(const File& from, File& to, std::int64_t size)
{
    loff_t offset = 0;
    while (offset < size) {
        const ssize_t n = ::copy_file_range(from.native(), &offset, to.native(), nullptr,
                                            std::size_t(size - offset), 0);
        if (n > 0)
            continue;
        if (n == 0)
            return std::make_error_code(std::errc::io_error);  // the source is shorter
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return LastError();
        // No copy in the kernel between these files: through a buffer, then.
        std::vector<char> buffer(256 * 1024);
        while (offset < size) {
            const std::size_t want =
                std::min<std::size_t>(buffer.size(), std::size_t(size - offset));
            if (std::error_code e = from.readAt(offset, buffer.data(), want))
                return e;
            if (std::error_code e = to.writeAll(buffer.data(), want))
                return e;
            offset += loff_t(want);
        }
    }
    return {};
}

}  // namespace platform
