#include "StateFile.h"

#include "AtomicReplace.h"
#include "Backups.h"
#include "MemberFields.h"
#include "PartyImage.h"
#include "StagingLocks.h"
#include "StatePath.h"
#include "StateReplace.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <thread>

namespace Process {
namespace {

// A state that another program keeps writing while we edit it is staged again and the edit
// redone on its newest bytes, this many times at most.
constexpr int kAttempts = 4;
constexpr auto kRetryPause = std::chrono::milliseconds(100);

// The frame every load, save and inspection runs: nothing at all for an empty path, the busy
// indicator for the whole run, the state staged; `work` then reads or patches the image. Work
// that another program's write overtook is done again on the newest bytes.
template <class Work>
Outcome InFrame(const QString& statePath, const StagingContext& context, Work&& work)
{
    if (statePath.isEmpty())
        return Outcome::success();
    BusyScope busy(context.busy);
    for (int attempt = 1;; ++attempt) {
        Outcome outcome = [&] {
            StagingFrame frame(context);
            if (Outcome staged = frame.StageStateFile(statePath); !staged)
                return staged;
            return work(frame);
        }();
        if (outcome.kind() != ErrorKind::ChangedByAnotherProgram || attempt == kAttempts)
            return outcome;
        std::this_thread::sleep_for(kRetryPause);
    }
}

StateContents ReadContents(const QByteArray& image)
{
    StateContents contents;
    contents.party.block = ReadPartyBlock(image);
    contents.party.experience = ComposePartyExperience(contents.party.block);
    contents.gold = ReadGold(image);
    return contents;
}

}  // namespace

Outcome LoadState(const QString& statePath, const StagingContext& context, PartyState& party)
{
    return InFrame(statePath, context, [&](StagingFrame& frame) {
        const PartyBlock block = ReadPartyBlock(frame.image());
        const PartyExperience experience = ComposePartyExperience(block);
        if (Outcome replaced = frame.ReplaceStateFile(statePath); !replaced)
            return replaced;
        // Only a load that got through every step changes the party.
        party.block = block;
        party.experience = experience;
        return Outcome::success();
    });
}

Outcome SaveState(const QString& statePath, const StagingContext& context, const PartyState& party,
                  bool goldMaxOut)
{
    return InFrame(statePath, context, [&](StagingFrame& frame) {
        ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
        return frame.ReplaceStateFile(statePath);
    });
}

Outcome SaveChanges(const QString& statePath, const StagingContext& context,
                    const PartyState& asLoaded, PartyState& party, bool goldMaxOut)
{
    if (statePath.isEmpty())
        return Outcome::success();
    PartyState written;
    const Result<StateContents> saved =
        EditState(statePath, context, goldMaxOut, [&](const StateContents&, PartyState& now) {
            MergeEdits(asLoaded, party, now);
            written = now;
        });
    if (!saved)
        return saved.failure();
    party.block = written.block;
    party.experience = written.experience;
    return Outcome::success();
}

Result<StateContents> InspectState(const QString& statePath, const StagingContext& context)
{
    if (statePath.isEmpty())
        return Outcome::failure(ErrorKind::NotFound, QStringLiteral("No state file was given."));
    StateContents contents;
    const Outcome inspected = InFrame(statePath, context, [&](StagingFrame& frame) {
        contents = ReadContents(frame.image());
        return Outcome::success();
    });
    if (!inspected)
        return inspected;
    return contents;
}

Result<StateContents> EditState(const QString& statePath, const StagingContext& context,
                                bool goldMaxOut, const PartyEdit& edit)
{
    if (statePath.isEmpty())
        return Outcome::failure(ErrorKind::NotFound, QStringLiteral("No state file was given."));
    StateContents before;
    const Outcome edited = InFrame(statePath, context, [&](StagingFrame& frame) {
        before = ReadContents(frame.image());
        PartyState party = before.party;
        edit(before, party);
        ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
        return frame.ReplaceStateFile(statePath);
    });
    if (!edited)
        return edited;
    return before;
}

Outcome RestoreState(const QString& statePath, const StagingContext& context,
                     const QString& backupFolder, int number)
{
    const QString shown = ShownPath(statePath);
    const Result<QList<Backup>> listed = ListBackups(backupFolder, statePath);
    if (!listed)
        return listed.failure();
    const QList<Backup>& backups = listed.value();
    if (backups.isEmpty())
        return Outcome::failure(
            ErrorKind::NotFound,
            QStringLiteral("There are no backups of %1 (they would be in %2).")
                .arg(shown, ShownPath(BackupGroupFolder(backupFolder, statePath))));
    if (number < 1 || number > backups.size())
        return Outcome::failure(
            ErrorKind::NotFound,
            QStringLiteral("There is no backup %1 of %2; its backups are "
                           "numbered 1 to %3.")
                .arg(QString::number(number), shown, QString::number(backups.size())));
    const Backup& chosen = backups[number - 1];
    BusyScope busy(context.busy);
    // Checked as a load checks a state, by the decompressor, before it replaces anything.
    if (const Result<StateContents> whole = InspectState(chosen.path, context); !whole)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("The backup %1 is not a whole state, so nothing "
                                               "was restored: %2")
                                    .arg(ShownPath(chosen.path), whole.failure().message()));
    const Result<QByteArray> bytes = ReadBackup(chosen);  // refused if written since the check
    if (!bytes)
        return bytes.failure();
    const QByteArray& contents = bytes.value();
    const Fill fill = [&](platform::File& file) {
        return file.writeAll(contents.constData(), std::size_t(contents.size()));
    };
    if (!QFileInfo::exists(statePath))
        return ReplaceFileContents(statePath, contents);
    for (int attempt = 1;; ++attempt) {
        platform::FileLock lock;  // a restore must not land in the middle of a save
        if (Outcome locked = LockStateFile(lock, statePath, context.lockWait); !locked)
            return locked;
        if (Outcome writable = CheckReplaceable(statePath); !writable)
            return writable;
        if (ReadWholeFile(lock.file()) == contents)
            return Outcome::success();
        const Outcome restored =
            ReplaceLockedState(statePath, lock, context.backupFolder, fill, context.beforeRename);
        if (restored.kind() != ErrorKind::ChangedByAnotherProgram || attempt == kAttempts)
            return restored;
    }
}

}  // namespace Process
