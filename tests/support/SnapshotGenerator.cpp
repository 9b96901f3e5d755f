#include "SnapshotGenerator.h"

#include "ImageLayout.h"
#include "NameCodec.h"
#include "PartyImage.h"

#include <QFile>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

namespace testsupport {
namespace {

class Lcg
{
public:
    explicit Lcg(std::uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    std::uint32_t next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return m_state >> 8;
    }

private:
    std::uint32_t m_state;
};

struct Block {
    const char* name;
    int size;
};

// Block sizes of the emulator's layouts, close enough to real ones for the walk to matter.
std::vector<Block> BlocksOf(Layout layout, int namSize)
{
    switch (layout) {
    case Layout::Snes9x0001:
        return {{"NAM", namSize}, {"CPU", 47},     {"REG", 14},     {"PPU", 2785},  {"DMA", 96},
                {"VRA", 65536},   {"RAM", 131072}, {"SRA", 131072}, {"FIL", 32768}, {"SND", 65536}};
    case Layout::S9xsnp0009:
        return {{"NAM", namSize}, {"CPU", 58},    {"REG", 18},     {"PPU", 3126},
                {"DMA", 128},     {"VRA", 65536}, {"RAM", 131072}, {"SRA", 131072},
                {"FIL", 32768},   {"SND", 66560}, {"CTL", 44},     {"TIM", 52}};
    case Layout::S9xsnp0011:
        return {{"NAM", namSize}, {"CPU", 62},     {"REG", 18},     {"PPU", 3183},  {"DMA", 128},
                {"VRA", 65536},   {"RAM", 131072}, {"SRA", 131072}, {"FIL", 32768}, {"SND", 66800},
                {"CTL", 44},      {"TIM", 52},     {"SHO", 0}};
    case Layout::Newest:
        return {{"NAM", 8},     {"CPU", 62},    {"REG", 18},     {"PPU", 3183},
                {"DMA", 128},   {"VRA", 65536}, {"RAM", 131072}, {"SRA", 524288},
                {"FIL", 32768}, {"SND", 66800}, {"CTL", 44},     {"TIM", 52}};
    }
    return {};
}

const char* SignatureOf(Layout layout)
{
    switch (layout) {
    case Layout::Snes9x0001: return "#!snes9x:0001\n";
    case Layout::S9xsnp0009: return "#!s9xsnp:0009\n";
    case Layout::S9xsnp0011: return "#!s9xsnp:0011\n";
    case Layout::Newest: return "#!s9xsnp:0012\n";
    }
    return "";
}

// Mostly runs, about a quarter noise: compresses to roughly what real states do.
void Fill(char* data, int size, Lcg& rng)
{
    for (int at = 0; at < size; at += 64) {
        const int n = std::min(64, size - at);
        const bool noisy = rng.next() % 100 < 24;
        const char run = char(rng.next() % 4 == 0 ? rng.next() : 0);
        for (int i = 0; i < n; ++i)
            data[at + i] = noisy ? char(rng.next()) : run;
    }
}

QByteArray Deflate(const QByteArray& data, int windowBits)
{
    z_stream zs{};
    if (deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    QByteArray out(int(deflateBound(&zs, uLong(data.size()))) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END)
        std::abort();
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

void AppendLe(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// A gzip member written by hand so that its header carries FNAME.
QByteArray NamedGzipMember(const QByteArray& data, const char* name)
{
    QByteArray out("\x1f\x8b\x08\x08", 4);
    AppendLe(out, 0x5F000000u, 4);  // mtime
    out.append('\0').append('\3');  // extra flags, OS
    out.append(name).append('\0');
    out.append(Deflate(data, -MAX_WBITS));
    AppendLe(out, crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())), 4);
    AppendLe(out, std::uint64_t(data.size()), 4);
    return out;
}

QByteArray Rzip(const QByteArray& image)
{
    constexpr int kChunk = 128 * 1024;
    QByteArray out("#RZIPv\x01#", 8);
    AppendLe(out, kChunk, 4);
    AppendLe(out, std::uint64_t(image.size()), 8);
    for (qsizetype at = 0; at < image.size(); at += kChunk) {
        const QByteArray stream = Deflate(image.mid(at, kChunk), MAX_WBITS);
        AppendLe(out, std::uint64_t(stream.size()), 4);
        out.append(stream);
    }
    return out;
}

}  // namespace

Process::PartyBlock StateRecipe::SampleParty(std::uint32_t seed)
{
    Lcg rng(seed);
    static const char* const names[] = {"Rhea", "Orin", "Kael", "Sif/"};
    Process::PartyBlock block;
    for (Process::Slot s : Process::Slot::all()) {
        Process::CharacterRecord& r = block[s];
        r.Name = Process::NameFieldFromText(QString::fromLatin1(names[s.index()]));
        for (auto& b : r.Carry1)
            b = std::uint8_t(rng.next());
        r.Status = s.number() == 3 ? 4 : 0;
        r.Level = std::uint8_t(10 + 7 * s.number());
        r.Carry2[0] = std::uint8_t(rng.next());
        r.HpLeft = std::int16_t(300 + 61 * s.number());
        r.HpRight = std::int16_t(r.HpLeft + 40);
        r.ApLeft = std::int16_t(50 + 13 * s.number());
        r.ApRight = std::int16_t(r.ApLeft + 10);
        const std::uint32_t exp = 12000u * std::uint32_t(s.number()) + 345u;
        r.ExpLow = std::uint16_t(exp & 0xFFFF);
        r.ExpHigh = std::uint8_t(exp >> 16);
        r.Str = std::uint8_t(20 + s.number());
        r.Vig = std::uint8_t(21 + s.number());
        r.Wis = std::uint8_t(22 + s.number());
        r.Agl = std::uint8_t(23 + s.number());
        r.Mag = std::uint8_t(24 + s.number());
        r.Luck = std::uint8_t(25 + s.number());
        r.Atk = std::int16_t(100 + 11 * s.number());
        r.Def = std::int16_t(90 + 9 * s.number());
        r.Int = std::uint8_t(30 + s.number());
        r.Act = std::uint8_t(31 + s.number());
        r.Fate = std::uint8_t(32 + s.number());
        for (auto& b : r.Carry3)
            b = std::uint8_t(rng.next());
    }
    return block;
}

QByteArray MakeImage(const StateRecipe& recipe)
{
    Lcg rng(recipe.seed);
    const QByteArray rom = recipe.romPath.toUtf8();
    QByteArray image(SignatureOf(recipe.layout));
    qsizetype ramStart = -1;
    for (const Block& block : BlocksOf(recipe.layout, int(rom.size()) + 1)) {
        image.append(BlockHeader(block.name, block.size));
        const qsizetype start = image.size();
        image.resize(start + block.size);
        if (std::strcmp(block.name, "NAM") == 0 && recipe.layout != Layout::Newest) {
            std::memcpy(image.data() + start, rom.constData(), size_t(rom.size()));
            image[start + rom.size()] = '\0';
        } else if (std::strcmp(block.name, "NAM") == 0) {
            std::memcpy(image.data() + start, "CINDRAL\0", 8);
        } else {
            Fill(image.data() + start, block.size, rng);
        }
        if (std::strcmp(block.name, "RAM") == 0)
            ramStart = start;
    }
    if (ramStart < 0 || ramStart > Process::kPartyBlockOffset)
        std::abort();  // a layout that does not put the party inside RAM is a generator bug
    Process::WritePartyBlock(image, recipe.party);
    const auto gold = qsizetype(Process::kGoldOffset);
    image[gold] = char(recipe.gold & 0xFF);
    image[gold + 1] = char((recipe.gold >> 8) & 0xFF);
    image[gold + 2] = char((recipe.gold >> 16) & 0xFF);
    return image;
}

QByteArray Pack(const QByteArray& image, Packing packing)
{
    switch (packing) {
    case Packing::Plain: return image;
    case Packing::Gzip: return Deflate(image, MAX_WBITS + 16);
    case Packing::GzipNamedMembers: {
        const qsizetype half = image.size() / 2;
        return NamedGzipMember(image.left(half), "game.000") +
               NamedGzipMember(image.mid(half), "game.000");
    }
    case Packing::Rzip: return Rzip(image);
    }
    return {};
}

void AddEveryLayoutAndPacking()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<Packing>("packing");
    for (Layout l : {Layout::Snes9x0001, Layout::S9xsnp0009, Layout::S9xsnp0011, Layout::Newest})
        for (Packing p : {Packing::Plain, Packing::Gzip, Packing::GzipNamedMembers, Packing::Rzip})
            QTest::newRow(qPrintable(LayoutName(l) + " " + PackingName(p))) << l << p;
}

QByteArray BlockHeader(const char* name, int size)
{
    char header[32];
    const int n = std::snprintf(header, sizeof header, "%s:%06d:", name, size);
    return QByteArray(header, n);
}

QString LayoutName(Layout layout)
{
    return QString::fromLatin1(SignatureOf(layout)).trimmed();
}

QString PackingName(Packing packing)
{
    switch (packing) {
    case Packing::Plain: return QStringLiteral("plain");
    case Packing::Gzip: return QStringLiteral("gzip");
    case Packing::GzipNamedMembers: return QStringLiteral("gzip-fname-members");
    case Packing::Rzip: return QStringLiteral("rzip");
    }
    return {};
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

}  // namespace testsupport
