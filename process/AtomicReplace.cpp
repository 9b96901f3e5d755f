#include "AtomicReplace.h"

#include "FileIo.h"
#include "OwnFolder.h"
#include "StatePath.h"

#include <QCryptographicHash>
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

// A temporary name holds a dot, at most this many bytes of the file's name, a tag of ours and
// seven characters: always within the system's 255 bytes.
constexpr qsizetype kNameStartKept = 200;
// What a temporary name adds to the folder's path at most.
constexpr qsizetype kTemporaryNameMax = 1 + kNameStartKept + 16 + 7 + 1;
// The tag holds a digest of the whole name, so that the temporary files of two states whose long
// names start alike never pass for each other's.
QByteArray TemporaryTag(const QByteArray& fileName)
{
    return ".cindral-" +
           QCryptographicHash::hash(fileName, QCryptographicHash::Sha1).toHex().left(8) + '-';
}

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
    const QString folder = QFileInfo(target.isEmpty() ? path : target).absolutePath();
    if (QFile::encodeName(folder).size() + kTemporaryNameMax >= PATH_MAX)
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 could not be replaced: its path "
                                               "is too long to write a new file beside it. Move "
                                               "it to a folder with a shorter path. It was left "
                                               "as it was.")
                                    .arg(shown));
    return Outcome::Success();
}

QByteArray TemporaryName(const QByteArray& fileName, const QByteArray& tag,
                         const QByteArray& suffix)
{
    qsizetype kept = std::min(fileName.size(), kNameStartKept);
    // Cut between characters, not inside one.
    while (kept > 0 && kept < fileName.size() && (uchar(fileName[kept]) & 0xC0) == 0x80)
        --kept;
    return '.' + fileName.left(kept) + tag + suffix;
}

std::optional<FileStamp> StampOfOpenFile(int fd)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), qint64(st.st_size),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<FileStamp> StampOfPath(const QString& path)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), qint64(st.st_size),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<QByteArray> ReadWholeFile(int fd)
{
    const std::optional<FileStamp> stamp = StampOfOpenFile(fd);
    if (!stamp)
        return std::nullopt;
    QByteArray bytes(stamp->size, Qt::Uninitialized);
    if (!protocol::ReadAt(fd, 0, bytes.data(), std::size_t(bytes.size())))
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> bytes = ReadWholeFile(fd);
    ::close(fd);
    return bytes;
}

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

Outcome CopyStable(int from, int to)
{
    const std::optional<FileStamp> before = StampOfOpenFile(from);
    if (!before || !CopyRange(from, to, before->size))
        return Outcome::Failure(ErrorKind::Io, SystemCause(errno));
    if (StampOfOpenFile(from) != before)
        return Outcome::Failure(
            ErrorKind::ChangedByAnotherProgram,
            QStringLiteral("another program wrote the file while it was copied"));
    return Outcome::Success();
}

namespace {

bool LinkUnnamed(int fd, int folderFd, const QByteArray& name)
{
    // Through /proc where it is mounted; else by the descriptor itself, which the kernel allows
    // a process that may read any file (root).
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), folderFd, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    return ::linkat(fd, "", folderFd, name.constData(), AT_EMPTY_PATH) == 0;
}

QByteArray RandomSuffix()
{
    QByteArray suffix = QByteArray::number(QRandomGenerator::global()->generate() & 0x7FFFFFFF, 36);
    return suffix.rightJustified(6, '0');
}

