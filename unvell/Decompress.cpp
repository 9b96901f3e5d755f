#include "Decompress.h"

#include "Container.h"
#include "FileIo.h"
#include "Snapshot.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unvell {
namespace {

namespace fs = std::filesystem;

// Compressed data may be a little larger than its plain image, never much larger.
constexpr std::uintmax_t kMaxInputBytes = kMaxImageBytes + 1024 * 1024;

DecompressOutcome Fail(int code, std::string cause)
{
    return {code, std::move(cause)};
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int kept = fd;
        fd = -1;
        return kept;
    }
};

// Streams the state into `partial`, then walks the written image. Returns the exit code.
DecompressOutcome WriteCheckedImage(int input, const fs::path& partial)
{
    // Never through a link: a link put in the folder must not lead the image elsewhere.
    Descriptor output{
        ::open(partial.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644)};
    if (output.fd < 0)
        return Fail(kExitFailure,
                    "cannot create " + partial.string() + ": " + std::strerror(errno));
    int writeErrno = 0;
    std::size_t written = 0;
    const ByteSource source = [&](std::span<std::uint8_t> buffer) -> std::ptrdiff_t {
        for (;;) {
            const ssize_t n = ::read(input, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    };
    const ByteSink sink = [&](std::span<const std::uint8_t> piece) {
        if (!protocol::WriteAll(output.fd, piece.data(), piece.size())) {
            writeErrno = errno;
            return false;
        }
        written += piece.size();
        return true;
    };
    if (std::string error = InflateInto(source, sink); !error.empty()) {
        if (writeErrno != 0)
            return Fail(kExitFailure,
                        "cannot write " + partial.string() + ": " + std::strerror(writeErrno));
        return Fail(kExitNotAState, error);
    }
    // The image is checked as it lies in the file: only the block headers are read back.
    const std::string why =
        CheckSnapshot(written, [&](std::size_t at, std::span<std::uint8_t> out) {
            return protocol::ReadAt(output.fd, std::int64_t(at), out.data(), out.size());
        });
    if (!why.empty())
        return Fail(kExitNotAState, why);
    if (::close(output.release()) != 0)
        return Fail(kExitFailure, "cannot write " + partial.string() + ": " + std::strerror(errno));
    return {};
}

}  // namespace

DecompressOutcome DecompressToFolder(const fs::path& statePath, const fs::path& folder)
{
    Descriptor input{::open(statePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (input.fd < 0)
        return Fail(kExitFailure,
                    errno == ENOENT ? std::string("the file does not exist")
                                    : std::string("cannot open the file: ") + std::strerror(errno));
    struct stat st {
    };
    if (::fstat(input.fd, &st) != 0)
        return Fail(kExitFailure, std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return Fail(kExitFailure, "this is a folder, not a state file");
    if (!S_ISREG(st.st_mode))
        return Fail(kExitNotAState, "this is not a plain file, so no save state");
    if (std::uintmax_t(st.st_size) > kMaxInputBytes)
        return Fail(kExitNotAState, "the file is far too large to be a save state");

    // Written under a temporary name and renamed, so "newstate.dec" is either whole or absent.
    const fs::path partial =
        folder / (std::string(kWorkingCopyName) + std::string(protocol::kPartialSuffix));
    const fs::path workingCopy = folder / kWorkingCopyName;
    const fs::path flag = folder / kCompletionFlagName;
    std::error_code ec;
    // A flag or image of an earlier run would tell a waiting editor that this one is done.
    fs::remove(flag, ec);
    fs::remove(workingCopy, ec);
    if (DecompressOutcome written = WriteCheckedImage(input.fd, partial);
        written.exitCode != kExitOk) {
        fs::remove(partial, ec);
        return written;
    }
    fs::rename(partial, workingCopy, ec);
    if (ec) {
        fs::remove(partial, ec);
        return Fail(kExitFailure, "cannot write " + workingCopy.string() + ": " + ec.message());
    }
    Descriptor created{
        ::open(flag.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644)};
    if (created.fd < 0) {
        const int error = errno;
        fs::remove(workingCopy, ec);
        return Fail(kExitFailure, "cannot create " + flag.string() + ": " + std::strerror(error));
    }
    return {};
}

}  // namespace unvell
