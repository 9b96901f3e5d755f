#include "Decompress.h"

#include "Container.h"
#include "File.h"
#include "Folder.h"
#include "Snapshot.h"

#include <chrono>
#include <functional>
#include <thread>

namespace unvell {
namespace {

namespace fs = std::filesystem;

// Compressed data may be a little larger than its plain image, never much larger.
constexpr std::uintmax_t kMaxInputBytes = kMaxImageBytes + 1024 * 1024;

std::string Cause(const std::error_code& error)
{
    return error.message();
}

// A file another program holds for a moment (a virus scanner or an indexer opening a new file,
// a save still being closed) is waited for, this long at most.
constexpr auto kHeldWait = std::chrono::seconds(5);
constexpr auto kHeldPause = std::chrono::milliseconds(50);

std::error_code WhileHeld(const std::function<std::error_code()>& attempt)
{
    const auto deadline = std::chrono::steady_clock::now() + kHeldWait;
    for (;;) {
        const std::error_code error = attempt();
        if (!platform::HeldOpenElsewhere(error) || std::chrono::steady_clock::now() >= deadline)
            return error;
        std::this_thread::sleep_for(kHeldPause);
    }
}

// Streams the state into `partial`, then walks the written image. Returns the exit code.
Status WriteCheckedImage(platform::File& input, const fs::path& partial)
{
    // Never through a link: a link put in the folder must not lead the image elsewhere.
    platform::File output;
    const std::error_code created = WhileHeld([&] {
        output = platform::File::createOrTruncate(partial, 0644);
        return output.error();
    });
    if (!output.valid())
        return Status::failed("cannot create " + partial.string() + ": " + Cause(created));
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
    platform::File input;
    std::error_code opened = WhileHeld([&] {
        input = platform::File::open(statePath, platform::Access::Read);
        return input.error();
    });
    if (!input.valid())
        return Status::failed(opened == std::errc::no_such_file_or_directory
                                  ? std::string("the file does not exist")
                                  : "cannot open the file: " + Cause(opened));
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
    const fs::path partialName =
        std::string(kWorkingCopyName) + std::string(protocol::kPartialSuffix);
    const fs::path partial = folder / partialName;
    const fs::path workingCopy = folder / kWorkingCopyName;
    const fs::path flag = folder / kCompletionFlagName;
    platform::Folder here = platform::Folder::open(folder);
    if (!here.valid())
        return Status::failed("cannot open the folder " + folder.string() + ": " +
                              Cause(here.error()));
    // A flag or image of an earlier run would tell a waiting editor that this one is done.
    for (const fs::path& stale : {flag, workingCopy})
        (void)platform::RemoveFile(stale, kHeldWait);
    if (Status written = WriteCheckedImage(input, partial); !written.ok()) {
        (void)here.remove(partialName);
        return written;
    }
    if (std::error_code renamed =
            WhileHeld([&] { return here.renameOver(partialName, workingCopy.filename()); })) {
        (void)here.remove(partialName);
        return Status::failed("cannot write " + workingCopy.string() + ": " + Cause(renamed));
    }
    platform::File created;
    const std::error_code made = WhileHeld([&] {
        created = platform::File::createOrTruncate(flag, 0644);
        return created.error();
    });
    if (!created.valid()) {
        (void)here.remove(workingCopy.filename());
        return Status::failed("cannot create " + flag.string() + ": " + Cause(made));
    }
    return {};
}

}  // namespace unvell
