// What every implementation shares: nothing of the operating system's in it.

#include "File.h"
#include "FileLock.h"
#include "Shared.h"

#include <algorithm>
#include <string>

namespace platform {

const char* KindName(FileKind kind)
{
    switch (kind) {
    case FileKind::Folder: return "a folder";
    case FileKind::Link: return "a symbolic link";
    case FileKind::Pipe: return "a named pipe";
    case FileKind::Device: return "a device";
    case FileKind::Socket: return "a socket";
    case FileKind::Regular: return "a plain file";
    case FileKind::Missing: return "missing";
    case FileKind::Other: break;
    }
    return "not a plain file";
}

std::error_code CopyStable(const File& from, File& to)
{
    const std::optional<FileStamp> before = from.stamp();
    if (!before)
        return LastError();
    if (std::error_code e = CopyRange(from, to, before->size))
        return e;
    if (from.stamp() != before)
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    return {};
}

std::optional<std::uint64_t> ContentDigest(const File& file)
{
    std::uint64_t digest = 14695981039346656037ULL;
    unsigned char buffer[64 * 1024];
    const std::optional<FileStamp> stamp = file.stamp();
    if (!stamp)
        return std::nullopt;
    for (std::int64_t at = 0; at < stamp->size;) {
        const auto n = std::size_t(std::min<std::int64_t>(sizeof buffer, stamp->size - at));
        if (file.readAt(at, buffer, n))
            return std::nullopt;
        for (std::size_t i = 0; i < n; ++i)
            digest = (digest ^ buffer[i]) * 1099511628211ULL;
        at += std::int64_t(n);
    }
    return digest;
}

namespace {

class LockCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "lock"; }
    std::string message(int value) const override
    {
        switch (LockError(value)) {
        case LockError::busy: return "another program holds the lock";
        case LockError::notRegular: return "not a plain file";
        case LockError::cannotClear:
            return "a lock file left by an ended program cannot be removed";
        }
        return "lock error";
    }
};

}  // namespace

std::error_code make_error_code(LockError error)
{
    static const LockCategory category;
    return {int(error), category};
}

}  // namespace platform
