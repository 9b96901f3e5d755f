// What every implementation shares: nothing of the operating system's in it.

#include "Shared.h"

#include "File.h"
#include "FileLock.h"
#include "NewFileBeside.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

namespace platform {

Path::string_type TemporaryNameTag(const Path::string_type& fileName)
{
    using Unit = std::make_unsigned_t<Path::value_type>;
    std::uint32_t digest = 2166136261u;
    for (const Path::value_type c : fileName)
        digest = (digest ^ std::uint32_t(Unit(c))) * 16777619u;
    static const char kHex[] = "0123456789abcdef";
    Path::string_type tag;
    for (const char c : std::string_view(".cindral-"))
        tag += Path::value_type(c);
    for (int shift = 28; shift >= 0; shift -= 4)
        tag += Path::value_type(kHex[(digest >> shift) & 0xF]);
    return tag + Path::value_type('-');
}

Path::string_type RandomNameSuffix()
{
    static std::mt19937 random{std::random_device{}()};
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    Path::string_type suffix(6, Path::value_type('0'));
    for (Path::value_type& c : suffix)
        c = Path::value_type(kDigits[random() % 36]);
    return suffix;
}

const char* KindName(FileKind kind)
{
    switch (kind) {
    case FileKind::Folder: return "a folder";
    case FileKind::Link: return "a symbolic link";
    case FileKind::Pipe: return "a named pipe";
    case FileKind::Device: return "a device";
    case FileKind::Socket: return "a socket";
    case FileKind::Regular: return "a plain file";
    case FileKind::Missing: return "missing";
    case FileKind::Other: break;
    }
    return "not a plain file";
}

std::error_code CopyStable(const File& from, File& to)
{
    const Result<FileStamp> before = from.stamp();
    if (!before)
        return before.error();
    if (std::error_code e = CopyRange(from, to, before->size))
        return e;
    const Result<FileStamp> after = from.stamp();
    if (!after)
        return after.error();
    if (*after != *before)
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    return {};
}

Result<std::uint64_t> ContentDigest(const File& file)
{
    // FNV-1a over eight bytes at a step (the tail zero-padded, the size mixed in last): as good
    // at telling two files apart here, and fast enough to read a 16 MB state in a few
    // milliseconds.
    std::uint64_t digest = 14695981039346656037ULL;
    std::uint64_t words[8 * 1024];
    const Result<FileStamp> stamp = file.stamp();
    if (!stamp)
        return stamp.error();
    for (std::int64_t at = 0; at < stamp->size;) {
        const auto n = std::size_t(std::min<std::int64_t>(sizeof words, stamp->size - at));
        std::fill(std::begin(words), std::end(words), 0);
        if (const std::error_code e = file.readAt(at, words, n))
            return e;
        for (std::size_t i = 0; i < (n + 7) / 8; ++i)
            digest = (digest ^ words[i]) * 1099511628211ULL;
        at += std::int64_t(n);
    }
    return (digest ^ std::uint64_t(stamp->size)) * 1099511628211ULL;
}

Handle::Handle(Handle&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNoHandle)), m_error(other.m_error)
{
}

Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        (void)close();
        m_handle = std::exchange(other.m_handle, kNoHandle);
        m_error = other.m_error;
    }
    return *this;
}

FileLock::FileLock(FileLock&& other) noexcept
{
    *this = std::move(other);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept
{
    if (this != &other) {
        release();
        // Everything that tells the locked file apart moves with it, so a moved lock still
        // knows whether anybody wrote the file since it was locked.
        m_file = std::move(other.m_file);
        m_removeOnRelease = std::exchange(other.m_removeOnRelease, Path());
        m_lockedFolder = std::move(other.m_lockedFolder);
        m_lockedName = std::exchange(other.m_lockedName, Path());
        m_lockedSize = std::exchange(other.m_lockedSize, 0);
        m_lockedTimeNs = std::exchange(other.m_lockedTimeNs, 0);
        m_lockedDigest = std::exchange(other.m_lockedDigest, std::nullopt);
        m_leased = std::exchange(other.m_leased, false);
    }
    return *this;
}

Result<std::string> File::readWhole() const
{
    const Result<FileStamp> now = stamp();
    if (!now)
        return now.error();
    std::string bytes(std::size_t(now->size), '\0');
    if (const std::error_code e = readAt(0, bytes.data(), bytes.size()))
        return e;
    return bytes;
}

NewFileBeside::NewFileBeside(const Path& target)
    : NewFileBeside(Folder::open(target.parent_path().empty() ? Path(".") : target.parent_path()),
                    target.filename())
{
}

std::error_code KeepTrying(std::chrono::milliseconds wait, std::chrono::milliseconds missingGrace,
                           const std::function<LockTry()>& tryOnce)
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kRetryPause = std::chrono::milliseconds(10);
    const auto deadline = Clock::now() + wait;
    const auto missingDeadline = std::max(deadline, Clock::now() + missingGrace);
    for (;;) {
        const LockTry attempt = tryOnce();
        switch (attempt.kind) {
        case LockTry::Locked: return {};
        case LockTry::Failed: return attempt.error;
        case LockTry::Again: continue;
        case LockTry::Busy:
            if (Clock::now() >= deadline)
                return LockError::Busy;
            break;
        case LockTry::Missing:
            if (Clock::now() >= missingDeadline)
                return attempt.error;
            break;
        }
        std::this_thread::sleep_for(kRetryPause);
    }
}

