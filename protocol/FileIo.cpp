#include "FileIo.h"

#include <cerrno>

#include <unistd.h>

namespace protocol {
namespace {

// Calls `step` (which transfers up to `left` bytes at `done` and returns the count) until all
// bytes are through.
template <class Step> bool Whole(std::size_t size, Step step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;  // the file ended before the bytes did
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

}  // namespace

bool ReadAt(int fd, std::int64_t offset, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    return Whole(size, [&](std::size_t done, std::size_t left) {
        return ::pread(fd, bytes + done, left, off_t(offset + std::int64_t(done)));
    });
}

bool WriteAt(int fd, std::int64_t offset, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    return Whole(size, [&](std::size_t done, std::size_t left) {
        return ::pwrite(fd, bytes + done, left, off_t(offset + std::int64_t(done)));
    });
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    return Whole(
        size, [&](std::size_t done, std::size_t left) { return ::write(fd, bytes + done, left); });
}

}  // namespace protocol
