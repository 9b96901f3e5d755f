#include "CharacterRecord.h"

#include "ByteOrder.h"

#include <algorithm>
#include <tuple>
#include <type_traits>

namespace Process {
namespace {

// Where each member lies in the record's 160 bytes, and so how it is read and written.
template <class T> struct At {
    std::size_t offset;
    T CharacterRecord::*member;
};

constexpr auto kLayout = std::make_tuple(
    At<std::array<std::uint8_t, 4>>{0, &CharacterRecord::Name},
    At<std::array<std::uint8_t, 5>>{4, &CharacterRecord::Carry1},
    At<std::uint8_t>{9, &CharacterRecord::Status}, At<std::uint8_t>{10, &CharacterRecord::Level},
    At<std::array<std::uint8_t, 1>>{11, &CharacterRecord::Carry2},
    At<std::int16_t>{12, &CharacterRecord::HpRight}, At<std::int16_t>{14, &CharacterRecord::HpLeft},
    At<std::int16_t>{16, &CharacterRecord::ApRight}, At<std::int16_t>{18, &CharacterRecord::ApLeft},
    At<std::uint16_t>{20, &CharacterRecord::ExpLow},
    At<std::uint8_t>{22, &CharacterRecord::ExpHigh}, At<std::uint8_t>{23, &CharacterRecord::Str},
    At<std::uint8_t>{24, &CharacterRecord::Vig}, At<std::uint8_t>{25, &CharacterRecord::Wis},
    At<std::uint8_t>{26, &CharacterRecord::Agl}, At<std::uint8_t>{27, &CharacterRecord::Mag},
    At<std::uint8_t>{28, &CharacterRecord::Luck}, At<std::int16_t>{29, &CharacterRecord::Atk},
    At<std::int16_t>{31, &CharacterRecord::Def}, At<std::uint8_t>{33, &CharacterRecord::Int},
    At<std::uint8_t>{34, &CharacterRecord::Act}, At<std::uint8_t>{35, &CharacterRecord::Fate},
    At<std::array<std::uint8_t, 124>>{36, &CharacterRecord::Carry3});

template <class T> void Read(std::span<const std::uint8_t> b, std::size_t at, T& out)
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        out = le::U8(b, at);
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        out = le::U16(b, at);
    else if constexpr (std::is_same_v<T, std::int16_t>)
        out = le::I16(b, at);
    else
        std::copy_n(b.begin() + std::ptrdiff_t(at), out.size(), out.begin());
}

template <class T> void Write(std::span<std::uint8_t> b, std::size_t at, const T& in)
{
    if constexpr (std::is_same_v<T, std::uint8_t>)
        le::PutU8(b, at, in);
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        le::PutU16(b, at, in);
    else if constexpr (std::is_same_v<T, std::int16_t>)
        le::PutI16(b, at, in);
    else
        std::copy(in.begin(), in.end(), b.begin() + std::ptrdiff_t(at));
}

}  // namespace

CharacterRecord CharacterRecord::fromBytes(std::span<const std::uint8_t, kRecordSize> b)
{
    CharacterRecord r;
    std::apply([&](const auto&... field) { (Read(b, field.offset, r.*field.member), ...); },
               kLayout);
    return r;
}

void CharacterRecord::toBytes(std::span<std::uint8_t, kRecordSize> b) const
{
    std::apply([&](const auto&... field) { (Write(b, field.offset, this->*field.member), ...); },
               kLayout);
}

}  // namespace Process
