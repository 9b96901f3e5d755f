#include "Backups.h"

#include "FileLock.h"
#include "StatePath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimeZone>

#include <algorithm>

namespace Process {
namespace {

// A backup's name: its sequence number in the group, the time it was taken (UTC), and the state
// file's own name, so that a backup can be opened as a state as it is. The sequence orders the
// backups; the clock may have been set back.
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
// A year past 9999 takes more digits.
const QRegularExpression kBackupName(QStringLiteral("^(\\d+)-(\\d{8,}-\\d{6}-\\d{3})-"));
// Backups kept before sequence numbers: ordered by their time stamps, older than any numbered.
const QRegularExpression kUnnumberedName(QStringLiteral("^(\\d{8,}-\\d{6}-\\d{3})(\\.\\d+)?-"));
// No state gets this many backups in any lifetime: a larger number was not made by a count of
// ours, and is taken as no number at all, so it can neither overflow the next one nor pass
// for the newest.
constexpr qint64 kSequenceLimit = 1000000000000;
// A backup while it is taken; one left over by a killed program is removed.
const QByteArray kPendingPrefix = ".pending-";
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

QString GroupName(const QString& resolved)
{
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(resolved), QCryptographicHash::Sha256).toHex();
    return NameForBackup(QFileInfo(resolved).fileName()) + QLatin1Char('-') +
           QString::fromLatin1(hash.left(16));
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

struct Entry {
    QString name;
    qint64 sequence = 0;
    QDateTime time;
    FileStamp stamp;
    bool trusted = false;  // a regular file of this user's
};

// The backups in an open group folder, newest first. Their times are read only for a listing
// (the local time zone is looked up for each).
QList<Entry> Entries(const platform::Folder& group, bool withTimes)
{
    QList<Entry> entries;
    for (const platform::Path& found : group.entryNames()) {
        Entry entry;
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
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.sequence != b.sequence ? a.sequence > b.sequence : a.name > b.name;
    });
    return entries;
}

// Left by runs killed while they took one; a pending backup of a run still under way is locked
// by it (a copy by its own handle, a linked one by the state's lock) and stays. A link to the
// state we hold locked ourselves can be no other live run's.
void RemovePending(platform::Folder& group, const platform::File& state)
{
    const std::optional<FileStamp> locked = state.stamp();
    for (const platform::Path& name : group.entryNames()) {
        if (!FromNative(name).startsWith(QLatin1String(kPendingPrefix)))
            continue;
        const platform::FileFacts facts = group.factsOf(name);
        const bool ourState = locked && !facts.error && facts.stamp.device == locked->device &&
                              facts.stamp.inode == locked->inode;
        if (ourState || !platform::HeldByARun(group, name))
            (void)group.remove(name);
    }
}

QByteArray PendingName()
{
    return kPendingPrefix +
           QByteArray::number(QRandomGenerator::global()->generate() & 0x7FFFFFFF, 36);
}

// A copy of the open file, made while nobody writes it, under `name` in the group folder, and
// locked by the returned handle while the run lives. The copy keeps the state's permission bits
// (the folder is the user's alone anyway).
Result<platform::File> CopyInto(platform::Folder& group, const QByteArray& name,
                                const platform::File& state, const QString& failedHow)
{
    platform::File out = platform::File::createIn(group, name.toStdString());
    Outcome copied = out.valid() ? Outcome::success()
                                 : Outcome::failure(ErrorKind::Io, SystemCause(out.error()));
    if (copied)
        (void)platform::LockOpenFile(out);
    if (copied) {
        if (std::error_code e = out.setPermissions(state.facts().permissions & 0666))
            copied = Outcome::failure(ErrorKind::Io, SystemCause(e));
    }
    if (copied)
        copied = CopyUnchanged(state, out);
    if (copied) {
        if (std::error_code e = out.syncData())
            copied = Outcome::failure(ErrorKind::Io, SystemCause(e));
    }
    if (copied)
        return out;
    if (out.valid())
        (void)group.remove(name.toStdString());
    return Outcome::failure(copied.kind() == ErrorKind::ChangedByAnotherProgram
                                ? ErrorKind::ChangedByAnotherProgram
                                : ErrorKind::BackupFailed,
                            failedHow.arg(copied.message()));
}

}  // namespace

