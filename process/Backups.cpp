#include "Backups.h"

#include "FileIo.h"
#include "StatePath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Process {
namespace {

// A backup's name: its sequence number in the group, the time it was taken (UTC), and the state
// file's own name, so that a backup can be opened as a state as it is. The sequence orders the
// backups; the clock may have been set back.
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");
const QRegularExpression kBackupName(QStringLiteral("^(\\d+)-(\\d{8}-\\d{6}-\\d{3})-"));
// Backups kept before sequence numbers: ordered by their time stamps, older than any numbered.
const QRegularExpression kUnnumberedName(QStringLiteral("^(\\d{8}-\\d{6}-\\d{3})(\\.\\d+)?-"));
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
    const QDateTime time(QDate::fromString(stamp.left(8), QStringLiteral("yyyyMMdd")),
                         QTime::fromString(stamp.mid(9), QStringLiteral("HHmmss-zzz")), Qt::UTC);
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
QList<Entry> Entries(int groupFd, bool withTimes)
{
    QList<Entry> entries;
    for (const QByteArray& found : EntryNames(groupFd)) {
        Entry entry;
        entry.name = QFile::decodeName(found);
        if (const auto numbered = kBackupName.match(entry.name); numbered.hasMatch()) {
            entry.sequence = numbered.captured(1).toLongLong();
            if (withTimes)
                entry.time = StampTime(numbered.captured(2));
        } else if (const auto old = kUnnumberedName.match(entry.name); old.hasMatch()) {
            if (withTimes)
                entry.time = StampTime(old.captured(1));
        } else {
            continue;
        }
        struct stat st {
        };
        if (::fstatat(groupFd, found.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entry.trusted = S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
        entry.stamp =
            FileStamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), qint64(st.st_size),
                      qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.sequence != b.sequence ? a.sequence > b.sequence : a.name > b.name;
    });
    return entries;
}

void RemovePending(int groupFd)
{
    for (const QByteArray& name : EntryNames(groupFd))
        if (name.startsWith(kPendingPrefix))
            ::unlinkat(groupFd, name.constData(), 0);
}

// Renames within the group folder, never over an existing name. Where the file system has no
// such rename (network and user-space file systems), a look first does as well: the state's lock
// keeps every other program out of this group.
bool Rename(int groupFd, const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(groupFd, from.constData(), groupFd, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    struct stat st {
    };
    if (::fstatat(groupFd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(groupFd, from.constData(), groupFd, to.constData()) == 0;
}

QByteArray PendingName()
{
    return kPendingPrefix +
           QByteArray::number(QRandomGenerator::global()->generate() & 0x7FFFFFFF, 36);
}

// A copy of the open file, made while nobody writes it, under `name` in the group folder. The
// copy keeps the state's permission bits (the folder is the user's alone anyway).
Outcome CopyInto(int groupFd, const QByteArray& name, int stateFd, const QString& failedHow)
{
    struct stat st {
    };
    ::fstat(stateFd, &st);
    UniqueFd out(::openat(groupFd, name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    Outcome copied = Outcome::Failure(ErrorKind::Io, SystemCause(errno));
    if (out.valid() && ::fchmod(out.get(), st.st_mode & 0666) != 0)
        copied = Outcome::Failure(ErrorKind::Io, SystemCause(errno));
    else if (out.valid())
        copied = CopyStable(stateFd, out.get());
    if (copied && ::fdatasync(out.get()) != 0)
        copied = Outcome::Failure(ErrorKind::Io, SystemCause(errno));
    if (copied)
        return copied;
    if (out.valid())
        ::unlinkat(groupFd, name.constData(), 0);
    return Outcome::Failure(copied.kind() == ErrorKind::ChangedByAnotherProgram
                                ? ErrorKind::ChangedByAnotherProgram
                                : ErrorKind::BackupFailed,
                            failedHow.arg(copied.message()));
}

}  // namespace

QString DefaultBackupFolder()
{
    // The XDG rules: a relative path in the variable is to be ignored.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::home().filePath(QStringLiteral(".local/share"));
    return QDir(data).filePath(QStringLiteral("cindral-editor/backups"));
}

QString BackupGroupFolder(const QString& backupFolder, const QString& statePath)
{
    return QDir(backupFolder).filePath(GroupName(ResolvedStatePath(statePath)));
}

Result<PendingBackup> PendingBackup::Take(const QString& backupFolder, const QString& statePath,
                                          int stateFd)
{
    const QString resolved = ResolvedStatePath(statePath);
    const QString groupPath = QDir(backupFolder).filePath(GroupName(resolved));
    const QString failedHow =
        QStringLiteral("No backup of the state file %1 could be kept in %2 "
                       "(%3), so the file was left as it was.")
            .arg(ShownPath(statePath), ShownPath(groupPath), QStringLiteral("%1"));
    Result<UniqueFd> root = OpenOwnFolder(backupFolder, true);
    if (!root)
        return Outcome::Failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept, so "
                                               "the file was left as it was: %2")
                                    .arg(ShownPath(statePath), root.failure().message()));
    Result<UniqueFd> group =
        OpenOwnSubfolder(root.value(), backupFolder, GroupName(resolved), true);
    if (!group)
        return Outcome::Failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept, so "
                                               "the file was left as it was: %2")
                                    .arg(ShownPath(statePath), group.failure().message()));
    // Left by a program killed while it took one; the state lock we hold says no other is
    // taking one now.
    RemovePending(group.value().get());

    PendingBackup backup;
    backup.m_group = std::move(group.value());
    backup.m_groupPath = groupPath;
    backup.m_stateName = QFileInfo(resolved).fileName();
    backup.m_stateFd = stateFd;
    backup.m_pending = PendingName();
    struct stat st {
    };
    // A backup linked to a file of another user's would be that user's file: copied instead.
    if (::fstat(stateFd, &st) == 0 && st.st_nlink == 1 && st.st_uid == ::geteuid()) {
        // The only name of the file: once the replace renames the new file over it, the backup
        // is the old file's only name and nothing writes it.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(stateFd);
        const int groupFd = backup.m_group.get();
        backup.m_linked =
            ::linkat(AT_FDCWD, self.constData(), groupFd, backup.m_pending.constData(),
                     AT_SYMLINK_FOLLOW) == 0 ||
            ::linkat(stateFd, "", groupFd, backup.m_pending.constData(), AT_EMPTY_PATH) == 0;
    }
    if (!backup.m_linked) {
        if (Outcome copied = CopyInto(backup.m_group.get(), backup.m_pending, stateFd, failedHow);
            !copied) {
            backup.m_pending.clear();
            return copied;
        }
    }
    return backup;
}

void PendingBackup::drop()
{
    if (!m_pending.isEmpty() && m_group.valid())
        ::unlinkat(m_group.get(), m_pending.constData(), 0);
    m_pending.clear();
}

Result<QString> PendingBackup::keep()
{
    const int groupFd = m_group.get();
    struct stat st {
    };
    if (m_linked && ::fstat(m_stateFd, &st) == 0 && st.st_nlink != 1) {
        // The old file has another name too, which a program could still write through: keep a
        // copy of its own instead.
        const QByteArray copy = PendingName();
        if (Outcome copied =
                CopyInto(groupFd, copy, m_stateFd, QStringLiteral("No backup could be kept (%1)."));
            !copied) {
            drop();
            return copied;
        }
        drop();
        m_pending = copy;
        m_linked = false;
    }
    const QList<Entry> entries = Entries(groupFd, false);
    qint64 sequence = 1;
    for (const Entry& entry : entries)
        sequence = std::max(sequence, entry.sequence + 1);
    const QString stamp = QDateTime::currentDateTimeUtc().toString(kStampFormat);
    QString name;
    for (;; ++sequence) {
        name = QStringLiteral("%1-%2-%3")
                   .arg(sequence, 6, 10, QLatin1Char('0'))
                   .arg(stamp, NameForBackup(m_stateName));
        if (Rename(groupFd, m_pending, QFile::encodeName(name)))
            break;
        if (errno != EEXIST) {
            const QString cause = SystemCause(errno);
            drop();
            return Outcome::Failure(ErrorKind::BackupFailed,
                                    QStringLiteral("No backup could be kept in %1 (%2).")
                                        .arg(ShownPath(m_groupPath), cause));
        }
    }
    m_pending.clear();
    // The one just made is the newest; the newest before it stay beside it.
    qsizetype kept = 1;
    for (const Entry& entry : entries)
        if (entry.trusted && ++kept > kKeptBackups)
            ::unlinkat(groupFd, QFile::encodeName(entry.name).constData(), 0);
    return QDir(m_groupPath).filePath(name);
}

Result<QString> BackUpStateFile(const QString& backupFolder, const QString& statePath)
{
    const UniqueFd state(
        ::open(QFile::encodeName(statePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!state.valid())
        return Outcome::Failure(ErrorKind::NotFound,
                                QStringLiteral("The state file %1 cannot be opened: %2.")
                                    .arg(ShownPath(statePath), SystemCause(errno)));
    Result<PendingBackup> backup = PendingBackup::Take(backupFolder, statePath, state.get());
    if (!backup)
        return backup.failure();
    return backup.value().keep();
}

Result<QList<Backup>> ListBackups(const QString& backupFolder, const QString& statePath)
{
    QList<Backup> backups;  // none yet where a folder is missing
    Result<UniqueFd> root = OpenOwnFolder(backupFolder, false);
    if (!root && root.failure().kind() != ErrorKind::NotFound)
        return root.failure();
    const QString groupName = GroupName(ResolvedStatePath(statePath));
    Result<UniqueFd> group = Outcome::Failure(ErrorKind::NotFound, {});
    if (root)
        group = OpenOwnSubfolder(root.value(), backupFolder, groupName, false);
    if (!group && group.failure().kind() != ErrorKind::NotFound)
        return group.failure();
    if (!group)
        return backups;
    const QDir groupDir(QDir(backupFolder).filePath(groupName));
    for (const Entry& entry : Entries(group.value().get(), true)) {
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
    Result<UniqueFd> root = OpenOwnFolder(rootPath, false);
    if (!root)
        return root.failure();
    Result<UniqueFd> group =
        OpenOwnSubfolder(root.value(), rootPath, QFileInfo(groupPath).fileName(), false);
    if (!group)
        return group.failure();
    const QString shown = ShownPath(backup.path);
    const UniqueFd file(::openat(group.value().get(),
                                 QFile::encodeName(info.fileName()).constData(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid())
        return Outcome::Failure(
            ErrorKind::Io,
            QStringLiteral("The backup %1 cannot be opened: %2.").arg(shown, SystemCause(errno)));
    struct stat st {
    };
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return Outcome::Failure(ErrorKind::Untrusted,
                                QStringLiteral("The backup %1 is not a file of yours; it is not "
                                               "used.")
                                    .arg(shown));
    if (StampOfOpenFile(file.get()) != backup.stamp)
        return Outcome::Failure(ErrorKind::ChangedByAnotherProgram,
                                QStringLiteral("The backup %1 was changed while it was being "
                                               "restored; nothing was restored.")
                                    .arg(shown));
    const std::optional<QByteArray> bytes = ReadWholeFile(file.get());
    if (!bytes)
        return Outcome::Failure(
            ErrorKind::Io,
            QStringLiteral("The backup %1 cannot be read: %2.").arg(shown, SystemCause(errno)));
    if (StampOfOpenFile(file.get()) != backup.stamp)
        return Outcome::Failure(ErrorKind::ChangedByAnotherProgram,
                                QStringLiteral("The backup %1 was changed while it was being "
                                               "restored; nothing was restored.")
                                    .arg(shown));
    return *bytes;
}

}  // namespace Process
