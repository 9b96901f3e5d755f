#include "StateReplace.h"

#include "Backups.h"
#include "StatePath.h"

#include <chrono>
#include <optional>
#include <thread>

namespace Process {
namespace {

// Another program's write is taken once it has rested this long, waiting at most the bound.
constexpr auto kPollPause = std::chrono::milliseconds(50);
constexpr auto kQuiet = std::chrono::milliseconds(200);
constexpr auto kQuietBound = std::chrono::milliseconds(5000);

Outcome ChangedMeanwhile(const QString& statePath)
{
    return Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                            QStringLiteral("The state file %1 was changed by another program "
                                           "while it was being edited; it was left as that "
                                           "program wrote it. Load it again.")
                                .arg(ShownPath(statePath)));
}

// Waits until nobody has written the open file for a while: a program that saves in parts may
// still be writing it. False when it never rests within the bound.
bool WaitUntilQuiet(const platform::File& file)
{
    std::optional<FileStamp> last = file.stamp();
    int quietPolls = 0;
    for (int poll = 0; poll < kQuietBound / kPollPause; ++poll) {
        std::this_thread::sleep_for(kPollPause);
        const std::optional<FileStamp> now = file.stamp();
        quietPolls = now == last ? quietPolls + 1 : 0;
        last = now;
        if (quietPolls * kPollPause >= kQuiet)
            return true;
    }
    return false;
}

// The state now holds our new file (`ours`), but another program wrote the old one, which only
// `lock` still reaches, in the moment before the rename. Its bytes are the newest: once that
// program is done with them they go back in the state's place, unless it has written our file
// too (then that is newer still); and they are kept as a backup where they cannot go back.
// `kept` is the backup that already holds them, if any.
Outcome PutBack(const QString& statePath, const platform::FileLock& lock, const FileStamp& ours,
                const QString& backupFolder, Result<QString> kept)
{
    const QString shown = ShownPath(statePath);
    QString cause = QStringLiteral("that program kept writing it");
    bool newerInPlace = false;
    if (WaitUntilQuiet(lock.file())) {
        const Result<FileStamp> back = ReplaceFile(
            statePath,
            [&](platform::File& file) { return platform::CopyStable(lock.file(), file); },
            [&] {
                return StampOfPath(statePath) == ours ? Outcome::success()
                                                      : ChangedMeanwhile(statePath);
            });
        if (back)
            return ChangedMeanwhile(statePath);  // the newest bytes are in place: edit them
        newerInPlace = back.failure().kind() == ErrorKind::ChangedByAnotherProgram;
        cause = back.failure().kind() == ErrorKind::DiskFull
                    ? QStringLiteral("the disk is full")
                    : QStringLiteral("it cannot be written");
    }
    if (!kept && !backupFolder.isEmpty()) {
        Result<PendingBackup> backup = PendingBackup::take(backupFolder, statePath, lock.file());
        kept = backup ? backup.value().keep() : Result<QString>(backup.failure());
    }
    if (newerInPlace && (kept || backupFolder.isEmpty()))
        return ChangedMeanwhile(statePath);  // the state holds newer bytes still: edit them
    if (kept)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 was written by another program "
                                               "while it was being saved; what that program "
                                               "wrote could not be put back in its place (%2) "
                                               "and is kept as the backup %3.")
                                    .arg(shown, cause, ShownPath(kept.value())));
    return Outcome::failure(ErrorKind::Io,
                            QStringLiteral("The state file %1 was written by another program "
                                           "while it was being saved; what that program wrote "
                                           "could not be put back in its place (%2) nor kept as "
                                           "a backup.")
                                .arg(shown, cause));
}

}  // namespace

Outcome ReplaceLockedState(const QString& statePath, const platform::FileLock& lock,
                           const QString& backupFolder, const Fill& fill,
                           const std::function<void()>& beforeRename)
{
    // Another program (the emulator saving in place, say) wrote the state after it was staged:
    // putting the new contents in its place would silently undo that write.
    if (!lock.stillAsLocked())
        return ChangedMeanwhile(statePath);
    PendingBackup backup;
    if (!backupFolder.isEmpty()) {
        Result<PendingBackup> taken = PendingBackup::take(backupFolder, statePath, lock.file());
        if (!taken)
            return taken.failure();
        backup = std::move(taken.value());
    }
    const Result<FileStamp> written = ReplaceFile(statePath, fill, [&] {
        const bool unchanged = lock.stillAsLocked();
        if (beforeRename)
            beforeRename();
        return unchanged ? Outcome::success() : ChangedMeanwhile(statePath);
    });
    // A backup of a file that stays as it was is no backup: the pending one is dropped.
    if (!written)
        return written.failure();
    if (!lock.unchangedSinceLocked()) {
        // A linked backup is that old file itself: it holds the other program's save, and
        // receives whatever of it is still to come.
        Result<QString> kept = Outcome::failure(ErrorKind::BackupFailed, {});
        if (backup.linked())
            kept = backup.keep();
        backup.drop();
        return PutBack(statePath, lock, written.value(), backupFolder, kept);
    }
    if (!backupFolder.isEmpty()) {
        if (Result<QString> kept = backup.keep(); !kept)
            return Outcome::failure(ErrorKind::BackupFailed,
                                    QStringLiteral("The state file %1 was saved, but no backup of "
                                                   "what it held could be kept: %2")
                                        .arg(ShownPath(statePath), kept.failure().message()));
    }
    return Outcome::success();
}

}  // namespace Process
