#pragma once

// The backup one replace takes of the state's bytes, from first copy to kept or dropped.

#include "File.h"
#include "Folder.h"
#include "Outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Process {

inline constexpr int kKeptBackups = 20;

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
    // (ErrorKind::ChangedByAnotherProgram when someone does). `statePath` is resolved already,
    // as CheckStatePath gives it.
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

}  // namespace Process
