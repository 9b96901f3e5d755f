#include "Backups.h"

#include "StatePath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimeZone>

#include <cerrno>

#include <unistd.h>

namespace Process {
namespace {

// A backup's name: the time it was taken (UTC), a counter for two in one millisecond, the state
// file's own name, so that a backup can be opened as a state as it is.
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
const QRegularExpression kBackupName(QStringLiteral("^(\\d{8}-\\d{6}-\\d{3})(\\.\\d+)?-"));

// The state's full path with links resolved, so a link and its target share their backups.
QString ResolvedStatePath(const QString& statePath)
{
    const QFileInfo info(statePath);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QDir(info.absolutePath()).canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

// A file name may hold 255 bytes; the backup's adds 24 to the state's. The end is kept, as
// the part that tells states apart (slot number, extension).
QString NameForBackup(const QString& stateName)
{
    constexpr qsizetype kKept = 60;  // characters; 240 bytes even where each takes four
    return stateName.size() > kKept ? stateName.right(kKept) : stateName;
}

QStringList BackupNames(const QString& group)
{
    QStringList names =
        QDir(group).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::Reversed);
    names.removeIf([](const QString& name) { return !kBackupName.match(name).hasMatch(); });
    return names;
}

// Copies for a file system where a hard link cannot go (another disk, or links refused).
bool CopyWhole(const QString& from, const QString& to, QString& cause)
{
    QFile source(from);
    QFile target(to);
    if (!source.open(QIODevice::ReadOnly)) {
        cause = source.errorString();
        return false;
    }
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        cause = target.errorString();
        return false;
    }
    const QByteArray bytes = source.read(source.size());
    const bool written = bytes.size() == source.size() && target.write(bytes) == bytes.size() &&
                         target.flush() && ::fdatasync(target.handle()) == 0;
    if (!written) {
        const int error = errno;
        cause = error == ENOSPC ? SystemCause(error) : target.errorString();
        target.close();
        target.remove();
        return false;
    }
    return true;
}

}  // namespace

QString DefaultBackupFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data).filePath(QStringLiteral("cindral-editor/backups"));
}

namespace {

// The group folder of a state whose path is already resolved.
QString GroupOf(const QString& backupFolder, const QString& resolved)
{
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(resolved), QCryptographicHash::Sha256).toHex();
    return QDir(backupFolder)
        .filePath(NameForBackup(QFileInfo(resolved).fileName()) + QLatin1Char('-') +
                  QString::fromLatin1(hash.left(16)));
}

}  // namespace

QString BackupGroupFolder(const QString& backupFolder, const QString& statePath)
{
    return GroupOf(backupFolder, ResolvedStatePath(statePath));
}

Result<QString> BackUpStateFile(const QString& backupFolder, const QString& statePath)
{
    const QString source = ResolvedStatePath(statePath);  // a link and its target share backups
    const QString group = GroupOf(backupFolder, source);
    auto failed = [&](const QString& cause) {
        return Outcome::Failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept in "
                                               "%2 (%3), so the file was left as it was.")
                                    .arg(ShownPath(statePath), ShownPath(group), cause));
    };
    if (!QDir().mkpath(group) || !QFileInfo(group).isDir())
        return failed(QStringLiteral("the folder cannot be created"));

    const QString stamp = QDateTime::currentDateTimeUtc().toString(kStampFormat);
    const QString stateName = NameForBackup(QFileInfo(source).fileName());
    QString target;
    for (int n = 0;; ++n) {
        target = QDir(group).filePath(stamp + (n ? QStringLiteral(".%1").arg(n) : QString()) +
                                      QLatin1Char('-') + stateName);
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) ==
            0)
            break;
        if (errno == EEXIST)
            continue;  // two backups within one millisecond
        if (QFileInfo::exists(target))
            continue;
        QString cause;
        if (!CopyWhole(source, target, cause))
            return failed(cause);
        break;
    }

    // The newest by name go, but never the one just made (a clock set back would give it the
    // oldest name).
    QStringList names = BackupNames(group);
    names.removeOne(QFileInfo(target).fileName());
    for (qsizetype i = kKeptBackups - 1; i < names.size(); ++i)
        QFile::remove(QDir(group).filePath(names[i]));
    return target;
}

QList<Backup> ListBackups(const QString& backupFolder, const QString& statePath)
{
    const QString group = BackupGroupFolder(backupFolder, statePath);
    QList<Backup> backups;
    for (const QString& name : BackupNames(group)) {
        Backup backup;
        backup.number = int(backups.size()) + 1;
        backup.path = QDir(group).filePath(name);
        // Read as the UTC it was written in (as local time, a stamp in a daylight-saving gap
        // would not exist).
        const QString stamp = kBackupName.match(name).captured(1);
        const QDateTime time(QDate::fromString(stamp.left(8), QStringLiteral("yyyyMMdd")),
                             QTime::fromString(stamp.mid(9), QStringLiteral("HHmmss-zzz")),
                             Qt::UTC);
        backup.time = time.toLocalTime();
        backup.size = QFileInfo(backup.path).size();
        backups.append(backup);
    }
    return backups;
}

}  // namespace Process
