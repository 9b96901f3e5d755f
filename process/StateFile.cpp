#include "StateFile.h"

#include "PartyImage.h"

namespace Process {
namespace {

// The frame every load, save and inspection runs: nothing at all for an empty path, the busy
// indicator for the whole run, the state staged; `work` then reads or patches the image.
template <class Work>
Outcome InFrame(const QString& statePath, const StagingContext& context, Work&& work)
{
    if (statePath.isEmpty())
        return Outcome::Success();
    BusyScope busy(context.busy);
    StagingFrame frame(context);
    if (Outcome staged = frame.StageStateFile(statePath); !staged)
        return staged;
    return work(frame);
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
        return Outcome::Success();
    });
}

Outcome SaveState(const QString& statePath, const StagingContext& context,
                  const PartyState& party, bool goldMaxOut)
{
    return InFrame(statePath, context, [&](StagingFrame& frame) {
        ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
        return frame.ReplaceStateFile(statePath);
    });
}

Result<StateContents> InspectState(const QString& statePath, const StagingContext& context)
{
    if (statePath.isEmpty())
        return Outcome::Failure(ErrorKind::NotFound, QStringLiteral("No state file was given."));
    StateContents contents;
    const Outcome inspected = InFrame(statePath, context, [&](StagingFrame& frame) {
        contents.party.block = ReadPartyBlock(frame.image());
        contents.party.experience = ComposePartyExperience(contents.party.block);
        contents.gold = ReadGold(frame.image());
        return Outcome::Success();
    });
    if (!inspected)
        return inspected;
    return contents;
}

}  // namespace Process
