#include "Decompress.h"

#include "Container.h"
#include "File.h"
#include "Snapshot.h"

namespace unvell {
namespace {

namespace fs = std::filesystem;

// Compressed data may be a little larger than its plain image, never much larger.
constexpr std::uintmax_t kMaxInputBytes = kMaxImageBytes + 1024 * 1024;

std::string Cause(const std::error_code& error)
{
    return error.message();
}

// Streams the state into `partial`, then walks the written image. Returns the exit code.
Status WriteCheckedImage(platform::File& input, const fs::path& partial)
{
    // Never through a link: a link put in the folder must not lead the image elsewhere.
    platform::File output = platform::File::createOrTruncate(partial, 0644);
    if (!output.valid())
        return Status::failed("cannot create " + partial.string() + ": " + Cause(output.error()));
    std::error_code writeError;
    std::size_t written = 0;
    const ByteSource source = [&](std::span<std::uint8_t> buffer) -> std::ptrdiff_t {
        return input.read(buffer.data(), buffer.size());
    };
    const ByteSink sink = [&](std::span<const std::uint8_t> piece) {
        if ((writeError = output.writeAll(piece.data(), piece.size())))
            return false;
        written += piece.size();
        return true;
    };
    if (Status inflated = InflateInto(source, sink); !inflated.ok()) {
        if (writeError)
            return Status::failed("cannot write " + partial.string() + ": " + Cause(writeError));
        return inflated;
    }
    // The image is checked as it lies in the file: only the block headers are read back.
    if (Status checked = CheckSnapshot(written,
                                       [&](std::size_t at, std::span<std::uint8_t> out) {
                                           return !output.readAt(std::int64_t(at), out.data(),
                                                                 out.size());
                                       });
        !checked.ok())
        return checked;
    if (std::error_code closed = output.close())
        return Status::failed("cannot write " + partial.string() + ": " + Cause(closed));
    return {};
}

}  // namespace

Status DecompressToFolder(const fs::path& statePath, const fs::path& folder)
{
    platform::File input = platform::File::open(statePath, platform::Access::Read);
    if (!input.valid())
        return Status::failed(input.error() == std::errc::no_such_file_or_directory
                                  ? std::string("the file does not exist")
                                  : "cannot open the file: " + Cause(input.error()));
    const platform::FileFacts facts = input.facts();
    if (facts.error)
        return Status::failed(Cause(facts.error));
    if (facts.kind == platform::FileKind::Folder)
        return Status::failed("this is a folder, not a state file");
    if (facts.kind != platform::FileKind::Regular)
        return Status::notAState("this is not a plain file, so no save state");
    if (std::uintmax_t(facts.stamp.size) > kMaxInputBytes)
        return Status::notAState("the file is far too large to be a save state");

    // Written under a temporary name and renamed, so "newstate.dec" is either whole or absent.
    const fs::path partial =
        folder / (std::string(kWorkingCopyName) + std::string(protocol::kPartialSuffix));
    const fs::path workingCopy = folder / kWorkingCopyName;
    const fs::path flag = folder / kCompletionFlagName;
    std::error_code ec;
    // A flag or image of an earlier run would tell a waiting editor that this one is done.
    fs::remove(flag, ec);
    fs::remove(workingCopy, ec);
    if (Status written = WriteCheckedImage(input, partial); !written.ok()) {
        fs::remove(partial, ec);
        return written;
    }
    fs::rename(partial, workingCopy, ec);
    if (ec) {
        fs::remove(partial, ec);
        return Status::failed("cannot write " + workingCopy.string() + ": " + ec.message());
    }
    platform::File created = platform::File::createOrTruncate(flag, 0644);
    if (!created.valid()) {
        const std::error_code error = created.error();
        fs::remove(workingCopy, ec);
        return Status::failed("cannot create " + flag.string() + ": " + Cause(error));
    }
    return {};
}

}  // namespace unvell
