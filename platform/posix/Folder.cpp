#include "Folder.h"

#include "SharedPosix.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

Folder Folder::open(const Path& path, bool followLinks)
{
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    return fd >= 0 ? Folder(fd) : Folder(-1, LastError());
}

Folder Folder::openIn(const Folder& parent, const Path& name)
{
    const int fd =
        ::openat(parent.native(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 ? Folder(fd) : Folder(-1, LastError());
}

Folder Folder::createIn(const Folder& parent, const Path& name)
{
    if (::mkdirat(parent.native(), name.c_str(), 0700) != 0 && errno != EEXIST)
        return Folder(-1, LastError());
    return openIn(parent, name);
}

std::vector<Path> Folder::entryNames() const
{
    std::vector<Path> names;
    // The listing needs a descriptor of its own, which closedir closes.
    const int listing = ::dup(m_handle);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

FileFacts Folder::factsOf(const Path& name) const
{
    struct stat st {
    };
    if (::fstatat(m_handle, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        FileFacts facts;
        facts.error = LastError();
        return facts;
    }
    return FactsOfStat(st);
}

std::error_code Folder::remove(const Path& name)
{
    return ::unlinkat(m_handle, name.c_str(), 0) == 0 ? std::error_code() : LastError();
}

std::error_code Folder::rename(const Path& from, const Path& to)
{
    if (::renameat2(m_handle, from.c_str(), m_handle, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return LastError();
    // Network and user-space file systems have no such rename: a look first does as well where,
    // as here, the caller's lock keeps every other program out of the folder.
    struct stat st {
    };
    if (::fstatat(m_handle, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return std::make_error_code(std::errc::file_exists);
    return ::renameat(m_handle, from.c_str(), m_handle, to.c_str()) == 0 ? std::error_code()
                                                                         : LastError();
}

Folder Folder::duplicate() const
{
    const int fd = ::fcntl(m_handle, F_DUPFD_CLOEXEC, 0);
    return fd >= 0 ? Folder(fd) : Folder(-1, LastError());
}

std::error_code Folder::renameOver(const Path& from, const Path& to)
{
    return ::renameat(m_handle, from.c_str(), m_handle, to.c_str()) == 0 ? std::error_code()
                                                                         : LastError();
}

std::error_code Folder::exchange(const Path& a, const Path& b)
{
    if (::renameat2(m_handle, a.c_str(), m_handle, b.c_str(), RENAME_EXCHANGE) == 0)
        return {};
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        return std::make_error_code(std::errc::operation_not_supported);
    return LastError();
}

std::error_code Folder::link(const File& file, const Path& name)
{
    // Through /proc where it is mounted; else by the descriptor itself, which the kernel allows
    // a process that may read any file (root).
    const std::string self = "/proc/self/fd/" + std::to_string(file.native());
    if (::linkat(AT_FDCWD, self.c_str(), m_handle, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {};
    if (errno == EEXIST)
        return LastError();
    return ::linkat(file.native(), "", m_handle, name.c_str(), AT_EMPTY_PATH) == 0
               ? std::error_code()
               : LastError();
}

std::error_code Folder::setPermissions(unsigned permissions)
{
    return ::fchmod(m_handle, mode_t(permissions)) == 0 ? std::error_code() : LastError();
}

std::error_code CreateFolders(const Path& path, unsigned permissions)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return {};
    if (path.has_parent_path() && path.parent_path() != path)
        if (std::error_code e = CreateFolders(path.parent_path(), 0777))
            return e;
    if (::mkdir(path.c_str(), mode_t(permissions)) != 0 && errno != EEXIST)
        return LastError();
    return {};
}

bool MayRunPrograms(const Path& folder)
{
    struct statvfs fs {
    };
    return ::statvfs(folder.c_str(), &fs) != 0 || !(fs.f_flag & ST_NOEXEC);
}

bool MayWriteIn(const Path& folder)
{
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool MayRead(const Path& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

unsigned DefaultFilePermissions()
{
    // Read where the kernel shows it: setting the mask to read it back would change it for
    // every thread of the program meanwhile.
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return 0666 & ~mask;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~unsigned(mask);
}

unsigned PermissionsAsKept(unsigned permissions)
{
    return permissions & 07777;
}

}  // namespace platform
