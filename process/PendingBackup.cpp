#include "PendingBackup.h"

#include "BackupNames.h"
#include "FileLock.h"
#include "FileReplace.h"
#include "OwnFolder.h"
#include "StatePath.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

namespace Process {
namespace {

// A backup while it is taken; one left over by a killed program is removed.
const QByteArray kPendingPrefix = ".pending-";

// Left by runs killed while they took one; a pending backup of a run still under way is locked
// by it (a copy by its own handle, a linked one by the state's lock) and stays. A link to the
// state we hold locked ourselves can be no other live run's.
void RemovePending(platform::Folder& group, const platform::File& state)
{
    const platform::Result<FileStamp> locked = state.stamp();
    for (const platform::Path& name : group.entryNames()) {
        if (!FromNative(name).startsWith(QLatin1String(kPendingPrefix)))
            continue;
        const platform::FileFacts facts = group.factsOf(name);
        const bool ourState = locked && !facts.error && facts.stamp.sameFile(*locked);
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

Result<PendingBackup> PendingBackup::take(const QString& backupFolder, const QString& statePath,
                                          const platform::File& state, bool mayLink)
{
    const QString groupName = BackupGroupName(statePath);
    const QString groupPath = QDir(backupFolder).filePath(groupName);
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
    Result<platform::Folder> group = OpenOwnSubfolder(root.value(), backupFolder, groupName, true);
    if (!group)
        return Outcome::failure(ErrorKind::BackupFailed,
                                QStringLiteral("No backup of the state file %1 could be kept, so "
                                               "the file was left as it was: %2")
                                    .arg(ShownPath(statePath), group.failure().message()));
    RemovePending(group.value(), state);

    PendingBackup backup;
    backup.m_group = std::move(group.value());
    backup.m_groupPath = groupPath;
    backup.m_stateName = QFileInfo(statePath).fileName();
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
    const QList<BackupEntry> entries = BackupEntries(m_group, false);
    qint64 sequence = 1;
    m_older.clear();
    for (const BackupEntry& entry : entries) {
        sequence = std::max(sequence, entry.sequence + 1);
        if (entry.trusted)
            m_older.append(entry.name);
    }
    QString name;
    for (;; ++sequence) {
        name = NewBackupName(sequence, m_stateName);
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

}  // namespace Process
