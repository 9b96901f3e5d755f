#include "OwnFolder.h"

#include "StatePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Process {
namespace {

// Folders that do not do: the reason is the message, a phrase to set inside a sentence.
Outcome NotOwn(const QString& reason)
{
    return Outcome::Failure(ErrorKind::Untrusted, reason);
}

Outcome CheckOwn(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return NotOwn(QStringLiteral("it is a symbolic link"));
    if (!S_ISDIR(st.st_mode))
        return NotOwn(QStringLiteral("it is not a folder"));
    if (st.st_uid != ::geteuid())
        return NotOwn(QStringLiteral("it belongs to another user"));
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return NotOwn(QStringLiteral("other users can write it"));
    return Outcome::Success();
}

// Why another user could put some other folder in this one's place: a folder above it that
// they own, or may write without the sticky bit (which keeps others' entries theirs alone). Root
// and this user may own the folders above it.
Outcome CheckSafeAbove(const QString& path)
{
    QString above = QFileInfo(QDir::cleanPath(QDir(path).absolutePath())).absolutePath();
    const QString canonical = QFileInfo(above).canonicalFilePath();
    if (!canonical.isEmpty())
        above = canonical;
    for (;;) {
        struct stat st {
        };
        if (::stat(QFile::encodeName(above).constData(), &st) != 0)
            return NotOwn(
                QStringLiteral("the folder %1 above it cannot be looked at").arg(ShownPath(above)));
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return NotOwn(QStringLiteral("the folder %1 above it belongs to another user")
                              .arg(ShownPath(above)));
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
            return NotOwn(QStringLiteral("other users can write the folder %1 above it")
                              .arg(ShownPath(above)));
        const QString next = QFileInfo(above).absolutePath();
        if (next == above)
            return Outcome::Success();
        above = next;
    }
}

// Narrows a folder of the user's own that others may read to the user alone.
void Tighten(int fd, struct stat& st)
{
    if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && !(st.st_mode & (S_IWGRP | S_IWOTH)) &&
        (st.st_mode & 077) && ::fchmod(fd, 0700) == 0)
        (void)::fstat(fd, &st);
}

Outcome Untrusted(const QString& path, const Outcome& why)
{
    return Outcome::Failure(ErrorKind::Untrusted,
                            QStringLiteral("The folder %1 is not yours alone (%2), so the editor "
                                           "keeps nothing there and takes nothing from it.")
                                .arg(ShownPath(path), why.message()));
}

Result<UniqueFd> OpenAt(int parent, const QString& path, const QByteArray& name, bool create)
{
    if (create && ::mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST)
        return Outcome::Failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The folder %1 cannot be created: %2.")
                                    .arg(ShownPath(path), SystemCause(errno)));
    UniqueFd fd(
        ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        if (error == ENOENT)
            return Outcome::Failure(
                ErrorKind::NotFound,
                QStringLiteral("The folder %1 does not exist.").arg(ShownPath(path)));
        struct stat st {
        };
        if (::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            if (Outcome own = CheckOwn(st); !own)
                return Untrusted(path, own);
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The folder %1 cannot be opened: %2.")
                                    .arg(ShownPath(path), SystemCause(error)));
    }
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0)
        return Untrusted(path, NotOwn(SystemCause(errno)));
    if (create)
        Tighten(fd.get(), st);
    if (Outcome own = CheckOwn(st); !own)
        return Untrusted(path, own);
    return fd;
}

}  // namespace

QList<QByteArray> EntryNames(int folderFd)
{
    QList<QByteArray> names;
    // The listing needs a descriptor of its own, which closedir closes.
    const int listing = ::dup(folderFd);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

void UniqueFd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Outcome CheckOwnFolder(const QString& path, bool tighten)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {
    };
    if (::lstat(encoded.constData(), &st) != 0)
        return NotOwn(SystemCause(errno));
    if (tighten && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        !(st.st_mode & (S_IWGRP | S_IWOTH)) && (st.st_mode & 077)) {
        (void)::chmod(encoded.constData(), 0700);
        (void)::lstat(encoded.constData(), &st);
    }
    if (Outcome own = CheckOwn(st); !own)
        return own;
    return CheckSafeAbove(path);
}

Result<UniqueFd> OpenOwnFolder(const QString& path, bool create)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const QFileInfo info(clean);
    if (create && !QDir().mkpath(info.absolutePath()))
        return Outcome::Failure(
            ErrorKind::FolderNotWritable,
            QStringLiteral("The folder %1 cannot be created.").arg(ShownPath(info.absolutePath())));
    if (Outcome safe = CheckSafeAbove(clean); !safe)
        return Untrusted(clean, safe);
    UniqueFd parent(::open(QFile::encodeName(info.absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid())
        return Outcome::Failure(errno == ENOENT ? ErrorKind::NotFound : ErrorKind::PermissionDenied,
                                QStringLiteral("The folder %1 cannot be opened: %2.")
                                    .arg(ShownPath(info.absolutePath()), SystemCause(errno)));
    return OpenAt(parent.get(), clean, QFile::encodeName(info.fileName()), create);
}

Result<UniqueFd> OpenOwnSubfolder(const UniqueFd& parent, const QString& parentPath,
                                  const QString& name, bool create)
{
    return OpenAt(parent.get(), QDir(parentPath).filePath(name), QFile::encodeName(name), create);
}

}  // namespace Process
