#pragma once

// Where the backups of a state file live and how they are named: one group folder per state
// (its name and a hash of its full path), and in it one file per backup, named by its sequence
// number in the group, the time it was taken (UTC) and the state's own name, so that a backup
// can be opened as a state as it is. The sequence orders the backups; the clock may have been
// set back.

#include "File.h"
#include "Folder.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace Process {

// "<user data>/cindral-editor/backups", the same for the editor and the command line. The user
// data folder is $XDG_DATA_HOME where that is an absolute path, else ~/.local/share.
QString DefaultBackupFolder();

// The folder that holds the backups of one state file: its name and a hash of its full path,
// so two states of the same name in different folders keep apart.
QString BackupGroupFolder(const QString& backupFolder, const QString& statePath);

// The state's full path with links resolved, so a link and its target share their backups,
// spelled as the file system keeps it.
QString ResolvedStatePath(const QString& statePath);
// The same as spelled in `statePath`.
QString ResolvedAsGiven(const QString& statePath);
// The group folder's name for a resolved state path.
QString BackupGroupName(const QString& resolved);
// The names earlier versions gave the state's group where they differ from today's (on Windows:
// from the path as typed, hashed in the system's code page): listed too, never written.
QStringList EarlierBackupGroupNames(const QString& statePath);

// The name of a backup numbered `sequence`, taken now, of the state named `stateName`.
QString NewBackupName(qint64 sequence, const QString& stateName);

struct BackupEntry {
    QString name;
    qint64 sequence = 0;  // 0 for a backup of the oldest kind, or a number no count of ours made
    QDateTime time;
    platform::FileStamp stamp;
    bool trusted = false;  // a regular file of this user's
};

// The backups in an open group folder, newest first. Their times are read only for a listing
// (the local time zone is looked up for each).
QList<BackupEntry> BackupEntries(const platform::Folder& group, bool withTimes);

}  // namespace Process
