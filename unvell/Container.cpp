#include "Container.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include <zlib.h>

namespace unvell {
namespace {

constexpr std::uint8_t kGzipMagic[] = {0x1f, 0x8b};
constexpr char kRzipMagic[] = "#RZIPv";
constexpr std::size_t kRzipHeaderSize = 20;
constexpr std::uint8_t kRzipVersion = 1;
// Input is read, and the image handed on, in pieces of this size.
constexpr std::size_t kPiece = 256 * 1024;

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

Status TooLarge(std::size_t cap)
{
    return Status::notAState("the state inflates to more than " +
                             std::to_string(cap / (1024 * 1024)) + " MiB, which no state can be");
}

// The input, buffered: what has been read and not yet used lies in [m_begin, m_end).
class Reader
{
public:
    explicit Reader(const ByteSource& source)
        : m_source(source), m_buffer(new std::uint8_t[kPiece]), m_size(kPiece)
    {
    }

    // At least n bytes where the input holds them, fewer only at its end.
    std::span<const std::uint8_t> peek(std::size_t n)
    {
        while (m_end - m_begin < n && !m_atEnd && !m_failed) {
            if (m_begin > 0) {
                std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
                m_end -= m_begin;
                m_begin = 0;
            }
            if (m_size < n)
                grow(n);
            const std::ptrdiff_t got = m_source({m_buffer.get() + m_end, m_size - m_end});
            if (got < 0)
                m_failed = true;
            else if (got == 0)
                m_atEnd = true;
            else
                m_end += std::size_t(got);
        }
        return {m_buffer.get() + m_begin, std::min(n, m_end - m_begin)};
    }
    // Whatever is buffered, reading more first when nothing is.
    std::span<const std::uint8_t> some() { return peek(1).empty() ? peek(0) : buffered(); }
    void consume(std::size_t n) { m_begin += n; }
    bool failed() const { return m_failed; }

private:
    std::span<const std::uint8_t> buffered() const
    {
        return {m_buffer.get() + m_begin, m_end - m_begin};
    }
    // Room for n bytes, keeping what is buffered (it starts at the beginning here).
    void grow(std::size_t n)
    {
        std::unique_ptr<std::uint8_t[]> larger(new std::uint8_t[n]);
        std::memcpy(larger.get(), m_buffer.get(), m_end);
        m_buffer = std::move(larger);
        m_size = n;
    }

