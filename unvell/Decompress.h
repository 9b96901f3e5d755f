#pragma once

#include "StagingProtocol.h"

#include <filesystem>
#include <string>

namespace unvell {

using protocol::kCompletionFlagName;
using protocol::kWorkingCopyName;

enum ExitCode : int {
    kExitOk = protocol::kExitOk,
    kExitFailure = protocol::kExitFailure,
    kExitUsage = protocol::kExitUsage,
    kExitNotAState = protocol::kExitNotAState,
};

struct DecompressOutcome {
    int exitCode = kExitOk;
    std::string cause;  // empty on success
};

// Reads the state, turns it into the plain image, checks it and writes "newstate.dec" into
// `folder`, complete and closed, and only then creates "flag.unv". On failure neither file
// is left behind.
DecompressOutcome DecompressToFolder(const std::filesystem::path& statePath,
                                     const std::filesystem::path& folder);

}  // namespace unvell
