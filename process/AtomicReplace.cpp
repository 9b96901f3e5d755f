#include "AtomicReplace.h"

#include "StatePath.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <cstring>
#include <vector>

#include <climits>

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
    struct stat old {};
    if (::stat(from.constData(), &old) != 0)
        return;
    if (::fchown(to, old.st_uid, old.st_gid) != 0)
        (void)::fchown(to, uid_t(-1), old.st_gid);  // a user may still keep a group of theirs
    (void)::fchmod(to, old.st_mode & 07777);
    CopyExtendedAttributes(from, to);
}

// QSaveFile names its new file after the target plus a dot and six characters.
constexpr qsizetype kTemporarySuffix = 7;

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

Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes)
{
    const QString shown = ShownPath(path);
    QSaveFile file(path);  // follows a symbolic link and keeps the file's permissions
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be replaced: %2")
                                    .arg(shown, file.errorString()));
    KeepOwnership(QFile::encodeName(QFileInfo(path).canonicalFilePath()), file.handle());
    const bool written = file.write(bytes) == bytes.size();
    if (written && file.commit())
        return Outcome::Success();

    const QString cause = file.errorString();
    file.cancelWriting();
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (storage.isValid() && storage.bytesAvailable() < bytes.size())
        return Outcome::Failure(ErrorKind::DiskFull,
                                QStringLiteral("The state file %1 could not be replaced: the disk "
                                               "is full. It was left as it was.")
                                    .arg(shown));
    return Outcome::Failure(ErrorKind::Io,
                            QStringLiteral("The state file %1 could not be replaced: %2. It was "
                                           "left as it was.")
                                .arg(shown, cause));
}

}  // namespace Process
