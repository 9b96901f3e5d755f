#pragma once

#include <filesystem>
#include <string>

namespace unvell {

inline constexpr const char* kWorkingCopyName = "newstate.dec";
inline constexpr const char* kCompletionFlagName = "flag.unv";

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,   // the state could not be read, or the folder not written
    kExitUsage = 2,
    kExitNotAState = 3  // the file was read but is no state the editor can edit
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