std::error_code FileLock::lockFolderFile(const Path& path, std::chrono::milliseconds wait)
{
    release();
    File file;
    if (const std::error_code e =
            KeepTrying(wait, {}, [&] { return TryLockFolderFile(path, file); }))
        return e;
    m_file = std::move(file);
    m_removeOnRelease = path;
    // The holder's id, for a person looking and for FolderLockHeldBy. The folder's disk may be
    // full; the lock holds all the same. Written over, and cut only where a longer line was
    // left: a file emptied by a truncation is written out at its close on ext4 (its guard for
    // files replaced by truncating them), so the lock file would get a block of its own that its
    // removal at release must free and, on a disk mounted with discard, discard within close().
    char pid[32];
    const int length = std::snprintf(pid, sizeof pid, "%ld\n", CurrentProcessId());
    (void)m_file.writeAt(0, pid, std::size_t(length));
    if (const Result<FileStamp> held = m_file.stamp(); held && held->size > length)
        (void)m_file.truncate(length);
    return {};
}

std::error_code FileLock::lockFileIn(const Folder& folder, const Path& name,
                                     std::chrono::milliseconds wait)
{
    return lockAt(folder, name, Path(), wait);
}

std::error_code FileLock::lockExistingFile(const Path& path, std::chrono::milliseconds wait)
{
    const Folder folder = Folder::open(path.has_parent_path() ? path.parent_path() : Path("."));
    if (!folder.valid())
        return folder.error();
    return lockAt(folder, path.filename(), path, wait);
}

std::error_code FileLock::lockAt(const Folder& folder, const Path& name, const Path& path,
                                 std::chrono::milliseconds wait)
{
    // A system that replaces a file by swapping names frees the name for a moment (longer on a
    // busy machine): a file that is missing is looked for again for as long as the lock is
    // waited for, and at least this long. (A state missing before is reported before the lock.)
    constexpr auto kMissingGrace = std::chrono::milliseconds(500);
    release();
    File file;
    if (const std::error_code e = KeepTrying(
            wait, kMissingGrace, [&] { return TryLockFileIn(folder, name, path, file); }))
        return e;
    hold(std::move(file), folder, name);
    return {};
}

void FileLock::hold(File file, const Folder& folder, const Path& name)
{
    m_file = std::move(file);
    m_removeOnRelease.clear();
    m_lockedFolder = folder.duplicate();
    m_lockedName = name;
    takeStamp();
}

void FileLock::takeStamp()
{
    const Result<FileStamp> now = m_file.stamp();
    const FileStamp stamp = now ? *now : FileStamp{};
    m_lockedSize = stamp.size;
    m_lockedTimeNs = stamp.modifiedNs;
    m_leased = false;
    // Times in whole seconds (FAT, small ext4 inodes) miss a save of the same size within the
    // second, and any clock moves in steps (Linux's every few milliseconds, NTFS's on close): a
    // file written in the last moments may be written again with the same stamp. The bytes
    // themselves then tell.
    constexpr std::int64_t kRecentNs = 2000000000;
    const std::int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    const bool recent = nowNs - stamp.modifiedNs < kRecentNs;
    m_lockedDigest.reset();
    if (stamp.coarse() || recent)
        if (const Result<std::uint64_t> digest = ContentDigest(m_file))
            m_lockedDigest = *digest;
}

bool FileLock::unchangedSinceLocked() const
{
    if (!m_file.valid())
        return false;
    const Result<FileStamp> stamp = m_file.stamp();
    if (!stamp || stamp->size != m_lockedSize || stamp->modifiedNs != m_lockedTimeNs)
        return false;
    if (leaseHeld() || !m_lockedDigest)
        return true;
    const Result<std::uint64_t> digest = ContentDigest(m_file);
    return digest && *digest == *m_lockedDigest;
}

Openers FileLock::settle(std::chrono::milliseconds wait)
{
    const Openers openers = WaitUntilOnlyOpenHere(m_file, wait);
    if (openers == Openers::None)
        takeStamp();
    return openers;
}

Openers FileLock::leaseFile(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const Openers now = TakeWriteLease(m_file);
        m_leased = now == Openers::None;
        if (now != Openers::Others || std::chrono::steady_clock::now() >= deadline)
            return now;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool FileLock::leaseHeld() const
{
    return m_leased && WriteLeaseHeld(m_file);
}

bool FileLock::stillAsLocked() const
{
    if (!unchangedSinceLocked())
        return false;
    if (!m_lockedFolder.valid())
        return false;
    const FileFacts there = m_lockedFolder.factsOf(m_lockedName);
    const Result<FileStamp> mine = m_file.stamp();
    return !there.error && mine && there.stamp.sameFile(*mine);
}

namespace {

class LockCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "lock"; }
    std::string message(int value) const override
    {
        switch (LockError(value)) {
        case LockError::Busy: return "another program holds the lock";
        case LockError::NotRegular: return "not a plain file";
        case LockError::CannotClear:
            return "a lock file left by an ended program cannot be removed";
        }
        return "lock error";
    }
};

}  // namespace

std::error_code make_error_code(LockError error)
{
    static const LockCategory category;
    return {int(error), category};
}

}  // namespace platform
