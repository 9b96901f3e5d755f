#include "BackupNames.h"

#include "StatePath.h"
#include "UserFolders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace Process {
namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
// A year past 9999 takes more digits.
const QRegularExpression kBackupName(QStringLiteral("^(\\d+)-(\\d{8,}-\\d{6}-\\d{3})-"));
// Backups kept before sequence numbers: ordered by their time stamps, older than any numbered.
const QRegularExpression kUnnumberedName(QStringLiteral("^(\\d{8,}-\\d{6}-\\d{3})(\\.\\d+)?-"));
// No state gets this many backups in any lifetime: a larger number was not made by a count of
// ours, and is taken as no number at all, so it can neither overflow the next one nor pass
// for the newest.
constexpr qint64 kSequenceLimit = 1000000000000;

// The part of a state's name kept in the names of its group and its backups: the end, which
// tells states apart (slot number, extension), at most 60 characters as ever (so earlier
// backups stay where they were) and at most 200 bytes, cut between characters, so that every
// name stays within the 255 bytes a name may have.
QString NameForBackup(const QString& stateName)
{
    constexpr qsizetype kCharactersKept = 60;
    constexpr qsizetype kBytesKept = 200;
    const QString tail =
        stateName.size() > kCharactersKept ? stateName.right(kCharactersKept) : stateName;
    const QByteArray encoded = QFile::encodeName(tail);
    if (encoded.size() <= kBytesKept)
        return tail;
    qsizetype start = encoded.size() - kBytesKept;
    while (start < encoded.size() && (uchar(encoded[start]) & 0xC0) == 0x80)
        ++start;
    return QFile::decodeName(encoded.mid(start));
}

QDateTime StampTime(const QString& stamp)
{
    // Read as the UTC it was written in (as local time, a stamp in a daylight-saving gap would
    // not exist).
    const qsizetype dateLength = stamp.indexOf(QLatin1Char('-'));
    const QDate date(stamp.left(dateLength - 4).toInt(), stamp.mid(dateLength - 4, 2).toInt(),
                     stamp.mid(dateLength - 2, 2).toInt());
    const QDateTime time(date,
                         QTime::fromString(stamp.mid(dateLength + 1), QStringLiteral("HHmmss-zzz")),
                         QTimeZone::utc());
    return time.toLocalTime();
}

}  // namespace

QString ResolvedStatePath(const QString& statePath)
{
    // Spelled as the file system keeps it, so that names which reach one file on Windows
    // (GAME.000 and game.000) share one group.
    const QString resolved = ResolvedAsGiven(statePath);
    return QDir::fromNativeSeparators(FromNative(platform::SpelledAsStored(ToNative(resolved))));
}

QString ResolvedAsGiven(const QString& statePath)
{
    const QFileInfo info(statePath);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QDir(info.absolutePath()).canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

namespace {

QString GroupName(const QString& resolved, const QByteArray& hashed)
{
    const QByteArray hash = QCryptographicHash::hash(hashed, QCryptographicHash::Sha256).toHex();
    return NameForBackup(QFileInfo(resolved).fileName()) + QLatin1Char('-') +
           QString::fromLatin1(hash.left(16));
}

}  // namespace

QString BackupGroupName(const QString& resolved)
{
    // UTF-8 whatever the system: Windows' code page would make paths that differ only in the
    // characters it lacks one group.
    return GroupName(resolved, resolved.toUtf8());
}

QStringList EarlierBackupGroupNames(const QString& statePath)
{
    // Groups were named from the path as typed, and on Windows hashed in its code page.
    const QString stored = ResolvedStatePath(statePath);
    const QString primary = BackupGroupName(stored);
    QStringList names;
    for (const QString& resolved : {stored, ResolvedAsGiven(statePath)})
        for (const QByteArray& hashed : {resolved.toUtf8(), QFile::encodeName(resolved)}) {
            const QString name = GroupName(resolved, hashed);
            if (name != primary && !names.contains(name))
                names << name;
        }
    return names;
}

QString DefaultBackupFolder()
{
    return QDir(QDir::fromNativeSeparators(FromNative(platform::UserDataFolder())))
        .filePath(QStringLiteral("cindral-editor/backups"));
}

QString BackupGroupFolder(const QString& backupFolder, const QString& statePath)
{
    return QDir(backupFolder).filePath(BackupGroupName(ResolvedStatePath(statePath)));
}

QString NewBackupName(qint64 sequence, const QString& stateName)
{
    return QStringLiteral("%1-%2-%3")
        .arg(sequence, 6, 10, QLatin1Char('0'))
        .arg(QDateTime::currentDateTimeUtc().toString(kStampFormat), NameForBackup(stateName));
}

QList<BackupEntry> BackupEntries(const platform::Folder& group, bool withTimes)
{
    QList<BackupEntry> entries;
    for (const platform::Path& found : group.entryNames()) {
        BackupEntry entry;
        entry.name = FromNative(found);
        if (const auto numbered = kBackupName.match(entry.name); numbered.hasMatch()) {
            bool number = false;
            entry.sequence = numbered.captured(1).toLongLong(&number);
            if (!number || entry.sequence >= kSequenceLimit)
                entry.sequence = 0;
            if (withTimes)
                entry.time = StampTime(numbered.captured(2));
        } else if (const auto old = kUnnumberedName.match(entry.name); old.hasMatch()) {
            if (withTimes)
                entry.time = StampTime(old.captured(1));
        } else {
            continue;
        }
        const platform::FileFacts facts = group.factsOf(found);
        if (facts.error)
            continue;
        entry.trusted = facts.kind == platform::FileKind::Regular && facts.ownedByMe;
        entry.stamp = facts.stamp;
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const BackupEntry& a, const BackupEntry& b) {
        return a.sequence != b.sequence ? a.sequence > b.sequence : a.name > b.name;
    });
    return entries;
}

}  // namespace Process
