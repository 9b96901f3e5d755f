#pragma once

// Files as the operating system keeps them: open, read and write at an offset, the identity and
// stamp of an open file, its owner and links. Plain C++ with no Qt, for the editor and the
// decompressor alike; each operating system has its own implementation (posix/ here).

#include "Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace platform {

using Path = std::filesystem::path;

// The longest path the system takes, in its own characters (bytes here, UTF-16 units on
// Windows, where the extended form reaches this far).
#if defined(_WIN32)
inline constexpr std::size_t kLongestPath = 32767;
#else
inline constexpr std::size_t kLongestPath = 4096;
#endif

// What the operating system hands out for an open file or folder.
#if defined(_WIN32)
using NativeHandle = void*;  // a HANDLE
inline const NativeHandle kNoHandle = reinterpret_cast<void*>(-1);
#else
using NativeHandle = int;  // a file descriptor
inline constexpr NativeHandle kNoHandle = -1;
#endif

// Which file a name leads to, and whether anyone wrote it since: two stamps of one file are
// equal until it is written, truncated or replaced.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
    // Both stamps are of one file, whatever its name, written or not.
    bool sameFile(const FileStamp& other) const
    {
        return device == other.device && inode == other.inode;
    }
    // The file system keeps times in whole seconds: a stamp cannot tell two writes in one apart.
    bool coarse() const { return modifiedNs % 1000000000 == 0; }
};

enum class FileKind { Missing, Regular, Folder, Link, Pipe, Device, Socket, Other };

// "a folder", "a symbolic link", ...: the kind as a message names it.
const char* KindName(FileKind kind);

// What a name leads to, without opening it.
struct FileFacts {
    FileKind kind = FileKind::Missing;
    bool ownedByMe = false;  // by the user this program runs as
    bool ownedByRoot = false;
    bool othersMayWrite = false;      // the group or everyone
    bool keepsOthersEntries = false;  // a folder's sticky bit
    bool markedWritable = false;      // any write permission at all, whoever may use it
    unsigned permissions = 0;         // rwx bits for owner, group, others
    std::uint64_t links = 0;
    FileStamp stamp;
    // When its name or facts last changed (a rename moves it); 0 where the system does not say.
    std::int64_t changedNs = 0;
    std::error_code error;  // why the facts could not be had (kind Missing)
};
// Following a link at the last step, or not.
FileFacts FactsOf(const Path& path, bool followLinks = true);

// The device a file name stands for instead of a file ("CON" for "con.000" on Windows, where
// such names reach the device in every folder); empty for an ordinary name, and always here.
std::string ReservedDeviceName(const Path& path);
// Whether the path leads to another computer's folder (a UNC path or a network drive).
bool OnNetwork(const Path& path);

enum class Access { Read, ReadWrite, Write };

// A handle of the operating system's on an open file or folder, closed when it goes; or, when
// the open failed, why.
class Handle
{
public:
    Handle() = default;
    ~Handle() { (void)close(); }
    Handle(Handle&& other) noexcept;
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return m_handle != kNoHandle; }
    std::error_code error() const { return m_error; }  // why the open failed
    std::error_code close();
    FileFacts facts() const;  // of the open file or folder itself

    NativeHandle native() const { return m_handle; }  // for the platform's own implementation

protected:
    explicit Handle(NativeHandle handle, std::error_code error = {})
        : m_handle(handle), m_error(error)
    {
    }

    NativeHandle m_handle = kNoHandle;
    std::error_code m_error;
};

class Folder;

class File : public Handle
{
public:
    File() = default;

    // An existing file. With followLinks false a link at the last step is refused. Never blocks
    // on a pipe or a device.
    static File open(const Path& path, Access access, bool followLinks = true);
    // A new file that must not exist yet, private to the user until it gets its permissions.
    static File create(const Path& path, unsigned permissions = 0600);
    static File createIn(const Folder& folder, const Path& name, unsigned permissions = 0600);
    static File openIn(const Folder& folder, const Path& name, Access access);
    // Created, or emptied where it exists; never through a link.
    static File createOrTruncate(const Path& path, unsigned permissions);

    std::error_code readAt(std::int64_t offset, void* data, std::size_t size) const;
    // Up to `size` bytes at the current position: the count, 0 at the end, -1 on an error
    // (LastError() says which).
    std::ptrdiff_t read(void* data, std::size_t size);
    std::error_code writeAt(std::int64_t offset, const void* data, std::size_t size);
    std::error_code writeAll(const void* data, std::size_t size);  // at the current position
    std::error_code syncData();
    std::error_code setPermissions(unsigned permissions);
    std::error_code truncate(std::int64_t size);
    Result<FileStamp> stamp() const;
    // The whole file, or why it cannot be read whole.
    Result<std::string> readWhole() const;

    // For the platform's own implementation.
    static File fromNative(NativeHandle handle, std::error_code error = {})
    {
        return File(handle, error);
    }

private:
    explicit File(NativeHandle handle, std::error_code error = {}) : Handle(handle, error) {}
};

// Copies the first `size` bytes of `from` to the current position of `to`, in the kernel where
// it can.
std::error_code CopyRange(const File& from, File& to, std::int64_t size);

// Copies all of `from` while making sure nobody writes it meanwhile:
// std::errc::resource_unavailable_try_again when its stamp moved during the copy.
std::error_code CopyStable(const File& from, File& to);

// The error of the last system call, for the implementation's own use.
std::error_code LastError();

// The path as the file system spells it. On Windows, where names that differ only in case
// reach one file, each name is given as its folder keeps it (and the drive as Windows names it),
// so that one file has one spelling; elsewhere, and where the path reaches nothing, as given.
Path SpelledAsStored(const Path& path);

// Removes the file at `path`, never following a link. One that another program holds open
// without letting it be removed (Windows: a virus scanner or an indexer, for a moment) is tried
// again within `bound`. A file that is not there counts as removed.
std::error_code RemoveFile(const Path& path, std::chrono::milliseconds bound);

// The error says the disk (or the user's share of it) is full.
bool DiskFull(const std::error_code& error);
// The error says another program holds the file open and lets nobody replace it, or is removing
// it (Windows' sharing modes and pending deletes; a POSIX system has neither).
bool HeldOpenElsewhere(const std::error_code& error);

}  // namespace platform
