#pragma once

// Backups of state files: before a state file is replaced, the bytes it held are kept in the
// user's data folder, grouped per state file, the newest kKeptBackups of each.

#include "Outcome.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace Process {

inline constexpr int kKeptBackups = 20;

struct Backup {
    int number = 0;  // 1 is the newest
    QDateTime time;  // when it was taken
    qint64 size = 0;
    QString path;
};

// "<user data>/cindral-editor/backups", the same for the editor and the command line.
QString DefaultBackupFolder();

// The folder that holds the backups of one state file: its name and a hash of its full path,
// so two states of the same name in different folders keep apart.
QString BackupGroupFolder(const QString& backupFolder, const QString& statePath);

// Keeps what the state file holds now as its newest backup, a hard link where the file system
// allows one (it costs nothing) and a copy elsewhere, then drops all but the newest kept.
// Returns the new backup's path.
Result<QString> BackUpStateFile(const QString& backupFolder, const QString& statePath);

// The state file's backups, newest first.
QList<Backup> ListBackups(const QString& backupFolder, const QString& statePath);

}  // namespace Process
