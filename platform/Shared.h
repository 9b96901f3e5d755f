#pragma once

// Shared by every implementation of the platform, not by its users.

#include "File.h"

#include <cstdint>
#include <optional>

namespace platform {

// FNV-1a over the whole file: enough to tell a rewritten file from the one that was there.
std::optional<std::uint64_t> ContentDigest(const File& file);

// The parts of a temporary name beside a file, in the system's own characters. The tag holds a
// digest of the whole name, so that the temporary files of two files whose long names start
// alike never pass for each other's; the suffix is six random letters and digits.
Path::string_type TemporaryNameTag(const Path::string_type& fileName);
Path::string_type RandomNameSuffix();

}  // namespace platform
