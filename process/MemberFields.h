#pragma once

// The editable fields of a member, described once for every front end: which record field or
// experience entry a field edits, its key on the command line, its limit.

#include "PartyState.h"

#include <array>
#include <cstdint>
#include <span>
#include <variant>

namespace Process {

enum class NumericField {
    Exp,
    Level,
    HpLeft,
    HpRight,
    ApLeft,
    ApRight,
    Str,
    Vig,
    Wis,
    Agl,
    Mag,
    Luck,
    Atk,
    Def,
    Int,
    Act,
    Fate,
};

// The record member a field edits; experience has none (it lives in PartyExperience).
using RecordMember =
    std::variant<std::monostate, std::uint8_t CharacterRecord::*, std::int16_t CharacterRecord::*>;

struct NumericFieldInfo {
    NumericField field;
    const char* key;     // command-line name, as in "level=42"
    std::int32_t limit;  // the box holds 0..limit
    RecordMember member;
};

inline constexpr std::int32_t kExperienceLimit = 99999;
inline constexpr std::int32_t kByteLimit = 255;
inline constexpr std::int32_t kWordLimit = 999;

// In the order the window fills its boxes.
std::span<const NumericFieldInfo> NumericFields();
const NumericFieldInfo* FindNumericField(QStringView key);
const NumericFieldInfo& InfoOf(NumericField field);

// Experience comes from PartyExperience, every other field from the slot's record.
std::int32_t FieldValue(const PartyState& party, Slot slot, NumericField field);
// `value` must lie in 0..limit of the field, as the clamp rule guarantees.
void SetFieldValue(PartyState& party, Slot slot, NumericField field, std::int32_t value);

// Carries every field that `edited` changed against `asLoaded` (the name, each number, the
// ailment state, each experience value) onto `onto`; the rest of `onto` stays as it is.
void MergeEdits(const PartyState& asLoaded, const PartyState& edited, PartyState& onto);

// "No Ailments": checked when Status is 0; checking stores 0, unchecking stores 32.
inline constexpr std::uint8_t kAilingStatus = 32;
inline bool HasNoAilments(const CharacterRecord& r)
{
    return r.Status == 0;
}
inline void SetNoAilments(CharacterRecord& r, bool noAilments)
{
    r.Status = noAilments ? 0 : kAilingStatus;
}

}  // namespace Process
