#pragma once

#include "StagingProtocol.h"
#include "Status.h"

#include <filesystem>
#include <string>

namespace unvell {

using protocol::kCompletionFlagName;
using protocol::kWorkingCopyName;

// Reads the state, turns it into the plain image, checks it and writes "newstate.dec" into
// `folder`, complete and closed, and only then creates "flag.unv". On failure neither file
// is left behind.
Status DecompressToFolder(const std::filesystem::path& statePath,
                          const std::filesystem::path& folder);

}  // namespace unvell
