#include "StateFile.h"

#include "Backups.h"
#include "FileReplace.h"
#include "LockedStateReplace.h"
#include "MemberFields.h"
#include "PartyImage.h"
#include "ReplaceSeam.h"
#include "StagingLocks.h"
#include "StatePath.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <optional>
#include <thread>

namespace Process {
namespace {

// A state that another program keeps writing while we edit it is staged again and the edit
// redone on its newest bytes, this many times at most.
constexpr int kAttempts = 4;
constexpr auto kRetryPause = std::chrono::milliseconds(100);

// The frame every load, save, inspection and restore runs: nothing at all for an empty path,
// the state checked once (every attempt works through that one folder and name), then `work`
// in a frame of its own. Work that another program's
// write overtook is done again on the newest bytes.
template <class Work>
Outcome InFrame(const QString& statePath, const StagingContext& context, Work&& work)
{
    if (statePath.isEmpty())
        return Outcome::success();
    std::optional<CheckedState> state;
    for (int attempt = 1;; ++attempt) {
        Outcome outcome = [&] {
            if (!state) {
                Result<CheckedState> checked = CheckStatePath(statePath, context.programFolder);
                if (!checked)
                    return checked.failure();
                state = std::move(checked.value());
            }
            StagingFrame frame(context);
            return work(frame, *state);
        }();
        if (outcome.kind() != ErrorKind::ChangedByAnotherProgram || attempt == kAttempts)
            return outcome;
        std::this_thread::sleep_for(kRetryPause);
    }
}

// The frames of a load, save or inspection: the state staged first.
template <class Work>
Outcome InStagedFrame(const QString& statePath, const StagingContext& context, Work&& work)
{
    return InFrame(statePath, context, [&](StagingFrame& frame, const CheckedState& state) {
        if (Outcome staged = frame.stageStateFile(state); !staged)
            return staged;
        return work(frame, state);
    });
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
    return InStagedFrame(statePath, context, [&](StagingFrame& frame, const CheckedState& state) {
        const PartyBlock block = ReadPartyBlock(frame.image());
        const PartyExperience experience = ComposePartyExperience(block);
        if (Outcome replaced = frame.replaceStateFile(state); !replaced)
            return replaced;
        // Only a load that got through every step changes the party.
        party.block = block;
        party.experience = experience;
        return Outcome::success();
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
    const Outcome inspected =
        InStagedFrame(statePath, context, [&](StagingFrame& frame, const CheckedState&) {
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
    const Outcome edited =
        InStagedFrame(statePath, context, [&](StagingFrame& frame, const CheckedState& state) {
            before = ReadContents(frame.image());
            PartyState party = before.party;
            edit(before, party);
            ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
            return frame.replaceStateFile(state);
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
    if (!QFileInfo::exists(statePath)) {
        // Nothing to lock: the backup takes a free name, and a state another program makes
        // there meanwhile is never overwritten.
        const QFileInfo target(statePath);
        const platform::Folder folder = platform::Folder::open(ToNative(target.absolutePath()));
        if (!folder.valid())
            return Outcome::failure(ErrorKind::NotFound,
                                    QStringLiteral("The folder of the state file %1 cannot be "
                                                   "opened: %2.")
                                        .arg(shown, SystemCause(folder.error())));
        const Result<FileStamp> made = ReplaceFileIn(
            {folder,
             ToNative(target.fileName()),
             shown,
             nullptr,
             [] {
                 BeforeRename::reached();
                 return Outcome::success();
             },
             {},
             true},
            [&](platform::File& file) {
                return file.writeAll(contents.constData(), std::size_t(contents.size()));
            });
        if (made || made.failure().kind() != ErrorKind::ChangedByAnotherProgram)
            return made ? Outcome::success() : made.failure();
    }
    return InFrame(statePath, context, [&](StagingFrame& frame, const CheckedState& state) {
        // A restore must not land in the middle of a save: the same locks as a save.
        if (Outcome locked = frame.lockState(state); !locked)
            return locked;
        return frame.replaceStateWith(state, contents);
    });
}

}  // namespace Process