// Removes temporary files of ours that a killed run left beside the file (only where no
// unnamed file could be given a name, so a named one had to be written).
void RemoveLeftovers(int folderFd, const QByteArray& fileName)
{
    const QByteArray prefix = TemporaryName(fileName, TemporaryTag(fileName), {});
    for (const QByteArray& name : EntryNames(folderFd)) {
        struct stat st {
        };
        if (name.startsWith(prefix) && name.size() == prefix.size() + 6 &&
            ::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(folderFd, name.constData(), 0);
    }
}

// The new contents, written and on the disk, under a temporary name beside the target; the
// name is given only at the end where the system allows, so that a kill before it leaves
// nothing behind.
class NewFile
{
public:
    ~NewFile()
    {
        if (!m_name.isEmpty())
            ::unlinkat(m_folderFd, m_name.constData(), 0);
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_folderFd >= 0)
            ::close(m_folderFd);
    }

    // False with errno set.
    // `prepare` gives a new file the mode and owner it is to have.
    bool open(const QByteArray& folder, const QByteArray& fileName,
              std::function<void(int)> prepare)
    {
        m_fileName = fileName;
        m_prepare = std::move(prepare);
        m_folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_folderFd < 0)
            return false;
        m_fd = ::openat(m_folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (m_fd < 0 && !openNamed())
            return false;
        m_prepare(m_fd);
        return true;
    }
    int fd() const { return m_fd; }
    bool named() const { return !m_name.isEmpty(); }

    // Gives the file its temporary name, once it is complete and on the disk.
    bool name()
    {
        if (named())
            return true;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name =
                TemporaryName(m_fileName, TemporaryTag(m_fileName), RandomSuffix());
            if (LinkUnnamed(m_fd, m_folderFd, name)) {
                m_name = name;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        // No way to name it here (no /proc and no privilege): copy it into a named file.
        const int unnamed = m_fd;
        m_fd = -1;
        const bool copied = openNamed() && (m_prepare(m_fd), true) &&
                            CopyRange(unnamed, m_fd, Size(unnamed)) && ::fdatasync(m_fd) == 0;
        const int error = errno;
        ::close(unnamed);
        errno = error;
        return copied;
    }

    // Renames the named file over `target`; the name is then the target's.
    bool renameOver(const QByteArray& target)
    {
        if (::renameat(m_folderFd, m_name.constData(), AT_FDCWD, target.constData()) != 0)
            return false;
        m_name.clear();
        return true;
    }

private:
    static qint64 Size(int fd)
    {
        struct stat st {
        };
        return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : 0;
    }

    bool openNamed()
    {
        RemoveLeftovers(m_folderFd, m_fileName);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name =
                TemporaryName(m_fileName, TemporaryTag(m_fileName), RandomSuffix());
            m_fd = ::openat(m_folderFd, name.constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (m_fd >= 0) {
                m_name = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int m_folderFd = -1;
    int m_fd = -1;
    QByteArray m_fileName;
    std::function<void(int)> m_prepare;
    QByteArray m_name;  // while the file has a temporary name of ours
};

}  // namespace

Result<FileStamp> ReplaceFile(const QString& path, const Fill& fill, const LastCheck& lastCheck,
                              const QString& noun)
{
    const QString shown = ShownPath(path);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const bool exists = !canonical.isEmpty();
    const QFileInfo targetInfo(exists ? canonical : QFileInfo(path).absoluteFilePath());
    const QByteArray target = QFile::encodeName(targetInfo.absoluteFilePath());
    auto prepare = [&](int fd) {
        if (exists) {
            KeepOwnership(target, fd);
        } else {
            // A new state gets what the umask allows, as any new file.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            (void)::fchmod(fd, 0666 & ~mask);
        }
    };
    NewFile file;
    if (!file.open(QFile::encodeName(targetInfo.absolutePath()),
                   QFile::encodeName(targetInfo.fileName()), prepare))
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The %1 %2 cannot be replaced: %3.")
                                    .arg(noun, shown, SystemCause(errno)));
    bool done = fill(file.fd()) && ::fdatasync(file.fd()) == 0 && file.name();
    int error = errno;
    if (done && lastCheck) {
        if (Outcome checked = lastCheck(); !checked)
            return checked;
    }
    std::optional<FileStamp> stamp;
    if (done) {
        stamp = StampOfOpenFile(file.fd());
        done = file.renameOver(target);
        error = errno;
    }
    if (done && stamp)
        return *stamp;
    if (error == ENOSPC || error == EDQUOT)
        return Outcome::Failure(ErrorKind::DiskFull,
                                QStringLiteral("The %1 %2 could not be replaced: the disk is full. "
                                               "It was left as it was.")
                                    .arg(noun, shown));
    return Outcome::Failure(ErrorKind::Io,
                            QStringLiteral("The %1 %2 could not be replaced: %3. It was left as "
                                           "it was.")
                                .arg(noun, shown, SystemCause(error)));
}

Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes)
{
    const Result<FileStamp> replaced = ReplaceFile(path, [&](int fd) {
        return protocol::WriteAll(fd, bytes.constData(), std::size_t(bytes.size()));
    });
    return replaced ? Outcome::Success() : replaced.failure();
}

}  // namespace Process
