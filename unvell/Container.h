#pragma once

// Recognising a state's container and inflating it, as a stream: input is read in pieces and
// the image handed on in pieces, so neither needs to be held whole.

#include "Status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace unvell {

// A compressed state that inflates past this is refused: a bomb must fail, not fill the disk.
inline constexpr std::size_t kMaxImageBytes = 16u * 1024u * 1024u;

enum class ContainerKind { Gzip, Rzip, Plain, Unknown };

ContainerKind DetectContainer(std::span<const std::uint8_t> input);

// Fills the buffer with the input's next bytes: the count, 0 at its end, -1 on a read error.
using ByteSource = std::function<std::ptrdiff_t(std::span<std::uint8_t>)>;
// Takes the next piece of the image; false when it cannot (a write error).
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

// Turns a gzip stream (any number of members), an RZIP container or an already plain
// snapshot into the plain image, handing it to `sink` piece by piece. Never produces more than
// `cap` bytes. On failure the sink may have taken part of an image, which the caller throws
// away; a sink that could not take a piece fails it with kExitFailure.
Status InflateInto(const ByteSource& source, const ByteSink& sink,
                   std::size_t cap = kMaxImageBytes);

struct InflateResult {
    std::vector<std::uint8_t> image;
    Status status;
    bool ok() const { return status.ok(); }
};

// The same for an input held in memory, with the image in memory (empty on failure).
InflateResult InflateContainer(std::span<const std::uint8_t> input,
                               std::size_t cap = kMaxImageBytes);

}  // namespace unvell
