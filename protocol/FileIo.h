#pragma once

// Whole reads and writes on a file descriptor, retried after interruptions and short
// transfers. Plain POSIX, for the editor and the decompressor alike.

#include <cstddef>
#include <cstdint>

namespace protocol {

// False (errno set, or EIO at the file's end) unless all `size` bytes were transferred.
bool ReadAt(int fd, std::int64_t offset, void* data, std::size_t size);
bool WriteAt(int fd, std::int64_t offset, const void* data, std::size_t size);
// At the descriptor's current position.
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace protocol
