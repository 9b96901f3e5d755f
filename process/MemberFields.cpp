#include "MemberFields.h"

#include <QString>

#include <type_traits>

namespace Process {
namespace {

constexpr std::array<NumericFieldInfo, 17> kFields{{
    {NumericField::Exp, "exp", "txtExp", kExperienceLimit},
    {NumericField::Level, "level", "txtLevel", kByteLimit},
    {NumericField::HpLeft, "hpl", "txtHPL", kWordLimit},
    {NumericField::HpRight, "hpr", "txtHPR", kWordLimit},
    {NumericField::ApLeft, "apl", "txtAPL", kWordLimit},
    {NumericField::ApRight, "apr", "txtAPR", kWordLimit},
    {NumericField::Str, "str", "txtStr", kByteLimit},
    {NumericField::Agl, "agl", "txtAgl", kByteLimit},
    {NumericField::Vig, "vig", "txtVig", kByteLimit},
    {NumericField::Wis, "wis", "txtWis", kByteLimit},
    {NumericField::Mag, "mag", "txtMag", kByteLimit},
    {NumericField::Luck, "luck", "txtLuck", kByteLimit},
    {NumericField::Atk, "atk", "txtAtk", kWordLimit},
    {NumericField::Def, "def", "txtDef", kWordLimit},
    {NumericField::Int, "int", "txtInt", kByteLimit},
    {NumericField::Fate, "fate", "txtFate", kByteLimit},
    {NumericField::Act, "act", "txtAct", kByteLimit},
}};

// The record member a field lives in; Exp has none (it lives in PartyExperience).
template <class Record, class Visit> void WithMember(Record& r, NumericField field, Visit&& visit)
{
    switch (field) {
    case NumericField::Exp: break;
    case NumericField::Level: visit(r.Level); break;
    case NumericField::HpLeft: visit(r.HpLeft); break;
    case NumericField::HpRight: visit(r.HpRight); break;
    case NumericField::ApLeft: visit(r.ApLeft); break;
    case NumericField::ApRight: visit(r.ApRight); break;
    case NumericField::Str: visit(r.Str); break;
    case NumericField::Vig: visit(r.Vig); break;
    case NumericField::Wis: visit(r.Wis); break;
    case NumericField::Agl: visit(r.Agl); break;
    case NumericField::Mag: visit(r.Mag); break;
    case NumericField::Luck: visit(r.Luck); break;
    case NumericField::Atk: visit(r.Atk); break;
    case NumericField::Def: visit(r.Def); break;
    case NumericField::Int: visit(r.Int); break;
    case NumericField::Act: visit(r.Act); break;
    case NumericField::Fate: visit(r.Fate); break;
    }
}

}  // namespace

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
    if (field == NumericField::Exp)
        return party.experience[slot];
    std::int32_t value = 0;
    WithMember(party.block[slot], field, [&](const auto& member) { value = member; });
    return value;
}

void SetFieldValue(PartyState& party, Slot slot, NumericField field, std::int32_t value)
{
    if (field == NumericField::Exp) {
        party.experience[slot] = value;
        return;
    }
    WithMember(party.block[slot], field, [&](auto& member) {
        member = static_cast<std::remove_cvref_t<decltype(member)>>(value);
    });
}

}  // namespace Process
