#include "StateReplace.h"

#include "Backups.h"
#include "StatePath.h"

#include <chrono>
#include <thread>

namespace Process {
namespace {

// How often a copy of a file that another program is still writing is tried again.
constexpr int kCopyTries = 5;
constexpr auto kCopyPause = std::chrono::milliseconds(20);

Outcome ChangedMeanwhile(const QString& statePath)
{
    return Outcome::Failure(ErrorKind::ChangedByAnotherProgram,
                            QStringLiteral("The state file %1 was changed by another program "
                                           "while it was being edited; it was left as that "
                                           "program wrote it. Load it again.")
                                .arg(ShownPath(statePath)));
}

// The state now holds our new file (`ours`), but another program wrote the old one, which only
// `lock` still reaches, just before the rename. Its bytes are the newest: they go back in the
// state's place unless that program has written our file too (then that is newer still), and
// are kept as a backup where they cannot.
Outcome PutBack(const QString& statePath, const protocol::FileLock& lock, const FileStamp& ours,
                const QString& backupFolder)
{
    Outcome failure = ChangedMeanwhile(statePath);
    for (int attempt = 0; attempt < kCopyTries; ++attempt) {
        bool stillWritten = false;
        const Result<FileStamp> back = ReplaceFile(
            statePath, [&](int fd) { return CopyStable(lock.descriptor(), fd, stillWritten); },
            [&] {
                return StampOfPath(statePath) == ours ? Outcome::Success()
                                                      : ChangedMeanwhile(statePath);
            });
        if (back)
            return ChangedMeanwhile(statePath);  // the newest bytes are in place: edit them
        failure = back.failure();
        if (!stillWritten)
            break;
        std::this_thread::sleep_for(kCopyPause);
    }
    if (failure.kind() == ErrorKind::ChangedByAnotherProgram && backupFolder.isEmpty())
        return failure;
    // Not put back: what the other program wrote must survive as a backup at least.
    Result<QString> kept = Outcome::Failure(ErrorKind::BackupFailed, {});
    for (int attempt = 0; attempt < kCopyTries && !kept; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kCopyPause);
        if (backupFolder.isEmpty())
            break;
        Result<PendingBackup> backup =
            PendingBackup::Take(backupFolder, statePath, lock.descriptor());
        if (backup)
            kept = backup.value().keep();
        else
            kept = backup.failure();
    }
    if (failure.kind() == ErrorKind::ChangedByAnotherProgram && kept)
        return failure;  // the state holds newer bytes still; the edit is redone on them
    const QString shown = ShownPath(statePath);
    if (kept)
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 was written by another program "
                                               "while it was being saved, and that write could "
                                               "not be put back (%2); it is kept as the backup "
                                               "%3.")
                                    .arg(shown, failure.message(), ShownPath(kept.value())));
    return Outcome::Failure(ErrorKind::Io,
                            QStringLiteral("The state file %1 was written by another program "
                                           "while it was being saved, and that write could not "
                                           "be put back (%2) or kept as a backup.")
                                .arg(shown, failure.message()));
}

}  // namespace

Outcome ReplaceLockedState(const QString& statePath, const protocol::FileLock& lock,
                           const QString& backupFolder, const Fill& fill,
                           const std::function<void()>& beforeRename)
{
    // Another program (the emulator saving in place, say) wrote the state after it was staged:
    // putting the new contents in its place would silently undo that write.
    if (!lock.stillAsLocked())
        return ChangedMeanwhile(statePath);
    PendingBackup backup;
    if (!backupFolder.isEmpty()) {
        Result<PendingBackup> taken =
            PendingBackup::Take(backupFolder, statePath, lock.descriptor());
        if (!taken)
            return taken.failure();
        backup = std::move(taken.value());
    }
    const Result<FileStamp> written = ReplaceFile(statePath, fill, [&] {
        const bool unchanged = lock.stillAsLocked();
        if (beforeRename)
            beforeRename();
        return unchanged ? Outcome::Success() : ChangedMeanwhile(statePath);
    });
    // A backup of a file that stays as it was is no backup: the pending one is dropped.
    if (!written)
        return written.failure();
    if (!lock.unchangedSinceLocked()) {
        backup.drop();
        return PutBack(statePath, lock, written.value(), backupFolder);
    }
    if (!backupFolder.isEmpty())
        (void)backup.keep();  // the state is saved; a backup that cannot be named is dropped
    return Outcome::Success();
}

}  // namespace Process