QString DefaultBackupFolder()
{
    // The XDG rules: a relative path in the variable is to be ignored. On Windows the variable
    // still overrides (a portable setup, the tests); the user's local application data is the
    // place otherwise.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
#if defined(Q_OS_WIN)
        data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
        data = QDir::home().filePath(QStringLiteral(".local/share"));
#endif
    return QDir(data).filePath(QStringLiteral("cindral-editor/backups"));
}

QString BackupGroupFolder(const QString& backupFolder, const QString& statePath)
{
    return QDir(backupFolder).filePath(GroupName(ResolvedStatePath(statePath)));
}

Result<PendingBackup> PendingBackup::take(const QString& backupFolder, const QString& statePath,
                                          const platform::File& state, bool mayLink)
{
    const QString resolved = ResolvedStatePath(statePath);
    const QString groupPath = QDir(backupFolder).filePath(GroupName(resolved));
    const QString failedHow =
        QStringLiteral("No backup of the state file %1 could be kept in %2 "
                       "(%3), so the file was left as it was.")
            .arg(ShownPath(statePath), ShownPath(groupPath), QStringLiteral("%1"));
    Result<platform::Folder> root = OpenOwnFolder(backupFolder, true);
    if (!root)
        return Outcome::failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept, so "
                                               "the file was left as it was: %2")
                                    .arg(ShownPath(statePath), root.failure().message()));
    Result<platform::Folder> group =
        OpenOwnSubfolder(root.value(), backupFolder, GroupName(resolved), true);
    if (!group)
        return Outcome::failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept, so "
                                               "the file was left as it was: %2")
                                    .arg(ShownPath(statePath), group.failure().message()));
    RemovePending(group.value(), state);

    PendingBackup backup;
    backup.m_group = std::move(group.value());
    backup.m_groupPath = groupPath;
    backup.m_stateName = QFileInfo(resolved).fileName();
    backup.m_state = &state;
    backup.m_pending = PendingName();
    backup.m_failedHow = failedHow;
    // A backup linked to a file of another user's would be that user's file: copied instead.
    const platform::FileFacts facts = state.facts();
    if (mayLink && !facts.error && facts.links == 1 && facts.ownedByMe) {
        // The only name of the file: once the replace renames the new file over it, the backup
        // is the old file's only name and nothing writes it.
        backup.m_linked = !backup.m_group.link(state, backup.m_pending.toStdString());
    }
    if (!backup.m_linked) {
        Result<platform::File> copy = CopyInto(backup.m_group, backup.m_pending, state, failedHow);
        if (!copy) {
            backup.m_pending.clear();
            return copy.failure();
        }
        backup.m_copy = std::move(copy.value());
    }
    return backup;
}

void PendingBackup::drop()
{
    if (m_group.valid()) {
        if (!m_pending.isEmpty())
            (void)m_group.remove(m_pending.toStdString());
        if (!m_named.isEmpty())
            (void)m_group.remove(ToNative(m_named));
    }
    m_pending.clear();
    m_named.clear();
    m_older.clear();
    (void)m_copy.close();
}

