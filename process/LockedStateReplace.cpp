#include "LockedStateReplace.h"

#include "Backups.h"
#include "Lease.h"
#include "ReplaceSeam.h"
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

Outcome ChangedMeanwhileFailure(const QString& shown)
{
    return Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                            QStringLiteral("The state file %1 was changed by another program "
                                           "while it was being edited; it was left as that "
                                           "program wrote it. Load it again.")
                                .arg(shown));
}

// Waits until nobody has written the open file for a while: a program that saves in parts may
// still be writing it. False when it never rests within the bound.
bool WaitUntilQuiet(const platform::File& file)
{
    platform::Result<FileStamp> last = file.stamp();
    int quietPolls = 0;
    for (int poll = 0; poll < kQuietBound / kPollPause; ++poll) {
        std::this_thread::sleep_for(kPollPause);
        platform::Result<FileStamp> now = file.stamp();
        const bool same = now.ok() == last.ok() && (!now || *now == *last);
        quietPolls = same ? quietPolls + 1 : 0;
        last = std::move(now);
        if (quietPolls * kPollPause >= kQuiet)
            return true;
    }
    return false;
}

// Without a swap (Windows, and file systems that cannot swap two names): the state now holds our
// new file (`ours`), but another program wrote the old one, which only `lock` still reaches, in
// the moment before the rename. Its bytes are the newest: once that program is done with them
// they go back in the state's place, unless it has written our file too (then that is newer
// still); and they are kept as a backup where they cannot go back. `kept` is the backup that
// already holds them, if any.
Outcome PutBackCopy(const CheckedState& state, const platform::FileLock& lock,
                    const FileStamp& ours, const QString& backupFolder, Result<QString> kept)
{
    const QString& shown = state.shown;
    QString cause = QStringLiteral("that program kept writing it");
    bool newerInPlace = false;
    if (WaitUntilQuiet(lock.file())) {
        const Result<FileStamp> back = ReplaceFileIn(
            {*state.folder,
             state.name,
             shown,
             &lock.file(),
             [&] {
                 const platform::FileFacts there = state.folder->factsOf(state.name);
                 return !there.error && there.stamp == ours ? Outcome::success()
                                                            : ChangedMeanwhileFailure(shown);
             },
             {}},
            [&](platform::File& file) { return platform::CopyStable(lock.file(), file); });
        if (back)
            return ChangedMeanwhileFailure(shown);  // the newest bytes are in place: edit them
        newerInPlace = back.failure().kind() == ErrorKind::ChangedByAnotherProgram;
        cause = back.failure().kind() == ErrorKind::DiskFull
                    ? QStringLiteral("the disk is full")
                    : QStringLiteral("it cannot be written");
    }
    if (!kept && !backupFolder.isEmpty()) {
        Result<PendingBackup> backup = PendingBackup::take(backupFolder, state.path, lock.file());
        kept = backup ? backup.value().name() : Result<QString>(backup.failure());
        if (backup)
            backup.value().keep();
    }
    if (newerInPlace && (kept || backupFolder.isEmpty()))
        return ChangedMeanwhileFailure(shown);  // the state holds newer bytes still: edit them
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

bool IsFile(const platform::FileFacts& facts, const platform::File& file)
{
    const platform::Result<FileStamp> stamp = file.stamp();
    return !facts.error && facts.kind == platform::FileKind::Regular && stamp &&
           facts.stamp.sameFile(*stamp);
}

// An opening of the state breaks the lease, but opened is not written (another run of ours
// trying its lock opens it too): once that program has closed it again, its bytes tell.
bool UnchangedSinceLocked(const platform::FileLock& lock)
{
    if (lock.leaseBroken())
        (void)platform::WaitUntilOnlyOpenHere(lock.file(), std::chrono::milliseconds(2000));
    return lock.unchangedSinceLocked();
}

// Another program's save went back in the state's place: it is the newest once that program
// has finished with it, which the system tells where it grants leases (nobody else has the file
// open any more) and a pause in its writing suggests elsewhere.
bool WaitUntilFinished(const CheckedState& state, const platform::FileLock& lock)
{
    constexpr auto kFinishBound = std::chrono::milliseconds(5000);
    const platform::FileFacts there = state.folder->factsOf(state.name);
    if (IsFile(there, lock.file())) {
        // Our lock's own handle reaches it: asked through that one, so it does not count.
        const platform::Openers openers =
            platform::WaitUntilOnlyOpenHere(lock.file(), kFinishBound);
        return openers == platform::Openers::Unknown ? WaitUntilQuiet(lock.file())
                                                     : openers == platform::Openers::None;
    }
    const platform::File now =
        platform::File::openIn(*state.folder, state.name, platform::Access::Read);
    if (!now.valid())
        return true;  // not a file of anyone's to wait for: the redo will say what it is
    const platform::Openers openers = platform::WaitUntilOnlyOpenHere(now, kFinishBound);
    return openers == platform::Openers::Unknown ? WaitUntilQuiet(now)
                                                 : openers == platform::Openers::None;
}

}  // namespace

