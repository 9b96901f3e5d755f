#include "PartyImage.h"

#include "ByteOrder.h"

#include <cassert>

namespace Process {
namespace {

std::span<std::uint8_t> Bytes(QByteArray& image)
{
    return {reinterpret_cast<std::uint8_t*>(image.data()), std::size_t(image.size())};
}

std::span<const std::uint8_t> Bytes(const QByteArray& image)
{
    return {reinterpret_cast<const std::uint8_t*>(image.constData()), std::size_t(image.size())};
}

std::size_t RecordOffset(Slot s)
{
    return std::size_t(kPartyBlockOffset) + s.index() * kRecordSize;
}

// Writes value's low, middle and high byte at offset.
void WriteExperience(QByteArray& image, std::int64_t offset, std::int32_t value)
{
    assert(offset >= 0 && offset + 3 <= image.size());
    const auto v = static_cast<std::uint32_t>(value);
    auto bytes = Bytes(image);
    bytes[std::size_t(offset)] = std::uint8_t(v & 0xFF);
    bytes[std::size_t(offset) + 1] = std::uint8_t((v >> 8) & 0xFF);
    bytes[std::size_t(offset) + 2] = std::uint8_t((v >> 16) & 0xFF);
}

// The maximum goes in as the 16-bit 16959 then the byte 15, which is 999999.
void WriteMaxGold(QByteArray& image)
{
    assert(image.size() >= kGoldEnd);
    auto bytes = Bytes(image);
    le::PutU16(bytes, std::size_t(kGoldOffset), std::uint16_t(kMaxGold & 0xFFFF));  // 16959
    le::PutU8(bytes, std::size_t(kGoldOffset) + 2, std::uint8_t(kMaxGold >> 16));   // 15
}

}  // namespace

std::int32_t ComposeExperience(std::uint16_t low, std::uint8_t high)
{
    return std::int32_t(low) + 65536 * std::int32_t(high);
}

PartyBlock ReadPartyBlock(const QByteArray& image)
{
    assert(image.size() >= kPartyBlockEnd);
    const auto bytes = Bytes(image);
    PartyBlock block;
    for (Slot s : Slot::all())
        block[s] = CharacterRecord::fromBytes(bytes.subspan(RecordOffset(s)).first<kRecordSize>());
    return block;
}

PartyExperience ComposePartyExperience(const PartyBlock& block)
{
    PartyExperience experience;
    for (Slot s : Slot::all())
        experience[s] = ComposeExperience(block[s].ExpLow, block[s].ExpHigh);
    return experience;
}

void WritePartyBlock(QByteArray& image, const PartyBlock& block)
{
    assert(image.size() >= kPartyBlockEnd);
    auto bytes = Bytes(image);
    for (Slot s : Slot::all())
        block[s].toBytes(bytes.subspan(RecordOffset(s)).first<kRecordSize>());
}

std::uint32_t ReadGold(const QByteArray& image)
{
    assert(image.size() >= kGoldEnd);
    const auto bytes = Bytes(image);
    return le::U16(bytes, std::size_t(kGoldOffset)) |
           std::uint32_t(le::U8(bytes, std::size_t(kGoldOffset) + 2)) << 16;
}

void ApplyParty(QByteArray& image, const PartyBlock& block, const PartyExperience& experience,
                bool goldMaxOut)
{
    WritePartyBlock(image, block);
    if (goldMaxOut)
        WriteMaxGold(image);
    for (Slot s : Slot::all())
        WriteExperience(image, ExperienceOffset(s.number()), experience[s]);
}

}  // namespace Process
