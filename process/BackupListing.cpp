#include "BackupListing.h"

#include "BackupNames.h"
#include "FileReplace.h"
#include "OwnFolder.h"
#include "StatePath.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace Process {

namespace {

// The trusted backups of one group folder, newest first; none where the group is missing.
Outcome AddGroup(const platform::Folder& root, const QString& backupFolder,
                 const QString& groupName, QList<Backup>& backups)
{
    Result<platform::Folder> group = OpenOwnSubfolder(root, backupFolder, groupName, false);
    if (!group)
        return group.failure().kind() == ErrorKind::NotFound ? Outcome::success()
                                                             : Outcome(group.failure());
    const QDir groupDir(QDir(backupFolder).filePath(groupName));
    for (const BackupEntry& entry : BackupEntries(group.value(), true)) {
        if (!entry.trusted)
            continue;
        Backup backup;
        backup.sequence = entry.sequence;
        backup.time = entry.time;
        backup.size = entry.stamp.size;
        backup.path = groupDir.filePath(entry.name);
        backup.stamp = entry.stamp;
        backups.append(backup);
    }
    return Outcome::success();
}

}  // namespace

Result<QList<Backup>> ListBackups(const QString& backupFolder, const QString& statePath)
{
    QList<Backup> backups;  // none yet where a folder is missing
    Result<platform::Folder> root = OpenOwnFolder(backupFolder, false);
    if (!root && root.failure().kind() != ErrorKind::NotFound)
        return root.failure();
    if (!root)
        return backups;
    const QString groupName = BackupGroupName(ResolvedStatePath(statePath));
    if (Outcome added = AddGroup(root.value(), backupFolder, groupName, backups); !added)
        return added;
    const QStringList earlier = EarlierBackupGroupNames(statePath);
    for (const QString& name : earlier)
        if (Outcome added = AddGroup(root.value(), backupFolder, name, backups); !added)
            return added;
    if (!earlier.isEmpty())
        std::stable_sort(backups.begin(), backups.end(),
                         [](const Backup& a, const Backup& b) { return a.time > b.time; });
    for (qsizetype i = 0; i < backups.size(); ++i)
        backups[i].number = int(i) + 1;
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
    const platform::File file =
        platform::File::openIn(group.value(), ToNative(info.fileName()), platform::Access::Read);
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
    const Result<QByteArray> bytes = ReadWholeFile(file);
    if (!bytes)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The backup %1 cannot be read.").arg(shown));
    const platform::Result<FileStamp> after = file.stamp();
    if (!after || *after != backup.stamp)
        return changed;
    return bytes.value();
}

}  // namespace Process
