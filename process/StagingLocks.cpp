#include "StagingLocks.h"

#include "StagingNames.h"
#include "StatePath.h"

#include <QDir>
#include <QFile>

namespace Process {

Outcome LockStateFile(platform::FileLock& lock, const QString& statePath,
                      std::chrono::milliseconds wait)
{
    const platform::LockResult locked =
        lock.lockExistingFile(QFile::encodeName(statePath).toStdString(), wait);
    switch (locked.status) {
    case platform::LockStatus::Locked: return Outcome::success();
    case platform::LockStatus::Busy:
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("Another program is loading or saving the state "
                                               "file %1. Try again when it has finished.")
                                    .arg(ShownPath(statePath)));
    case platform::LockStatus::NotRegular:
        return Outcome::failure(
            ErrorKind::NotAState,
            QStringLiteral("%1 is %2, not a state file.")
                .arg(ShownPath(statePath), QString::fromStdString(locked.what)));
    default:
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be opened: %2.")
                                    .arg(ShownPath(statePath), SystemCause(locked.error)));
    }
}

Outcome LockProgramFolder(platform::FileLock& lock, const QString& programFolder,
                          std::chrono::milliseconds wait)
{
    const QString folder = ShownPath(programFolder);
    const QString lockPath = QDir(programFolder).filePath(kFolderLockName);
    const platform::LockResult locked =
        lock.lockFolderFile(QFile::encodeName(lockPath).toStdString(), wait);
    switch (locked.status) {
    case platform::LockStatus::Locked: return Outcome::success();
    case platform::LockStatus::Busy:
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("Another load or save is using the program folder "
                                               "%1. Try again when it has finished.")
                                    .arg(folder));
    case platform::LockStatus::NotRegular:
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 is %2, which no load or save of "
                                               "this editor makes; remove it and try again.")
                                    .arg(ShownPath(lockPath), QString::fromStdString(locked.what)));
    case platform::LockStatus::CannotClear:
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 was left by a program that has "
                                               "ended and cannot be removed (%2); remove it and "
                                               "try again.")
                                    .arg(ShownPath(lockPath), SystemCause(locked.error)));
    default:
        // Permission bits, an immutable folder or a read-only file system all end here.
        return Outcome::failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The program folder %1 is not writable (its lock "
                                               "file cannot be created: %2); the editor keeps "
                                               "its working files there.")
                                    .arg(folder, SystemCause(locked.error)));
    }
}

}  // namespace Process
