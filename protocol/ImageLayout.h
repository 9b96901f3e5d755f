#pragma once

// Where the game keeps what the editor changes in the plain state image. Plain constants with no
// Qt, so the decompressor checks an image against the same numbers the editor relies on.

#include <cstdint>

namespace protocol {

inline constexpr std::int64_t kPartyBlockOffset = 72832;  // 0x11C80
inline constexpr int kRecordSize = 160;
inline constexpr int kSlotCount = 4;
inline constexpr int kPartyBlockSize = kRecordSize * kSlotCount;                     // 640
inline constexpr std::int64_t kPartyBlockEnd = kPartyBlockOffset + kPartyBlockSize;  // 73472

inline constexpr int kExperienceFieldOffset = 20;          // within a record
inline constexpr std::int64_t kGoldOffset = 89184;         // 0x15C60, three bytes
inline constexpr std::int64_t kGoldEnd = kGoldOffset + 3;  // 89187

// The shortest image that holds every byte the editor reads or writes.
inline constexpr std::int64_t kMinimumImageSize = kGoldEnd;

constexpr std::int64_t ExperienceOffset(int slotNumber)
{
    return kPartyBlockOffset + std::int64_t(kRecordSize) * (slotNumber - 1) +
           kExperienceFieldOffset;
}

}  // namespace protocol
