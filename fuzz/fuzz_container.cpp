// The decompressor's recognition and inflation of its input, then the snapshot walk on what
// comes out. Whatever the input: no crash, no output beyond the cap, an empty image on failure.

#include "Container.h"
#include "Snapshot.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kCap = 4u * 1024u * 1024u;  // small, so bombs are found quickly
    const auto result = unvell::InflateContainer({data, size}, kCap);
    if (result.ok()) {
        if (result.image.size() > kCap)
            std::abort();
        (void)unvell::CheckSnapshot(result.image);
    } else if (!result.image.empty()) {
        std::abort();
    }
    return 0;
}
