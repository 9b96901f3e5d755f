#pragma once

// Shared by every implementation of the platform, not by its users.

#include "File.h"
#include "Folder.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform {

// FNV-1a over the whole file: enough to tell a rewritten file from the one that was there.
Result<std::uint64_t> ContentDigest(const File& file);

// The parts of a temporary name beside a file, in the system's own characters. The tag holds a
// digest of the whole name, so that the temporary files of two files whose long names start
// alike never pass for each other's; the suffix is six random letters and digits.
Path::string_type TemporaryNameTag(const Path::string_type& fileName);
Path::string_type RandomNameSuffix();

// One try at a lock, as each system makes it.
struct LockTry {
    enum Kind {
        Locked,   // held: the file it was made on is the one its name leads to
        Busy,     // another holds it, or replaced the file while we waited: try again
        Missing,  // the file is not there (yet): try again within the grace
        Again,    // something was cleared out of the way: try again at once
        Failed,   // `error` says why; trying again would not help
    } kind;
    std::error_code error = {};
};

// Tries `tryOnce` until it locks or fails: busy for up to `wait` (then LockError::Busy),
// missing for up to the longer of `wait` and `missingGrace` (then its error). The pause
// between tries is short enough to notice a release soon and long enough to cost no CPU.
std::error_code KeepTrying(std::chrono::milliseconds wait, std::chrono::milliseconds missingGrace,
                           const std::function<LockTry()>& tryOnce);

// One try at the lock file at `path`, made if need be; `locked` holds it when it is had.
LockTry TryLockFolderFile(const Path& path, File& locked);
// One try at the existing file `name` in `folder` (`path` is where it is, for the systems that
// open by path), never through a link.
LockTry TryLockFileIn(const Folder& folder, const Path& name, const Path& path, File& locked);

// The value of an environment variable as a path; empty when it is not set.
Path EnvironmentPath(const char* name);
// Where the system keeps the user's data and cache when no variable says.
Path SystemDataFolder();
Path SystemCacheFolder();

// This process's id, as the lock file holds it.
long CurrentProcessId();

}  // namespace platform
