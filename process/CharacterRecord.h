#pragma once

#include "ImageLayout.h"

#include <array>
#include <cstdint>
#include <span>

namespace Process {

// The image's layout is the decompressor's too; the editor uses its names as its own.
using protocol::ExperienceOffset;
using protocol::kExperienceFieldOffset;
using protocol::kGoldEnd;
using protocol::kGoldOffset;
using protocol::kMinimumImageSize;
using protocol::kPartyBlockEnd;
using protocol::kPartyBlockOffset;
using protocol::kPartyBlockSize;
using protocol::kRecordSize;
using protocol::kSlotCount;

// One party member as the game stores it: 160 packed bytes. Atk and Def start at the odd
// offsets 29 and 31; the Carry fields are bytes the editor does not interpret and writes back
// exactly as read.
struct CharacterRecord {
    std::array<std::uint8_t, 4> Name{};      // 0, the game's character code
    std::array<std::uint8_t, 5> Carry1{};    // 4
    std::uint8_t Status = 0;                 // 9, 0 = no ailment
    std::uint8_t Level = 0;                  // 10
    std::array<std::uint8_t, 1> Carry2{};    // 11
    std::int16_t HpRight = 0;                // 12
    std::int16_t HpLeft = 0;                 // 14
    std::int16_t ApRight = 0;                // 16
    std::int16_t ApLeft = 0;                 // 18
    std::uint16_t ExpLow = 0;                // 20, experience bits 0..15
    std::uint8_t ExpHigh = 0;                // 22, experience bits 16..23
    std::uint8_t Str = 0;                    // 23
    std::uint8_t Vig = 0;                    // 24
    std::uint8_t Wis = 0;                    // 25
    std::uint8_t Agl = 0;                    // 26
    std::uint8_t Mag = 0;                    // 27
    std::uint8_t Luck = 0;                   // 28
    std::int16_t Atk = 0;                    // 29
    std::int16_t Def = 0;                    // 31
    std::uint8_t Int = 0;                    // 33
    std::uint8_t Act = 0;                    // 34
    std::uint8_t Fate = 0;                   // 35
    std::array<std::uint8_t, 124> Carry3{};  // 36..159

    static CharacterRecord fromBytes(std::span<const std::uint8_t, kRecordSize> bytes);
    void toBytes(std::span<std::uint8_t, kRecordSize> bytes) const;

    bool operator==(const CharacterRecord&) const = default;
};

}  // namespace Process
