#pragma once

// Synthetic emulator snapshots in the layouts the decompressor meets, with a known party and
// gold, plain or packed the ways front ends write them.

#include "PartyState.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>

namespace testsupport {

enum class Layout {
    Snes9x0001,  // oldest header; the NAM block's length follows the ROM path
    S9xsnp0009,
    S9xsnp0011,
    Newest,  // fixed eight-byte NAM and a 512 KiB SRA block
};

enum class Packing {
    Plain,
    Gzip,              // as the emulator writes it
    GzipNamedMembers,  // FNAME in the header and the data split over two members
    Rzip,
};

struct StateRecipe {
    Layout layout = Layout::S9xsnp0011;
    Process::PartyBlock party = SampleParty();
    std::uint32_t gold = 12345;
    QString romPath = QStringLiteral("/home/player/roms/Cindral I.smc");
    std::uint32_t seed = 1;

    static Process::PartyBlock SampleParty(std::uint32_t seed = 7);
};

QByteArray MakeImage(const StateRecipe& recipe);
QByteArray Pack(const QByteArray& image, Packing packing);
// Adds the columns "layout" and "packing" and one row for each pair, to a QtTest data table.
void AddEveryLayoutAndPacking();

// "RAM:131072:", the header in front of each block's data.
QByteArray BlockHeader(const char* name, int size);
QString LayoutName(Layout layout);
QString PackingName(Packing packing);

// Slot n of the party, for tests that know n is 1..4.
inline Process::Slot S(int n)
{
    return Process::Slot::fromNumber(n).value();
}

// Writes `bytes` to `path`, replacing any file; aborts the test run on failure.
void WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

}  // namespace testsupport

Q_DECLARE_METATYPE(testsupport::Layout)
Q_DECLARE_METATYPE(testsupport::Packing)