Result<QString> PendingBackup::name()
{
    // Linked, the old file has the state's name and the backup's, and no third one through
    // which a program could write it after the replace: else a copy of its own is kept.
    if (m_linked && m_state->facts().links != 2) {
        const QByteArray copy = PendingName();
        Result<platform::File> copied = CopyInto(m_group, copy, *m_state, m_failedHow);
        if (!copied) {
            drop();
            return copied.failure();
        }
        drop();
        m_pending = copy;
        m_copy = std::move(copied.value());
        m_linked = false;
    }
    const QList<Entry> entries = Entries(m_group, false);
    qint64 sequence = 1;
    m_older.clear();
    for (const Entry& entry : entries) {
        sequence = std::max(sequence, entry.sequence + 1);
        if (entry.trusted)
            m_older.append(entry.name);
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(kStampFormat);
    QString name;
    for (;; ++sequence) {
        name = QStringLiteral("%1-%2-%3")
                   .arg(sequence, 6, 10, QLatin1Char('0'))
                   .arg(stamp, NameForBackup(m_stateName));
        const std::error_code renamed = m_group.rename(m_pending.toStdString(), ToNative(name));
        if (!renamed)
            break;
        if (renamed != std::errc::file_exists) {
            const QString cause = SystemCause(renamed);
            drop();
            return Outcome::failure(ErrorKind::BackupFailed, m_failedHow.arg(cause));
        }
    }
    m_pending.clear();
    m_named = name;
    return QDir(m_groupPath).filePath(name);
}

void PendingBackup::keep()
{
    // The one just named is the newest; the newest before it stay beside it.
    for (qsizetype i = kKeptBackups - 1; i < m_older.size(); ++i)
        (void)m_group.remove(ToNative(m_older[i]));
    m_named.clear();
    m_older.clear();
    (void)m_copy.close();
}

Result<QList<Backup>> ListBackups(const QString& backupFolder, const QString& statePath)
{
    QList<Backup> backups;  // none yet where a folder is missing
    Result<platform::Folder> root = OpenOwnFolder(backupFolder, false);
    if (!root && root.failure().kind() != ErrorKind::NotFound)
        return root.failure();
    const QString groupName = GroupName(ResolvedStatePath(statePath));
    Result<platform::Folder> group = Outcome::failure(ErrorKind::NotFound, {});
    if (root)
        group = OpenOwnSubfolder(root.value(), backupFolder, groupName, false);
    if (!group && group.failure().kind() != ErrorKind::NotFound)
        return group.failure();
    if (!group)
        return backups;
    const QDir groupDir(QDir(backupFolder).filePath(groupName));
    for (const Entry& entry : Entries(group.value(), true)) {
        if (!entry.trusted)
            continue;
        Backup backup;
        backup.number = int(backups.size()) + 1;
        backup.sequence = entry.sequence;
        backup.time = entry.time;
        backup.size = entry.stamp.size;
        backup.path = groupDir.filePath(entry.name);
        backup.stamp = entry.stamp;
        backups.append(backup);
    }
    return backups;
}

Result<QByteArray> ReadBackup(const Backup& backup)
{
    const QFileInfo info(backup.path);
    const QString groupPath = info.absolutePath();
    const QString rootPath = QFileInfo(groupPath).absolutePath();
    Result<platform::Folder> root = OpenOwnFolder(rootPath, false);
    if (!root)
        return root.failure();
    Result<platform::Folder> group =
        OpenOwnSubfolder(root.value(), rootPath, QFileInfo(groupPath).fileName(), false);
    if (!group)
        return group.failure();
    const QString shown = ShownPath(backup.path);
    const platform::File file = platform::File::openIn(
        group.value(), ToNative(info.fileName()).string(), platform::Access::Read);
    if (!file.valid())
        return Outcome::failure(ErrorKind::Io, QStringLiteral("The backup %1 cannot be opened: %2.")
                                                   .arg(shown, SystemCause(file.error())));
    const platform::FileFacts facts = file.facts();
    if (facts.kind != platform::FileKind::Regular || !facts.ownedByMe)
        return Outcome::failure(ErrorKind::Untrusted,
                                QStringLiteral("The backup %1 is not a file of yours; it is not "
                                               "used.")
                                    .arg(shown));
    const Outcome changed = Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                                             QStringLiteral("The backup %1 was changed while it "
                                                            "was being restored; nothing was "
                                                            "restored.")
                                                 .arg(shown));
    if (facts.stamp != backup.stamp)
        return changed;
    const std::optional<QByteArray> bytes = ReadWholeFile(file);
    if (!bytes)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The backup %1 cannot be read.").arg(shown));
    if (file.stamp() != backup.stamp)
        return changed;
    return *bytes;
}

}  // namespace Process
