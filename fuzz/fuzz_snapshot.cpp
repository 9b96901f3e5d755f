// The snapshot block walk: any bytes, no crash; an accepted image really has its RAM block
// where the party and the gold are. A state is at least 131 KB, above libFuzzer's default
// input size: run it with -max_len=262144 (the seeds named seed-accepted-* are accepted ones).

#include "ImageLayout.h"
#include "Snapshot.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const unvell::Status checked = unvell::CheckSnapshot({data, size});
    if (checked.ok() && (size < std::size_t(protocol::kGoldEnd) || std::memcmp(data, "#!", 2) != 0))
        std::abort();
    return 0;
}
