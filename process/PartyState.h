#pragma once

#include "CharacterRecord.h"
#include "Outcome.h"

#include <array>
#include <cstdint>

namespace Process {

// A party slot, 1..4. It can only be made from a number through fromNumber, so a record or an
// experience entry is never reached with a slot outside the party.
class Slot
{
public:
    static Result<Slot> fromNumber(int number)
    {
        if (number < 1 || number > kSlotCount)
            return Outcome::failure(ErrorKind::InvalidSlot,
                                    QStringLiteral("Slot %1 does not exist; the party has slots 1 "
                                                   "to %2.")
                                        .arg(number)
                                        .arg(kSlotCount));
        return Slot(number);
    }
    static constexpr std::array<Slot, kSlotCount> all()
    {
        return {Slot(1), Slot(2), Slot(3), Slot(4)};
    }

    constexpr int number() const { return m_number; }
    constexpr std::size_t index() const { return std::size_t(m_number - 1); }
    bool operator==(const Slot&) const = default;

private:
    constexpr explicit Slot(int number) : m_number(number) {}
    int m_number;
};

// Four entries indexed by Slot.
template <class T> class SlotTable
{
public:
    T& operator[](Slot s) { return m_items[s.index()]; }
    const T& operator[](Slot s) const { return m_items[s.index()]; }
    bool operator==(const SlotTable&) const = default;

private:
    std::array<T, kSlotCount> m_items{};
};

using PartyBlock = SlotTable<CharacterRecord>;
// Each member's experience as a plain number. The editor edits this, not the record's
// ExpLow/ExpHigh, and a save writes it over the record's experience bytes.
using PartyExperience = SlotTable<std::int32_t>;

// The party as the editor holds it for the whole run; all zero at start.
struct PartyState {
    PartyBlock block;
    PartyExperience experience;
    std::uint8_t selectedSlot = 0;  // 0 until the first display, then 1..4

    Result<Slot> selected() const { return Slot::fromNumber(selectedSlot); }
};

}  // namespace Process
