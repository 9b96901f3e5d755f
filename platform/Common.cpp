// What every implementation shares: nothing of the operating system's in it.

#include "File.h"

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

}  // namespace platform
