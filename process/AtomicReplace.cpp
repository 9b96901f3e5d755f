#include "AtomicReplace.h"

#include "FileIo.h"
#include "StatePath.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Process {
namespace {

// Copies every extended attribute (ACLs among them) the new file may take; one it may not is
// skipped, as a copy by hand would.
void CopyExtendedAttributes(const QByteArray& from, int to)
{
    const ssize_t listSize = ::listxattr(from.constData(), nullptr, 0);
    if (listSize <= 0)
        return;
    std::vector<char> names(std::size_t(listSize), '\0');
    const ssize_t got = ::listxattr(from.constData(), names.data(), names.size());
    for (ssize_t at = 0; at < got;) {
        const char* name = names.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        const ssize_t size = ::getxattr(from.constData(), name, nullptr, 0);
        if (size < 0)
            continue;
        std::vector<char> value(static_cast<std::size_t>(size));
        if (::getxattr(from.constData(), name, value.data(), value.size()) == size)
            (void)::fsetxattr(to, name, value.data(), value.size(), 0);
    }
}

// The owner and group first (a change of owner clears some mode bits), then the mode again.
void KeepOwnership(const QByteArray& from, int to)
{
    struct stat old {
    };
    if (::stat(from.constData(), &old) != 0)
        return;
    if (::fchown(to, old.st_uid, old.st_gid) != 0)
        (void)::fchown(to, uid_t(-1), old.st_gid);  // a user may still keep a group of theirs
    (void)::fchmod(to, old.st_mode & 07777);
    CopyExtendedAttributes(from, to);
}

// The new file is named after the target plus a dot and up to seven characters.
constexpr qsizetype kTemporarySuffix = 8;

bool HasAnyWriteBit(QFileDevice::Permissions p)
{
    // WriteUser is left out: it says what this process may do, not how the file is marked.
    return p & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

}  // namespace

Outcome CheckReplaceable(const QString& path)
{
    const QString shown = ShownPath(path);
    const QFileInfo state(path);
    if (!state.exists())
        return Outcome::Failure(ErrorKind::NotFound,
                                QStringLiteral("The state file %1 no longer exists.").arg(shown));
    if (state.isDir())
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is a folder, not a state file.").arg(shown));
    if (!state.isWritable() || !HasAnyWriteBit(state.permissions()))
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 is read-only; it was left as "
                                               "it was.")
                                    .arg(shown));
    // The new file is written beside the old one under a longer, temporary name, which the
    // system must still accept as a path.
    const QString target = state.canonicalFilePath();
    if (QFile::encodeName(target.isEmpty() ? path : target).size() + kTemporarySuffix >= PATH_MAX)
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 could not be replaced: its path "
                                               "is too long to write a new file beside it. Move "
                                               "it to a folder with a shorter path. It was left "
                                               "as it was.")
                                    .arg(shown));
    return Outcome::Success();
}

namespace {

// Writes the new contents into the descriptor; false with errno set when it cannot.
using Fill = std::function<bool(int fd)>;

bool CopyRange(int from, int to, qint64 size)
{
    loff_t offset = 0;
    while (offset < size) {
        const ssize_t n =
            ::copy_file_range(from, &offset, to, nullptr, std::size_t(size - offset), 0);
        if (n > 0)
            continue;
        if (n == 0) {
            errno = EIO;  // the source is shorter than it was
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        // No copy in the kernel between these files: through a buffer, then.
        std::vector<char> buffer(256 * 1024);
        while (offset < size) {
            const ssize_t got =
                ::pread(from, buffer.data(),
                        std::min<std::size_t>(buffer.size(), std::size_t(size - offset)), offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || !protocol::WriteAll(to, buffer.data(), std::size_t(got))) {
                if (got == 0)
                    errno = EIO;
                return false;
            }
            offset += got;
        }
    }
    return true;
}

// A new file in the target's folder: unnamed where the file system allows it, so a program
// killed before the rename leaves nothing behind.
int OpenBeside(const QByteArray& target, QByteArray& tempName, bool& unnamed)
{
    const QByteArray folder =
        QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    // An unnamed file is named later through /proc; without it, a named one from the start.
    int fd = ::access("/proc/self/fd", X_OK) == 0
                 ? ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666)
                 : -1;
    unnamed = fd >= 0;
    if (fd < 0) {
        tempName = target + ".XXXXXX";
        fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    }
    return fd;
}

// Gives the unnamed file a name beside the target, for the rename.
bool NameUnnamed(int fd, const QByteArray& target, QByteArray& tempName)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, tempName.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    tempName.clear();  // no name of ours to remove
    return false;
}

Outcome Replace(const QString& path, const Fill& fill)
{
    const QString shown = ShownPath(path);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const bool exists = !canonical.isEmpty();
    const QByteArray target =
        QFile::encodeName(exists ? canonical : QFileInfo(path).absoluteFilePath());
    QByteArray tempName;
    bool unnamed = false;
    const int fd = OpenBeside(target, tempName, unnamed);
    if (fd < 0)
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be replaced: %2.")
                                    .arg(shown, SystemCause(errno)));
    if (exists) {
        KeepOwnership(target, fd);
    } else if (!unnamed) {
        // mkostemp makes 0600; a new state gets what the umask allows, as any new file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        (void)::fchmod(fd, 0666 & ~mask);
    }
    bool done = fill(fd) && ::fdatasync(fd) == 0;
    if (done && unnamed)
        done = NameUnnamed(fd, target, tempName);
    if (done)
        done = ::rename(tempName.constData(), target.constData()) == 0;
    const int error = errno;
    if (!done && !tempName.isEmpty())
        ::unlink(tempName.constData());
    ::close(fd);
    if (done)
        return Outcome::Success();
    if (error == ENOSPC || error == EDQUOT)
        return Outcome::Failure(ErrorKind::DiskFull,
                                QStringLiteral("The state file %1 could not be replaced: the disk "
                                               "is full. It was left as it was.")
                                    .arg(shown));
    return Outcome::Failure(ErrorKind::Io,
                            QStringLiteral("The state file %1 could not be replaced: %2. It was "
                                           "left as it was.")
                                .arg(shown, SystemCause(error)));
}

}  // namespace

Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes)
{
    return Replace(path, [&](int fd) {
        return protocol::WriteAll(fd, bytes.constData(), std::size_t(bytes.size()));
    });
}

Outcome ReplaceFileFrom(const QString& path, int source, qint64 size)
{
    return Replace(path, [&](int fd) { return CopyRange(source, fd, size); });
}

}  // namespace Process
