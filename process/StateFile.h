#pragma once

#include "Outcome.h"
#include "PartyState.h"
#include "Staging.h"

#include <cstdint>
#include <functional>

namespace Process {

// Stages the state file, reads its party into a fresh block, leaves the state file as its plain
// image, and only then replaces the party's block and experience: a failed load changes
// nothing. An empty path does nothing.
Outcome LoadState(const QString& statePath, const StagingContext& context, PartyState& party);

// The window's Save: stages the state afresh and writes onto it only what the user changed in
// `party` since `asLoaded` (the party as the last load or save left it): the name, each number,
// the ailment box, each experience value, and the gold when goldMaxOut. Every other byte is what
// the state holds now, so a save never undoes what another program wrote since the load. On
// success `party` is what the state now holds. An empty path does nothing.
Outcome SaveChanges(const QString& statePath, const StagingContext& context,
                    const PartyState& asLoaded, PartyState& party, bool goldMaxOut);

// What a state holds, read through the decompressor without changing the state file.
struct StateContents {
    PartyState party;  // block and experience as a load would give them
    std::uint32_t gold = 0;
};
Result<StateContents> InspectState(const QString& statePath, const StagingContext& context);

// Reads the state, lets `edit` change the party (given what the state held), and writes the
// party, and the gold when goldMaxOut, back: one frame, one decompressor run, so no other
// program can change the state between the read and the write. Returns what the state held.
using PartyEdit = std::function<void(const StateContents& before, PartyState& party)>;
Result<StateContents> EditState(const QString& statePath, const StagingContext& context,
                                bool goldMaxOut, const PartyEdit& edit);

// Puts backup `number` (1 is the newest) of the state file, from `backupFolder`, in its place,
// atomically, after a backup of what it replaces (into the context's backup folder, when it
// names one). The backup must be a file of the user's own in the user's own folders, and a
// whole state as a load checks it. Nothing is written when the state holds those bytes
// already.
Outcome RestoreState(const QString& statePath, const StagingContext& context,
                     const QString& backupFolder, int number);

}  // namespace Process
