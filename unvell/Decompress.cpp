#include "Decompress.h"

#include "Container.h"
#include "Snapshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace unvell {
namespace {

namespace fs = std::filesystem;

// Compressed data may be a little larger than its plain image, never much larger.
constexpr std::uintmax_t kMaxInputBytes = kMaxImageBytes + 1024 * 1024;

DecompressOutcome Fail(int code, std::string cause)
{
    return {code, std::move(cause)};
}

std::string SystemCause(const std::error_code& ec)
{
    return ec.message();
}

bool WriteWhole(const fs::path& path, const std::vector<std::uint8_t>& bytes, std::string& cause)
{
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) {
        cause = "cannot create " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        cause = "cannot write " + path.string() + ": " +
                std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

}  // namespace

DecompressOutcome DecompressToFolder(const fs::path& statePath, const fs::path& folder)
{
    std::error_code ec;
    const auto status = fs::status(statePath, ec);
    if (ec || !fs::exists(status))
        return Fail(kExitFailure, "the file does not exist");
    if (fs::is_directory(status))
        return Fail(kExitFailure, "this is a folder, not a state file");
    const auto size = fs::file_size(statePath, ec);
    if (ec)
        return Fail(kExitFailure, SystemCause(ec));
    if (size > kMaxInputBytes)
        return Fail(kExitNotAState, "the file is far too large to be a save state");

    std::vector<std::uint8_t> input(static_cast<std::size_t>(size));
    {
        std::ifstream in(statePath, std::ios::binary);
        if (!in)
            return Fail(kExitFailure, std::string("cannot open the file: ") + std::strerror(errno));
        in.read(reinterpret_cast<char*>(input.data()), std::streamsize(input.size()));
        if (in.gcount() != std::streamsize(input.size()))
            return Fail(kExitFailure, "cannot read the whole file");
    }

    InflateResult inflated = InflateContainer(input);
    if (!inflated.ok())
        return Fail(kExitNotAState, inflated.error);
    if (std::string why = CheckSnapshot(inflated.image); !why.empty())
        return Fail(kExitNotAState, why);

    // Written under a temporary name and renamed, so "newstate.dec" is either whole or absent.
    const fs::path partial =
        folder / (std::string(kWorkingCopyName) + std::string(protocol::kPartialSuffix));
    const fs::path workingCopy = folder / kWorkingCopyName;
    const fs::path flag = folder / kCompletionFlagName;
    std::string cause;
    if (!WriteWhole(partial, inflated.image, cause)) {
        fs::remove(partial, ec);
        return Fail(kExitFailure, cause);
    }
    fs::rename(partial, workingCopy, ec);
    if (ec) {
        fs::remove(partial, ec);
        return Fail(kExitFailure, "cannot write " + workingCopy.string() + ": " + SystemCause(ec));
    }
    if (!WriteWhole(flag, {}, cause)) {
        fs::remove(workingCopy, ec);
        return Fail(kExitFailure, cause);
    }
    return {};
}

}  // namespace unvell
