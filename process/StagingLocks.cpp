#include "StagingLocks.h"

#include "StagingNames.h"
#include "StatePath.h"

#include <QDir>
#include <QFile>

namespace Process {

namespace {

// What a lock found in place of a plain file ("a folder", "a symbolic link"): neither lock
// follows a link at the last step.
QString KindDescription(const QString& path)
{
    return QString::fromLatin1(platform::KindName(platform::FactsOf(ToNative(path), false).kind));
}

}  // namespace

Outcome LockStateFile(platform::FileLock& lock, const CheckedState& state,
                      std::chrono::milliseconds wait)
{
    const QString& statePath = state.path;
    const std::error_code locked = lock.lockFileIn(*state.folder, state.name, wait);
    if (!locked)
        return Outcome::success();
    if (locked == platform::LockError::Busy)
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("Another program is loading or saving the state "
                                               "file %1. Try again when it has finished.")
                                    .arg(state.shown));
    if (locked == platform::LockError::NotRegular)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is %2, not a state file.")
                                    .arg(state.shown, KindDescription(statePath)));
    return Outcome::failure(ErrorKind::PermissionDenied,
                            QStringLiteral("The state file %1 cannot be opened: %2.")
                                .arg(state.shown, SystemCause(locked)));
}

Outcome LockProgramFolder(platform::FileLock& lock, const QString& programFolder,
                          std::chrono::milliseconds wait)
{
    const QString folder = ShownPath(programFolder);
    const QString lockPath = QDir(programFolder).filePath(kFolderLockName);
    const std::error_code locked = lock.lockFolderFile(ToNative(lockPath), wait);
    if (!locked)
        return Outcome::success();
    if (locked == platform::LockError::Busy)
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("Another load or save is using the program folder "
                                               "%1. Try again when it has finished.")
                                    .arg(folder));
    if (locked == platform::LockError::NotRegular)
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 is %2, which no load or save of "
                                               "this editor makes; remove it and try again.")
                                    .arg(ShownPath(lockPath), KindDescription(lockPath)));
    if (locked == platform::LockError::CannotClear)
        return Outcome::failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 was left by a program that has "
                                               "ended and cannot be removed; remove it and try "
                                               "again.")
                                    .arg(ShownPath(lockPath)));
    // Permission bits, an immutable folder or a read-only file system all end here.
    return Outcome::failure(ErrorKind::FolderNotWritable,
                            QStringLiteral("The program folder %1 is not writable (its lock file "
                                           "cannot be created: %2); the editor keeps its working "
                                           "files there.")
                                .arg(folder, SystemCause(locked)));
}

}  // namespace Process
