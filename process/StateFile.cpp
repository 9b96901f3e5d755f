#include "StateFile.h"

#include "PartyImage.h"

namespace Process {

Outcome LoadState(const QString& statePath, const StagingContext& context, PartyState& party)
{
    if (statePath.isEmpty())
        return Outcome::Success();
    BusyScope busy(context.busy);
    StagingFrame frame(context);
    if (Outcome staged = frame.StageStateFile(statePath); !staged)
        return staged;
    const PartyBlock block = ReadPartyBlock(frame.image());
    const PartyExperience experience = ComposePartyExperience(block);
    if (Outcome replaced = frame.ReplaceStateFile(statePath); !replaced)
        return replaced;
    party.block = block;
    party.experience = experience;
    return Outcome::Success();
}

Outcome SaveState(const QString& statePath, const StagingContext& context,
                  const PartyState& party, bool goldMaxOut)
{
    if (statePath.isEmpty())
        return Outcome::Success();
    BusyScope busy(context.busy);
    StagingFrame frame(context);
    if (Outcome staged = frame.StageStateFile(statePath); !staged)
        return staged;
    ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
    return frame.ReplaceStateFile(statePath);
}

Result<StateContents> InspectState(const QString& statePath, const StagingContext& context)
{
    BusyScope busy(context.busy);
    StagingFrame frame(context);
    if (Outcome staged = frame.StageStateFile(statePath); !staged)
        return staged;
    StateContents contents;
    contents.block = ReadPartyBlock(frame.image());
    contents.experience = ComposePartyExperience(contents.block);
    contents.gold = ReadGold(frame.image());
    return contents;
}

}  // namespace Process
