#include "MemberFields.h"

#include <QString>

#include <type_traits>

namespace Process {
namespace {

using R = CharacterRecord;

// In the order the window fills its boxes. A new field is a line here, its record member (and
// its line in the record's layout), and its box in the window's tables.
constexpr std::array<NumericFieldInfo, 17> kFields{{
    {NumericField::Exp, "exp", kExperienceLimit, {}},
    {NumericField::Level, "level", kByteLimit, &R::Level},
    {NumericField::HpLeft, "hpl", kWordLimit, &R::HpLeft},
    {NumericField::HpRight, "hpr", kWordLimit, &R::HpRight},
    {NumericField::ApLeft, "apl", kWordLimit, &R::ApLeft},
    {NumericField::ApRight, "apr", kWordLimit, &R::ApRight},
    {NumericField::Str, "str", kByteLimit, &R::Str},
    {NumericField::Agl, "agl", kByteLimit, &R::Agl},
    {NumericField::Vig, "vig", kByteLimit, &R::Vig},
    {NumericField::Wis, "wis", kByteLimit, &R::Wis},
    {NumericField::Mag, "mag", kByteLimit, &R::Mag},
    {NumericField::Luck, "luck", kByteLimit, &R::Luck},
    {NumericField::Atk, "atk", kWordLimit, &R::Atk},
    {NumericField::Def, "def", kWordLimit, &R::Def},
    {NumericField::Int, "int", kByteLimit, &R::Int},
    {NumericField::Fate, "fate", kByteLimit, &R::Fate},
    {NumericField::Act, "act", kByteLimit, &R::Act},
}};

}  // namespace

const NumericFieldInfo& InfoOf(NumericField field)
{
    for (const auto& info : kFields)
        if (info.field == field)
            return info;
    return kFields.front();  // every field has its line above
}

std::span<const NumericFieldInfo> NumericFields()
{
    return kFields;
}

const NumericFieldInfo* FindNumericField(QStringView key)
{
    for (const auto& info : kFields)
        if (key == QLatin1String(info.key))
            return &info;
    return nullptr;
}

std::int32_t FieldValue(const PartyState& party, Slot slot, NumericField field)
{
    const RecordMember& member = InfoOf(field).member;
    if (std::holds_alternative<std::monostate>(member))
        return party.experience[slot];
    return std::visit(
        [&](auto pointer) -> std::int32_t {
            if constexpr (std::is_same_v<decltype(pointer), std::monostate>)
                return 0;
            else
                return party.block[slot].*pointer;
        },
        member);
}

void SetFieldValue(PartyState& party, Slot slot, NumericField field, std::int32_t value)
{
    const RecordMember& member = InfoOf(field).member;
    if (std::holds_alternative<std::monostate>(member)) {
        party.experience[slot] = value;
        return;
    }
    std::visit(
        [&](auto pointer) {
            if constexpr (!std::is_same_v<decltype(pointer), std::monostate>) {
                auto& target = party.block[slot].*pointer;
                target = static_cast<std::remove_cvref_t<decltype(target)>>(value);
            }
        },
        member);
}

void MergeEdits(const PartyState& asLoaded, const PartyState& edited, PartyState& onto)
{
    for (Slot s : Slot::all()) {
        const CharacterRecord& was = asLoaded.block[s];
        const CharacterRecord& is = edited.block[s];
        if (is.Name != was.Name)
            onto.block[s].Name = is.Name;
        if (is.Status != was.Status)
            onto.block[s].Status = is.Status;
        for (const NumericFieldInfo& info : kFields) {
            const std::int32_t value = FieldValue(edited, s, info.field);
            if (value != FieldValue(asLoaded, s, info.field))
                SetFieldValue(onto, s, info.field, value);
        }
    }
}

}  // namespace Process
