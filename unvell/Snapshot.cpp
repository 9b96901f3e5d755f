#include "Snapshot.h"

#include "ImageLayout.h"

#include <cctype>
#include <cstring>

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
    if (image.size() < kSignatureLength + 1 ||
        (std::memcmp(image.data(), "#!snes9x:", 9) != 0 &&
         std::memcmp(image.data(), "#!s9xsnp:", 9) != 0) ||
        !IsDigits(image.subspan(9, 4)) || image[kSignatureLength] != '\n')
        return "not an emulator snapshot (no \"#!snes9x:\" or \"#!s9xsnp:\" first line)";

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
        if (size > image.size() - dataOffset)
            return "the snapshot is cut short inside block " + BlockName(header);
        if (BlockName(header) == "RAM") {
            if (size != kRamBlockSize)
                return "the RAM block holds " + std::to_string(size) + " bytes instead of " +
                       std::to_string(kRamBlockSize);
            if (dataOffset > std::size_t(Process::kPartyBlockOffset) ||
                dataOffset + size < std::size_t(Process::kGoldEnd))
                return "the RAM block does not lie where this game keeps its party";
            return {};
        }
        at = dataOffset + size;
    }
    return "the snapshot has no RAM block";
}

}  // namespace unvell
