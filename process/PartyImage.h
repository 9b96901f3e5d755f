#pragma once

// Reading and patching the party data inside a plain state image.

#include "PartyState.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace Process {

inline constexpr std::uint32_t kMaxGold = 999999;

// Experience from a record's two fields: low + 65536 * high, 0..16777215.
std::int32_t ComposeExperience(std::uint16_t low, std::uint8_t high);

// The image must hold at least kMinimumImageSize bytes; the staging guarantees it.
PartyBlock ReadPartyBlock(const QByteArray& image);
PartyExperience ComposePartyExperience(const PartyBlock& block);
void WritePartyBlock(QByteArray& image, const PartyBlock& block);

// Gold is 24-bit.
std::uint32_t ReadGold(const QByteArray& image);

// Every write a save makes into a freshly staged image, in the order the game's data expects:
// the whole block, the gold if asked, then each member's experience from `experience`.
void ApplyParty(QByteArray& image, const PartyBlock& block, const PartyExperience& experience,
                bool goldMaxOut);

}  // namespace Process
