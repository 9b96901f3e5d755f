#include "Container.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace unvell {
namespace {

constexpr std::uint8_t kGzipMagic[] = {0x1f, 0x8b};
constexpr char kRzipMagic[] = "#RZIPv";
constexpr std::size_t kRzipHeaderSize = 20;
constexpr std::uint8_t kRzipVersion = 1;

bool StartsWith(std::span<const std::uint8_t> data, const void* prefix, std::size_t size)
{
    return data.size() >= size && std::memcmp(data.data(), prefix, size) == 0;
}

std::uint32_t ReadU32(std::span<const std::uint8_t> d, std::size_t at)
{
    return std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8 | std::uint32_t(d[at + 2]) << 16 |
           std::uint32_t(d[at + 3]) << 24;
}

std::uint64_t ReadU64(std::span<const std::uint8_t> d, std::size_t at)
{
    return std::uint64_t(ReadU32(d, at)) | std::uint64_t(ReadU32(d, at + 4)) << 32;
}

std::string TooLarge(std::size_t cap)
{
    return "the state inflates to more than " + std::to_string(cap / (1024 * 1024)) +
           " MiB, which no state can be";
}

// Inflates one zlib or gzip stream, and for gzip every member that follows it, appending to
// `out`. `windowBits` selects the wrapper as zlib's inflateInit2 does.
std::string InflateStream(std::span<const std::uint8_t> in, int windowBits, bool gzipMembers,
                          std::vector<std::uint8_t>& out, std::size_t cap)
{
    if (in.size() > std::numeric_limits<uInt>::max())
        return "the compressed data is too large";
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return "zlib could not be initialised";
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());

    std::string error;
    for (;;) {
        // Room for one byte past the cap, so that overflowing it is seen rather than clipped.
        const std::size_t room = std::min<std::size_t>(256 * 1024, cap + 1 - out.size());
        const std::size_t before = out.size();
        out.resize(before + room);
        zs.next_out = out.data() + before;
        zs.avail_out = static_cast<uInt>(room);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        out.resize(before + (room - zs.avail_out));
        if (out.size() > cap) {
            error = TooLarge(cap);
            break;
        }
        if (rc == Z_STREAM_END) {
            if (zs.avail_in == 0)
                break;
            if (!gzipMembers) {
                error = "unexpected data after a compressed chunk";
                break;
            }
            std::span<const std::uint8_t> rest(zs.next_in, zs.avail_in);
            if (StartsWith(rest, kGzipMagic, sizeof kGzipMagic)) {
                inflateReset(&zs);
                continue;
            }
            // Some writers pad a gzip file with zero bytes; anything else is damage.
            if (std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; }))
                break;
            error = "unexpected data after the compressed stream";
            break;
        }
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
            error = "the compressed data ends early (the file is cut short)";
            break;
        }
        error = std::string("the compressed data is damaged") + (zs.msg ? std::string(" (") + zs.msg + ")" : "");
        break;
    }
    inflateEnd(&zs);
    return error;
}

InflateResult InflateRzip(std::span<const std::uint8_t> in, std::size_t cap)
{
    InflateResult result;
    if (in.size() < kRzipHeaderSize) {
        result.error = "the RZIP header is cut short";
        return result;
    }
    if (in[6] != kRzipVersion || in[7] != '#') {
        result.error = "unsupported RZIP version " + std::to_string(in[6]);
        return result;
    }
    const std::uint32_t chunkSize = ReadU32(in, 8);
    const std::uint64_t total = ReadU64(in, 12);
    if (total > cap) {
        result.error = TooLarge(cap);
        return result;
    }
    if (chunkSize == 0) {
        result.error = "the RZIP header gives a chunk size of 0";
        return result;
    }
    result.image.reserve(static_cast<std::size_t>(total));
    std::size_t at = kRzipHeaderSize;
    while (at < in.size()) {
        if (in.size() - at < 4) {
            result.error = "an RZIP chunk header is cut short";
            return result;
        }
        const std::uint32_t length = ReadU32(in, at);
        at += 4;
        if (length > in.size() - at) {
            result.error = "an RZIP chunk is cut short";
            return result;
        }
        const std::size_t before = result.image.size();
        result.error = InflateStream(in.subspan(at, length), MAX_WBITS, false, result.image,
                                     static_cast<std::size_t>(total));
        if (!result.ok())
            return result;
        if (result.image.size() - before > chunkSize) {
            result.error = "an RZIP chunk inflates past the chunk size";
            return result;
        }
        at += length;
    }
    if (result.image.size() != total) {
        result.error = "the RZIP data holds " + std::to_string(result.image.size()) +
                       " bytes instead of the " + std::to_string(total) + " its header gives";
    }
    return result;
}

}  // namespace

ContainerKind DetectContainer(std::span<const std::uint8_t> input)
{
    if (StartsWith(input, kGzipMagic, sizeof kGzipMagic))
        return ContainerKind::Gzip;
    if (StartsWith(input, kRzipMagic, sizeof kRzipMagic - 1))
        return ContainerKind::Rzip;
    if (StartsWith(input, "#!", 2))
        return ContainerKind::Plain;
    return ContainerKind::Unknown;
}

InflateResult InflateContainer(std::span<const std::uint8_t> input, std::size_t cap)
{
    InflateResult result;
    switch (DetectContainer(input)) {
    case ContainerKind::Gzip:
        // The last member's trailer gives its plain size; a good first guess for the whole.
        if (input.size() >= 18)
            result.image.reserve(std::min<std::size_t>(ReadU32(input, input.size() - 4), cap));
        result.error = InflateStream(input, MAX_WBITS + 16, true, result.image, cap);
        break;
    case ContainerKind::Rzip:
        result = InflateRzip(input, cap);
        break;
    case ContainerKind::Plain:
        if (input.size() > cap)
            result.error = TooLarge(cap);
        else
            result.image.assign(input.begin(), input.end());
        break;
    case ContainerKind::Unknown:
        result.error = "not a save state (neither gzip, RZIP nor a plain snapshot)";
        break;
    }
    if (!result.ok())
        result.image.clear();
    return result;
}

}  // namespace unvell