    const ByteSource& m_source;
    // Left uninitialised, as the input is written into it before it is read: a state smaller
    // than the buffer touches only the pages it fills.
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_size;
    std::size_t m_begin = 0, m_end = 0;
    bool m_atEnd = false, m_failed = false;
};

// A source over bytes in memory.
ByteSource SpanSource(std::span<const std::uint8_t> bytes)
{
    return [bytes, offered = std::size_t(0)](std::span<std::uint8_t> buffer) mutable {
        const std::size_t n = std::min(buffer.size(), bytes.size() - offered);
        std::memcpy(buffer.data(), bytes.data() + offered, n);
        offered += n;
        return std::ptrdiff_t(n);
    };
}

constexpr const char* kReadError = "the file could not be read to its end";

// Counts what goes to the sink against the cap.
struct Output {
    const ByteSink& sink;
    std::size_t cap;
    std::size_t produced = 0;
    bool sinkFailed = false;
};

// Inflates one zlib or gzip stream from the reader, and for gzip every member that follows it.
// `windowBits` selects the wrapper as zlib's inflateInit2 does.
Status InflateStream(Reader& in, int windowBits, bool gzipMembers, Output& out)
{
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return Status::notAState("zlib could not be initialised");
    // Left uninitialised: zlib writes every byte before it is handed on.
    const std::unique_ptr<std::uint8_t[]> piece(new std::uint8_t[kPiece]);

    Status error;
    for (;;) {
        const std::span<const std::uint8_t> input = in.some();
        if (in.failed()) {
            error = Status::notAState(kReadError);
            break;
        }
        zs.next_in = const_cast<Bytef*>(input.data());
        zs.avail_in = static_cast<uInt>(
            std::min<std::size_t>(input.size(), std::numeric_limits<uInt>::max()));
        // Room for one byte past the cap, so that overflowing it is seen rather than clipped.
        const std::size_t room = std::min(kPiece, out.cap + 1 - out.produced);
        zs.next_out = piece.get();
        zs.avail_out = static_cast<uInt>(room);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t used = input.size() - zs.avail_in;
        const std::size_t made = room - zs.avail_out;
        in.consume(used);
        out.produced += made;
        if (out.produced > out.cap) {
            error = TooLarge(out.cap);
            break;
        }
        if (made > 0 && !out.sink({piece.get(), made})) {
            out.sinkFailed = true;
            error = Status::failed("the image could not be written");
            break;
        }
        if (rc == Z_STREAM_END) {
            const std::span<const std::uint8_t> rest = in.peek(sizeof kGzipMagic);
            if (rest.empty())
                break;
            if (!gzipMembers) {
                error = Status::notAState("unexpected data after a compressed chunk");
                break;
            }
            if (StartsWith(rest, kGzipMagic, sizeof kGzipMagic)) {
                inflateReset(&zs);
                continue;
            }
            // Some writers pad a gzip file with zero bytes; anything else is damage.
            bool zeros = true;
            for (auto more = in.some(); !more.empty() && zeros; more = in.some()) {
                zeros =
                    std::all_of(more.begin(), more.end(), [](std::uint8_t b) { return b == 0; });
                in.consume(more.size());
            }
            if (!zeros)
                error = Status::notAState("unexpected data after the compressed stream");
            break;
        }
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && input.empty()) {
            error = Status::notAState("the compressed data ends early (the file is cut short)");
            break;
        }
        error = Status::notAState(std::string("the compressed data is damaged") +
                                  (zs.msg ? std::string(" (") + zs.msg + ")" : ""));
        break;
    }
    inflateEnd(&zs);
    return error;
}

Status InflateRzip(Reader& in, Output& out)
{
    const auto header = in.peek(kRzipHeaderSize);
    if (header.size() < kRzipHeaderSize)
        return Status::notAState("the RZIP header is cut short");
    if (header[6] != kRzipVersion || header[7] != '#')
        return Status::notAState("unsupported RZIP version " + std::to_string(header[6]));
    const std::uint32_t chunkSize = ReadU32(header, 8);
    const std::uint64_t total = ReadU64(header, 12);
    if (total > out.cap)
        return TooLarge(out.cap);
    if (chunkSize == 0 || chunkSize > out.cap)
        return Status::notAState("the RZIP header gives a chunk size of " +
                                 std::to_string(chunkSize) + ", which no state has");
    in.consume(kRzipHeaderSize);
    out.cap = static_cast<std::size_t>(total);

    for (;;) {
        const auto lengthBytes = in.peek(4);
        if (lengthBytes.empty())
            break;
        if (lengthBytes.size() < 4)
            return Status::notAState("an RZIP chunk header is cut short");
        const std::uint32_t length = ReadU32(lengthBytes, 0);
        in.consume(4);
        // A chunk of compressed data is never much larger than the chunk it inflates to.
        if (length > std::size_t(chunkSize) + chunkSize / 8 + 1024)
            return Status::notAState("an RZIP chunk is larger than its data can be");
        const auto chunk = in.peek(length);
        if (in.failed())
            return Status::notAState(kReadError);
        if (chunk.size() < length)
            return Status::notAState("an RZIP chunk is cut short");
        const ByteSource chunkSource = SpanSource(chunk);
        Reader chunkReader(chunkSource);
        const std::size_t before = out.produced;
        if (Status inflated = InflateStream(chunkReader, MAX_WBITS, false, out); !inflated.ok())
            return inflated;
        if (out.produced - before > chunkSize)
            return Status::notAState("an RZIP chunk inflates past the chunk size");
        in.consume(length);
    }
    if (in.failed())
        return Status::notAState(kReadError);
    if (out.produced != total)
        return Status::notAState("the RZIP data holds " + std::to_string(out.produced) +
                                 " bytes instead of the " + std::to_string(total) +
                                 " its header gives");
    return {};
}

Status CopyPlain(Reader& in, Output& out)
{
    for (auto piece = in.some(); !piece.empty(); piece = in.some()) {
        out.produced += piece.size();
        if (out.produced > out.cap)
            return TooLarge(out.cap);
        if (!out.sink(piece)) {
            out.sinkFailed = true;
            return Status::failed("the image could not be written");
        }
        in.consume(piece.size());
    }
    return in.failed() ? Status::notAState(kReadError) : Status();
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

Status InflateInto(const ByteSource& source, const ByteSink& sink, std::size_t cap)
{
    Reader in(source);
    Output out{sink, cap};
    switch (DetectContainer(in.peek(sizeof kRzipMagic - 1))) {
    case ContainerKind::Gzip: return InflateStream(in, MAX_WBITS + 16, true, out);
    case ContainerKind::Rzip: return InflateRzip(in, out);
    case ContainerKind::Plain: return CopyPlain(in, out);
    case ContainerKind::Unknown: break;
    }
    return Status::notAState(in.failed() ? kReadError
                                         : "not a save state (neither gzip, RZIP nor a plain "
                                           "snapshot)");
}

InflateResult InflateContainer(std::span<const std::uint8_t> input, std::size_t cap)
{
    InflateResult result;
    const ByteSource source = SpanSource(input);
    const ByteSink sink = [&](std::span<const std::uint8_t> piece) {
        result.image.insert(result.image.end(), piece.begin(), piece.end());
        return true;
    };
    result.status = InflateInto(source, sink, cap);
    if (!result.ok())
        result.image.clear();
    return result;
}

}  // namespace unvell
