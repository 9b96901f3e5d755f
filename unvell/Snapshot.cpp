#include "Snapshot.h"

#include "ImageLayout.h"
#include "StagingProtocol.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace unvell {
namespace {

// "#!s9xsnp:0011" without the newline.
constexpr std::size_t kSignatureLength = protocol::kSnapshotFirstLineLength - 1;
constexpr std::size_t kBlockHeaderLength = 11;  // "RAM:131072:"

bool IsDigits(std::span<const std::uint8_t> s)
{
    for (auto c : s)
        if (!std::isdigit(c))
            return false;
    return true;
}

std::string BlockName(std::span<const std::uint8_t> header)
{
    std::string name;
    for (auto c : header.first(3))
        name += std::isprint(c) ? char(c) : '?';
    return name;
}

}  // namespace

Status CheckSnapshot(std::size_t size, const ReadAt& read)
{
    std::uint8_t first[kSignatureLength + 1];
    if (size < sizeof first || !read(0, first))
        return Status::notAState(
            "not an emulator snapshot (no \"#!snes9x:\" or \"#!s9xsnp:\" first line)");
    const std::span<const std::uint8_t> image(first);
    const bool headed = IsDigits(image.subspan(kSignatureLength - protocol::kSnapshotVersionDigits,
                                               protocol::kSnapshotVersionDigits)) &&
                        image[kSignatureLength] == '\n';
    bool known = false;
    for (std::string_view signature : protocol::kSnapshotSignatures)
        known = known || std::memcmp(image.data(), signature.data(), signature.size()) == 0;
    if (!headed || !known)
        return Status::notAState(
            "not an emulator snapshot (no \"#!snes9x:\" or \"#!s9xsnp:\" first line)");

    // Every block must be whole and the image must end with the last one: a state cut short,
    // or rewritten while it was read, ends inside a block or lacks the blocks after RAM.
    bool ram = false;
    // The blocks after RAM that the emulator writes into every state of its layout and refuses
    // to load a state without; those of a cartridge's extra chips, the screenshot and a movie
    // may be missing. The oldest layout ("#!snes9x:") keeps its sound and timing in blocks of
    // other names. Without this, a state cut right after a block passes for whole.
    std::string missing =
        std::memcmp(image.data(), "#!snes9x:", 9) == 0 ? " SRA FIL" : " SRA FIL SND CTL TIM";
    std::size_t at = kSignatureLength + 1;
    std::uint8_t headerBytes[kBlockHeaderLength];
    const std::span<const std::uint8_t> header(headerBytes);
    while (at < size) {
        if (size - at < kBlockHeaderLength)
            return Status::notAState("the snapshot is cut short inside a block header");
        if (!read(at, headerBytes))
            return Status::notAState("the image could not be read back");
        for (auto c : header.first(3))
            if (!std::isalnum(c))
                return Status::notAState("the snapshot is damaged (a block has no proper name)");
        if (header[3] != ':' || !IsDigits(header.subspan(4, 6)) || header[10] != ':')
            return Status::notAState("the snapshot is damaged (block " + BlockName(header) +
                                     " has no proper length)");
        std::size_t length = 0;
        for (auto c : header.subspan(4, 6))
            length = length * 10 + (c - '0');
        const std::size_t dataOffset = at + kBlockHeaderLength;
        const std::string name = BlockName(header);
        if (length > size - dataOffset)
            return Status::notAState("the snapshot is cut short inside block " + name);
        if (name == "RAM") {
            if (ram)
                return Status::notAState("the snapshot is damaged (it holds two RAM blocks)");
            if (length != kRamBlockSize)
                return Status::notAState("the RAM block holds " + std::to_string(length) +
                                         " bytes instead of " + std::to_string(kRamBlockSize));
            // RAM is larger than the party's offsets, so only a late start can miss them.
            if (dataOffset > std::size_t(protocol::kPartyBlockOffset))
                return Status::notAState(
                    "the RAM block does not lie where this game keeps its party");
            ram = true;
        } else if (ram) {
            if (const auto found = missing.find(" " + name); found != std::string::npos)
                missing.erase(found, 4);
        }
        at = dataOffset + length;
    }
    if (!ram)
        return Status::notAState("the snapshot has no RAM block");
    if (!missing.empty())
        return Status::notAState("the snapshot is cut short (it ends without block" +
                                 std::string(missing.size() > 4 ? "s" : "") + missing + ")");
    return {};
}

Status CheckSnapshot(std::span<const std::uint8_t> image)
{
    return CheckSnapshot(image.size(), [&](std::size_t offset, std::span<std::uint8_t> out) {
        if (offset > image.size() || out.size() > image.size() - offset)
            return false;
        std::memcpy(out.data(), image.data() + offset, out.size());
        return true;
    });
}

}  // namespace unvell
