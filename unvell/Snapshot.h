#pragma once

#include "Status.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace unvell {

// The plain image is the emulator's snapshot: a first line "#!snes9x:NNNN" or "#!s9xsnp:NNNN",
// then blocks "XYZ:NNNNNN:" followed by NNNNNN bytes of data.
inline constexpr std::size_t kRamBlockSize = 131072;

// Walks every block: each whole, RAM where it holds the party block and the gold, the blocks
// that follow RAM in every state present, nothing after the last.
// Fails (not a state) with the cause when the image is no state the editor can edit.
Status CheckSnapshot(std::span<const std::uint8_t> image);

// The same walk over an image of `size` bytes that lies elsewhere (in a file, say): `read`
// fills `out` from `offset` and says whether it could. Only the block headers are read.
using ReadAt = std::function<bool(std::size_t offset, std::span<std::uint8_t> out)>;
Status CheckSnapshot(std::size_t size, const ReadAt& read);

}  // namespace unvell
