#pragma once

// The backups of a state file as the user sees them, and their bytes read back only from files
// that are the user's own.

#include "File.h"
#include "Outcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace Process {

struct Backup {
    int number = 0;       // 1 is the newest
    qint64 sequence = 0;  // grows with every backup of the state; 0 for the oldest kind
    QDateTime time;       // when it was taken, by the clock of the day
    qint64 size = 0;
    QString path;
    platform::FileStamp stamp;  // as listed
};

// The state file's backups, newest first: only regular files of this user, in folders of the
// user's own (a folder that is not is ErrorKind::Untrusted). None yet is an empty list.
Result<QList<Backup>> ListBackups(const QString& backupFolder, const QString& statePath);

// The bytes of a listed backup, read from the file opened without following a link, checked
// again as ListBackups checks it, and refused when it was written since it was listed.
Result<QByteArray> ReadBackup(const Backup& backup);

}  // namespace Process
