#pragma once

// Little-endian reads and writes by offset on byte buffers. The image is never cast to a
// structure: each field is read and written at its own offset.

#include <cstddef>
#include <cstdint>
#include <span>

namespace Process::le {

inline std::uint8_t U8(std::span<const std::uint8_t> b, std::size_t at)
{
    return b[at];
}

inline std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

inline std::int16_t I16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::int16_t>(U16(b, at));
}

inline void PutU8(std::span<std::uint8_t> b, std::size_t at, std::uint8_t v)
{
    b[at] = v;
}

inline void PutU16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutI16(std::span<std::uint8_t> b, std::size_t at, std::int16_t v)
{
    PutU16(b, at, static_cast<std::uint16_t>(v));
}

}  // namespace Process::le