Outcome ReplaceLockedState(const CheckedState& state, const platform::FileLock& lock,
                           const QString& backupFolder, const Fill& fill)
{
    // Another program (the emulator saving in place, say) wrote the state after it was staged:
    // putting the new contents in its place would silently undo that write.
    if (!lock.stillAsLocked())
        return ChangedMeanwhileFailure(state.shown);
    // Named before the replace, so that no failure after it leaves the old bytes in no backup.
    PendingBackup backup;
    QString backupPath;
    if (!backupFolder.isEmpty()) {
        // A link to the state's file is a backup only while nobody else has it open to write.
        Result<PendingBackup> taken =
            PendingBackup::take(backupFolder, state.path, lock.file(), lock.leaseHeld());
        if (!taken)
            return taken.failure();
        backup = std::move(taken.value());
        const Result<QString> named = backup.name();
        if (!named)
            return named.failure();
        backupPath = named.value();
    }
    bool theirs = false;
    bool swapped = false;
    const Result<FileStamp> written = ReplaceFileIn(
        {*state.folder, state.name, state.shown, &lock.file(),
         [&] {
             const bool unchanged = lock.stillAsLocked() && UnchangedSinceLocked(lock);
             BeforeRename::reached();
             return unchanged ? Outcome::success() : ChangedMeanwhileFailure(state.shown);
         },
         [&](const platform::FileFacts& replaced) {
             // What the swap took out of the state's place must be the file we
             // locked, as we locked it, opened by nobody since where the lease tells;
             // anything else is another program's save of the last moment, in place
             // or renamed there (or still being written), and goes straight back,
             // whole and still its own.
             if (IsFile(replaced, lock.file()) && UnchangedSinceLocked(lock))
                 return Replaced::Drop;
             theirs = true;
             return Replaced::PutBack;
         }},
        fill, &swapped);
    if (theirs) {
        // Their file is the state again; a backup of the bytes they replaced is no backup of
        // ours (and a linked one would now be their file itself).
        backup.drop();
        if (!written && written.failure().kind() != ErrorKind::ChangedByAnotherProgram)
            return written.failure();
        if (!WaitUntilFinished(state, lock))
            return Outcome::failure(ErrorKind::Io,
                                    QStringLiteral("The state file %1 was being written by "
                                                   "another program while it was saved; it was "
                                                   "left as that program is writing it. Load it "
                                                   "again when the game has finished saving.")
                                        .arg(state.shown));
        return ChangedMeanwhileFailure(state.shown);
    }
    if (!written) {
        // A replace that failed half way can leave the state's name without its file: the
        // backup then holds what the state held, and is kept.
        if (!backupPath.isEmpty() && !IsFile(state.folder->factsOf(state.name), lock.file())) {
            backup.keep();
            return Outcome::failure(written.failure().kind(),
                                    QStringLiteral("%1 Its contents as they were are kept as "
                                                   "the backup %2.")
                                        .arg(written.failure().message(), ShownPath(backupPath)));
        }
        backup.drop();  // the state stays as it was: what it holds is no backup's
        return written.failure().message().isEmpty() ? ChangedMeanwhileFailure(state.shown)
                                                     : written.failure();
    }
    if (!swapped && !lock.unchangedSinceLocked()) {
        // A linked backup is that old file itself: it holds the other program's save, and
        // receives whatever of it is still to come.
        Result<QString> kept = Outcome::failure(ErrorKind::BackupFailed, {});
        if (backup.linked()) {
            kept = backupPath;
            backup.keep();
        }
        backup.drop();
        return PutBackCopy(state, lock, written.value(), backupFolder, kept);
    }
    backup.keep();
    return Outcome::success();
}

}  // namespace Process
