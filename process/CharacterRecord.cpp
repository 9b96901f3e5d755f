#include "CharacterRecord.h"

#include "ByteOrder.h"

#include <algorithm>

namespace Process {
namespace {

template <std::size_t N>
void ReadRun(std::span<const std::uint8_t> b, std::size_t at, std::array<std::uint8_t, N>& out)
{
    std::copy_n(b.begin() + std::ptrdiff_t(at), N, out.begin());
}

template <std::size_t N>
void WriteRun(std::span<std::uint8_t> b, std::size_t at, const std::array<std::uint8_t, N>& in)
{
    std::copy(in.begin(), in.end(), b.begin() + std::ptrdiff_t(at));
}

}  // namespace

CharacterRecord CharacterRecord::FromBytes(std::span<const std::uint8_t, kRecordSize> b)
{
    CharacterRecord r;
    ReadRun(b, 0, r.Name);
    ReadRun(b, 4, r.Carry1);
    r.Status = le::U8(b, 9);
    r.Level = le::U8(b, 10);
    ReadRun(b, 11, r.Carry2);
    r.HpRight = le::I16(b, 12);
    r.HpLeft = le::I16(b, 14);
    r.ApRight = le::I16(b, 16);
    r.ApLeft = le::I16(b, 18);
    r.ExpLow = le::U16(b, 20);
    r.ExpHigh = le::U8(b, 22);
    r.Str = le::U8(b, 23);
    r.Vig = le::U8(b, 24);
    r.Wis = le::U8(b, 25);
    r.Agl = le::U8(b, 26);
    r.Mag = le::U8(b, 27);
    r.Luck = le::U8(b, 28);
    r.Atk = le::I16(b, 29);
    r.Def = le::I16(b, 31);
    r.Int = le::U8(b, 33);
    r.Act = le::U8(b, 34);
    r.Fate = le::U8(b, 35);
    ReadRun(b, 36, r.Carry3);
    return r;
}

void CharacterRecord::ToBytes(std::span<std::uint8_t, kRecordSize> b) const
{
    WriteRun(b, 0, Name);
    WriteRun(b, 4, Carry1);
    le::PutU8(b, 9, Status);
    le::PutU8(b, 10, Level);
    WriteRun(b, 11, Carry2);
    le::PutI16(b, 12, HpRight);
    le::PutI16(b, 14, HpLeft);
    le::PutI16(b, 16, ApRight);
    le::PutI16(b, 18, ApLeft);
    le::PutU16(b, 20, ExpLow);
    le::PutU8(b, 22, ExpHigh);
    le::PutU8(b, 23, Str);
    le::PutU8(b, 24, Vig);
    le::PutU8(b, 25, Wis);
    le::PutU8(b, 26, Agl);
    le::PutU8(b, 27, Mag);
    le::PutU8(b, 28, Luck);
    le::PutI16(b, 29, Atk);
    le::PutI16(b, 31, Def);
    le::PutU8(b, 33, Int);
    le::PutU8(b, 34, Act);
    le::PutU8(b, 35, Fate);
    WriteRun(b, 36, Carry3);
}

}  // namespace Process
