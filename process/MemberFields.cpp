#include "MemberFields.h"

#include <QString>

#include <type_traits>

namespace Process {
namespace {

using R = CharacterRecord;

// In the order the window fills its boxes. A new field is a line here, its record member (and
// its line in the record's layout) and its box's place in the window.
constexpr std::array<NumericFieldInfo, 17> kFields{{
    {NumericField::Exp, "exp", "txtExp", kExperienceLimit, {}},
    {NumericField::Level, "level", "txtLevel", kByteLimit, &R::Level},
    {NumericField::HpLeft, "hpl", "txtHPL", kWordLimit, &R::HpLeft},
    {NumericField::HpRight, "hpr", "txtHPR", kWordLimit, &R::HpRight},
    {NumericField::ApLeft, "apl", "txtAPL", kWordLimit, &R::ApLeft},
    {NumericField::ApRight, "apr", "txtAPR", kWordLimit, &R::ApRight},
    {NumericField::Str, "str", "txtStr", kByteLimit, &R::Str},
    {NumericField::Agl, "agl", "txtAgl", kByteLimit, &R::Agl},
    {NumericField::Vig, "vig", "txtVig", kByteLimit, &R::Vig},
    {NumericField::Wis, "wis", "txtWis", kByteLimit, &R::Wis},
    {NumericField::Mag, "mag", "txtMag", kByteLimit, &R::Mag},
    {NumericField::Luck, "luck", "txtLuck", kByteLimit, &R::Luck},
    {NumericField::Atk, "atk", "txtAtk", kWordLimit, &R::Atk},
    {NumericField::Def, "def", "txtDef", kWordLimit, &R::Def},
    {NumericField::Int, "int", "txtInt", kByteLimit, &R::Int},
    {NumericField::Fate, "fate", "txtFate", kByteLimit, &R::Fate},
    {NumericField::Act, "act", "txtAct", kByteLimit, &R::Act},
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
