#include "Snapshot.h"

#include "ImageLayout.h"
#include "StagingProtocol.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace unvell {
namespace {

constexpr std::size_t kSignatureLength = 13;  // "#!s9xsnp:0011" without the newline
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

std::string CheckSnapshot(std::span<const std::uint8_t> image)
{
    const bool headed = image.size() >= kSignatureLength + 1 && IsDigits(image.subspan(9, 4)) &&
                   image[kSignatureLength] == '\n';
    bool known = false;
    for (std::string_view signature : protocol::kSnapshotSignatures)
        known = known || (image.size() >= signature.size() &&
                          std::memcmp(image.data(), signature.data(), signature.size()) == 0);
    if (!headed || !known)
        return "not an emulator snapshot (no \"#!snes9x:\" or \"#!s9xsnp:\" first line)";

    // Every block must be whole and the image must end with the last one: a state cut short,
    // or rewritten while it was read, ends inside a block or lacks the blocks after RAM.
    bool ram = false;
    std::string missing = " SRA FIL SND";  // written after RAM in every layout of the emulator
    std::size_t at = kSignatureLength + 1;
    while (at < image.size()) {
        if (image.size() - at < kBlockHeaderLength)
            return "the snapshot is cut short inside a block header";
        auto header = image.subspan(at, kBlockHeaderLength);
        for (auto c : header.first(3))
            if (!std::isalnum(c))
                return "the snapshot is damaged (a block has no proper name)";
        if (header[3] != ':' || !IsDigits(header.subspan(4, 6)) || header[10] != ':')
            return "the snapshot is damaged (block " + BlockName(header) + " has no proper length)";
        std::size_t size = 0;
        for (auto c : header.subspan(4, 6))
            size = size * 10 + (c - '0');
        const std::size_t dataOffset = at + kBlockHeaderLength;
        const std::string name = BlockName(header);
        if (size > image.size() - dataOffset)
            return "the snapshot is cut short inside block " + name;
        if (name == "RAM") {
            if (ram)
                return "the snapshot is damaged (it holds two RAM blocks)";
            if (size != kRamBlockSize)
                return "the RAM block holds " + std::to_string(size) + " bytes instead of " +
                       std::to_string(kRamBlockSize);
            // RAM is larger than the party's offsets, so only a late start can miss them.
            if (dataOffset > std::size_t(Process::kPartyBlockOffset))
                return "the RAM block does not lie where this game keeps its party";
            ram = true;
        } else if (ram) {
            if (const auto found = missing.find(" " + name); found != std::string::npos)
                missing.erase(found, 4);
        }
        at = dataOffset + size;
    }
    if (!ram)
        return "the snapshot has no RAM block";
    if (!missing.empty())
        return "the snapshot is cut short (it ends without block" +
               std::string(missing.size() > 4 ? "s" : "") + missing + ")";
    return {};
}

}  // namespace unvell
