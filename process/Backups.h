#pragma once

// Backups of state files: before a state file is replaced, the bytes it held are kept in the
// user's data folder, grouped per state file, the newest kKeptBackups of each. A backup is a
// file of its own that nothing else writes, in folders only the user can write.

#include "AtomicReplace.h"
#include "Outcome.h"
#include "OwnFolder.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace Process {

inline constexpr int kKeptBackups = 20;

struct Backup {
    int number = 0;       // 1 is the newest
    qint64 sequence = 0;  // grows with every backup of the state; 0 for the oldest kind
    QDateTime time;       // when it was taken, by the clock of the day
    qint64 size = 0;
    QString path;
    FileStamp stamp;  // as listed
};

// "<user data>/cindral-editor/backups", the same for the editor and the command line. The user
// data folder is $XDG_DATA_HOME where that is an absolute path, else ~/.local/share.
QString DefaultBackupFolder();

// The folder that holds the backups of one state file: its name and a hash of its full path,
// so two states of the same name in different folders keep apart.
QString BackupGroupFolder(const QString& backupFolder, const QString& statePath);

// A backup of what a state file holds, taken before the file is replaced: named as the newest
// backup before the replace (so no failure leaves the replaced bytes only in a hidden file),
// removed again when the replace fails, and the oldest beyond kKeptBackups pruned once it has
// gone through. Until it is named it has a hidden name that no listing shows, and is locked
// while its run lives, so another run removes it only once this one has ended.
class PendingBackup
{
public:
    // From `state`, the open state file as it is now: a hard link where `mayLink` (nobody else
    // has the file open: the caller knows it from a lease), no other name of the file exists and
    // the disk allows one (it costs nothing: the replace leaves the old file to the backup
    // alone), else a copy taken while nobody writes the file
    // (ErrorKind::ChangedByAnotherProgram when someone does).
    static Result<PendingBackup> take(const QString& backupFolder, const QString& statePath,
                                      const platform::File& state, bool mayLink = false);

    PendingBackup() = default;
    PendingBackup(PendingBackup&&) = default;
    PendingBackup& operator=(PendingBackup&&) = default;
    ~PendingBackup() { drop(); }

    // Names it as the newest backup, just before the replace. A linked backup whose file has
    // gained another name meanwhile is made a copy first. Returns its path.
    Result<QString> name();
    // The replace went through: the backup stays, and all but the newest kKeptBackups go.
    void keep();
    // The replace did not go through: the backup, pending or named, is removed.
    void drop();
    // A pending backup that is the state's old file itself, not a copy.
    bool linked() const { return m_linked && !(m_pending.isEmpty() && m_named.isEmpty()); }

private:
    platform::Folder m_group;
    QString m_groupPath;
    QString m_stateName;
    QString m_failedHow;
    QByteArray m_pending;   // its hidden name in the group folder while it is pending
    QString m_named;        // its name once named, until it is kept or dropped
    QStringList m_older;    // the group's backups before it, newest first
    platform::File m_copy;  // a copy's own handle, which holds its lock
    const platform::File* m_state = nullptr;  // not owned
    bool m_linked = false;
};

// The state file's backups, newest first: only regular files of this user, in folders of the
// user's own (a folder that is not is ErrorKind::Untrusted). None yet is an empty list.
Result<QList<Backup>> ListBackups(const QString& backupFolder, const QString& statePath);

// The bytes of a listed backup, read from the file opened without following a link, checked
// again as ListBackups checks it, and refused when it was written since it was listed.
Result<QByteArray> ReadBackup(const Backup& backup);

}  // namespace Process
