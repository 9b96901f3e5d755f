#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace unvell {

// A compressed state that inflates past this is refused: a bomb must fail, not fill the disk.
inline constexpr std::size_t kMaxImageBytes = 16u * 1024u * 1024u;

enum class ContainerKind { Gzip, Rzip, Plain, Unknown };

ContainerKind DetectContainer(std::span<const std::uint8_t> input);

struct InflateResult {
    std::vector<std::uint8_t> image;
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

// Turns a gzip stream (any number of members), an RZIP container or an already plain
// snapshot into the plain image. Never produces more than `cap` bytes.
InflateResult InflateContainer(std::span<const std::uint8_t> input,
                               std::size_t cap = kMaxImageBytes);

}  // namespace unvell
