// A misbehaving stand-in for the decompressor. CINDRAL_FAKE_UNVELL picks the fault:
//   fail    prints a cause and exits 1 without a flag
//   crash   aborts
//   hang    never finishes
//   short   writes a 1000-byte image and the flag
//   garbage writes a full-size image that is no snapshot, and the flag
//   noflag  writes a full-size image, exits 0, but never creates the flag
//   lateexit creates a full image and the flag, then lingers before exiting

#include "RunningProgram.h"
#include "StagingProtocol.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

static const fs::path kWorkingCopy{std::string(protocol::kWorkingCopyName)};
static const fs::path kFlag{std::string(protocol::kCompletionFlagName)};

// A snapshot header padded with 'x', or only 'x' for garbage.
static void WriteImage(const fs::path& folder, std::size_t size, bool snapshot = true)
{
    std::string image(size, 'x');
    if (snapshot)
        image.replace(0, 14, "#!s9xsnp:0011\n");
    std::ofstream(folder / kWorkingCopy, std::ios::binary) << image;
}

int main(int argc, char** argv)
{
    const char* env = std::getenv("CINDRAL_FAKE_UNVELL");
    const std::string mode = env ? env : "fail";
    const fs::path folder = platform::ProgramFolder(argv[0]);
    const std::string path = argc > 2 ? argv[2] : "";

    if (mode == "crash") {
        platform::AbortAsACrash();
        std::abort();
    }
    if (mode == "hang")
        std::this_thread::sleep_for(std::chrono::hours(1));
    if (mode == "short") {
        WriteImage(folder, 1000);
        std::ofstream(folder / kFlag);
        return 0;
    }
    if (mode == "garbage") {
        WriteImage(folder, 100000, false);
        std::ofstream(folder / kFlag);
        return 0;
    }
    if (mode == "noflag") {
        WriteImage(folder, 100000);
        return 0;
    }
    if (mode == "lateexit") {
        WriteImage(folder, 100000);
        std::ofstream(folder / kFlag);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 0;
    }
    std::fprintf(stderr, "%s%s: simulated failure\n", std::string(protocol::kErrorPrefix).c_str(),
                 path.c_str());
    return protocol::kExitFailure;
}
