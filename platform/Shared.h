#pragma once

// Shared by every implementation of the platform, not by its users.

#include "File.h"

#include <cstdint>
#include <optional>

namespace platform {

// FNV-1a over the whole file: enough to tell a rewritten file from the one that was there.
std::optional<std::uint64_t> ContentDigest(const File& file);

}  // namespace platform
