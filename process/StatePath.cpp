#include "StatePath.h"

#include "StagingNames.h"
#include "StagingProtocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace Process {
QString ShownPath(const QString& path)
{
    QString shown;
    shown.reserve(path.size());
    for (QChar c : QDir::toNativeSeparators(path)) {
        if (c == QLatin1Char('\n'))
            shown += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString SystemCause(int error)
{
    switch (error) {
    case ENAMETOOLONG: return QStringLiteral("the path is too long");
    case EACCES:
    case EPERM: return QStringLiteral("permission denied");
    case ENOSPC: return QStringLiteral("the disk is full");
    case EROFS: return QStringLiteral("the file system is read-only");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

Outcome CheckStatePath(const QString& statePath, const QString& programFolder)
{
    const QString shown = ShownPath(statePath);
    // A name that is not valid UTF-8 was read with replacement characters: opening it would
    // reach no file, or another file whose name happens to hold those characters.
    if (statePath.contains(QChar::ReplacementCharacter))
        return Outcome::Failure(ErrorKind::NotFound,
                                QStringLiteral("The name of the state file %1 is not valid text "
                                               "(UTF-8), so it cannot be opened exactly; rename "
                                               "the file and try again.")
                                    .arg(shown));
    const QByteArray encoded = QFile::encodeName(statePath);
    struct stat state {
    };
    if (::stat(encoded.constData(), &state) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return Outcome::Failure(ErrorKind::NotFound,
                                    QStringLiteral("The state file %1 does not exist.").arg(shown));
        if (error == EACCES)
            return Outcome::Failure(ErrorKind::PermissionDenied,
                                    QStringLiteral("The state file %1 cannot be reached: a folder "
                                                   "on its path may not be searched (permission "
                                                   "denied).")
                                        .arg(shown));
        return Outcome::Failure(ErrorKind::NotFound,
                                QStringLiteral("The state file %1 cannot be reached: %2.")
                                    .arg(shown, SystemCause(error)));
    }
    if (S_ISDIR(state.st_mode))
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is a folder, not a state file.").arg(shown));
    if (!S_ISREG(state.st_mode))
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a plain file (a pipe or a device, say), "
                                               "so it is no state file.")
                                    .arg(shown));
    if (::access(encoded.constData(), R_OK) != 0)
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be read: permission "
                                               "denied.")
                                    .arg(shown));

    const QDir folder(programFolder);
    const QStringList names{kWorkingCopyName, kPartialWorkingCopyName, kCompletionFlagName,
                            kFolderLockName, QFileInfo(DecompressorPath(programFolder)).fileName()};
    for (const QString& name : names) {
        // The same file by any name: a link, a hard link or the path itself.
        struct stat other {
        };
        if (::stat(QFile::encodeName(folder.filePath(name)).constData(), &other) == 0 &&
            other.st_dev == state.st_dev && other.st_ino == state.st_ino)
            return Outcome::Failure(ErrorKind::NotAState,
                                    QStringLiteral("%1 is the editor's own file %2 in %3, which a "
                                                   "load or save replaces; copy it elsewhere "
                                                   "under another name to open it.")
                                        .arg(shown, name, ShownPath(programFolder)));
    }
    return Outcome::Success();
}

}  // namespace Process
