#include "File.h"

#include "Calls.h"
#include "Folder.h"
#include "SharedWin.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Windows counts time in 100 ns steps.
// Since 1970, as POSIX counts: 100-nanosecond steps since 1601 times 100 would not fit.
std::int64_t Nanoseconds(const FILETIME& time)
{
    constexpr std::int64_t kFrom1601To1970 = 116444736000000000;  // in 100 ns
    const ULARGE_INTEGER value{{time.dwLowDateTime, time.dwHighDateTime}};
    return (std::int64_t(value.QuadPart) - kFrom1601To1970) * 100;
}

DWORD Rights(Access access)
{
    switch (access) {
    case Access::Read: return GENERIC_READ;
    case Access::Write: return GENERIC_WRITE;
    case Access::ReadWrite: break;
    }
    return GENERIC_READ | GENERIC_WRITE;
}

File Opened(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? File::fromNative(kNoHandle, LastError())
                                          : File::fromNative(handle);
}

HANDLE OpenHandle(const Path& path, DWORD rights, DWORD disposition, DWORD flags)
{
    return calls::createFile(Win32Path(path).c_str(), rights, kShareAll, disposition,
                             FILE_ATTRIBUTE_NORMAL | flags);
}

}  // namespace

std::error_code ErrorOf(DWORD error)
{
    return {int(error), std::system_category()};
}

std::error_code LastError()
{
    return ErrorOf(::GetLastError());
}

bool DiskFull(const std::error_code& error)
{
    return error.category() == std::system_category() &&
           (error.value() == ERROR_DISK_FULL || error.value() == ERROR_HANDLE_DISK_FULL);
}

bool HeldOpenElsewhere(const std::error_code& error)
{
    return error.category() == std::system_category() &&
           (error.value() == ERROR_SHARING_VIOLATION || error.value() == ERROR_LOCK_VIOLATION ||
            error.value() == ERROR_UNABLE_TO_REMOVE_REPLACED ||
            error.value() == ERROR_DELETE_PENDING);
}

FileFacts FactsOfHandle(HANDLE handle)
{
    FileFacts facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        facts.error = LastError();
        return facts;
    }
    const DWORD attributes = info.dwFileAttributes;
    facts.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileKind::Link
                 : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? FileKind::Folder
                 : ::GetFileType(handle) == FILE_TYPE_DISK   ? FileKind::Regular
                                                             : FileKind::Other;
    // Access is an ACL's matter here: what the user's own profile holds is taken as the user's.
    facts.ownedByMe = true;
    facts.markedWritable = !(attributes & FILE_ATTRIBUTE_READONLY);
    facts.permissions = facts.markedWritable ? 0600 : 0400;
    facts.links = info.nNumberOfLinks;
    facts.stamp = FileStamp{info.dwVolumeSerialNumber,
                            (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                            (std::int64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                            Nanoseconds(info.ftLastWriteTime)};
    return facts;
}

std::string ReservedDeviceName(const Path& path)
{
    // The name up to its first dot, without trailing spaces, in capitals.
    std::wstring stem = path.filename().native();
    stem = stem.substr(0, stem.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    std::string upper;
    for (wchar_t c : stem) {
        if (c > 0x7F && c != 0xB9 && c != 0xB2 && c != 0xB3)
            return {};
        upper += char(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
    }
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (upper == device)
            return upper;
    // COM1 to COM9 and LPT1 to LPT9, and with the superscript digits ¹ ² ³.
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        const wchar_t digit = stem[3];
        if ((digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
            return upper.substr(0, 3) + char(digit == 0xB9   ? '1'
                                             : digit == 0xB2 ? '2'
                                             : digit == 0xB3 ? '3'
                                                             : char(digit));
    }
    return {};
}

bool OnNetwork(const Path& path)
{
    const std::wstring& given = path.native();
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (given.size() > 2 && separator(given[0]) && separator(given[1]))
        return given[2] != L'?' && given[2] != L'.';
    std::error_code ec;
    const Path root = std::filesystem::absolute(path, ec).root_path();
    return !ec && ::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}

std::wstring Win32Path(const Path& path)
{
    const std::wstring& given = path.native();
    // Room for a temporary name's few extra characters, and for a folder's name (248).
    constexpr std::size_t kShortEnough = MAX_PATH - 12;
    if (given.rfind(L"\\\\?\\", 0) == 0)
        return given;
    // The extended form takes no "." or "..", nor "/": the full path first.
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return given;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(size);
    if (full.size() < kShortEnough)
        return given;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

Path PathOfHandle(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            calls::finalPathName(handle, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return Path(path);
        }
        path.resize(length + 1);
    }
}

Path SpelledAsStored(const Path& path)
{
    const HANDLE handle =
        calls::createFile(Win32Path(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return path;
    std::wstring stored = PathOfHandle(handle).native();
    ::CloseHandle(handle);
    // Without the extended form's prefix, as paths are shown and given.
    if (stored.rfind(L"\\\\?\\UNC\\", 0) == 0)
        stored = L"\\\\" + stored.substr(8);
    else if (stored.rfind(L"\\\\?\\", 0) == 0)
        stored = stored.substr(4);
    return stored.empty() ? path : Path(stored);
}

std::error_code RemoveFile(const Path& path, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (calls::deleteFile(Win32Path(path).c_str()))
            return {};
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return {};
        if (!HeldOpenElsewhere(ErrorOf(error)) || std::chrono::steady_clock::now() >= deadline)
            return ErrorOf(error);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

Path Inside(HANDLE folder, const Path& name)
{
    const Path path = PathOfHandle(folder);
    // A volume that does not exist: every call on a name in it fails.
    if (path.empty())
        return Path(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}") / name;
    return path / name;
}

FileFacts FactsOf(const Path& path, bool followLinks)
{
    const HANDLE handle = calls::createFile(
        Win32Path(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
    if (handle == INVALID_HANDLE_VALUE) {
        FileFacts facts;
        facts.error = LastError();
        return facts;
    }
    const FileFacts facts = FactsOfHandle(handle);
    ::CloseHandle(handle);
    return facts;
}

std::error_code Handle::close()
{
    if (m_handle == kNoHandle)
        return {};
    return ::CloseHandle(std::exchange(m_handle, kNoHandle)) ? std::error_code() : LastError();
}

FileFacts Handle::facts() const
{
    return FactsOfHandle(m_handle);
}

File File::open(const Path& path, Access access, bool followLinks)
{
    return Opened(OpenHandle(path, Rights(access), OPEN_EXISTING,
                             followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
}

File File::create(const Path& path, unsigned)
{
    return Opened(OpenHandle(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, 0));
}

File File::createIn(const Folder& folder, const Path& name, unsigned permissions)
{
    return create(Inside(folder.native(), name), permissions);
}

File File::openIn(const Folder& folder, const Path& name, Access access)
{
    return open(Inside(folder.native(), name), access, false);
}

File File::createOrTruncate(const Path& path, unsigned)
{
    return Opened(OpenHandle(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                             FILE_FLAG_OPEN_REPARSE_POINT));
}

std::ptrdiff_t File::read(void* data, std::size_t size)
{
    DWORD got = 0;
    if (!::ReadFile(m_handle, data, DWORD(std::min<std::size_t>(size, 1u << 30)), &got, nullptr))
        return -1;
    return std::ptrdiff_t(got);
}

namespace {

// A read or write at `position`, whatever the handle's own position.
OVERLAPPED At(std::uint64_t position)
{
    OVERLAPPED at{};
    at.Offset = DWORD(position);
    at.OffsetHigh = DWORD(position >> 32);
    return at;
}

}  // namespace

std::error_code File::readAt(std::int64_t offset, void* data, std::size_t size) const
{
    auto* bytes = static_cast<char*>(data);
    for (std::size_t done = 0; done < size;) {
        OVERLAPPED at = At(std::uint64_t(offset) + done);
        DWORD got = 0;
        if (!::ReadFile(m_handle, bytes + done, DWORD(std::min<std::size_t>(size - done, 1u << 30)),
                        &got, &at))
            return ::GetLastError() == ERROR_HANDLE_EOF ? std::make_error_code(std::errc::io_error)
                                                        : LastError();
        if (got == 0)
            return std::make_error_code(std::errc::io_error);  // the file ended first
        done += got;
    }
    return {};
}

std::error_code File::writeAt(std::int64_t offset, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        OVERLAPPED at = At(std::uint64_t(offset) + done);
        DWORD put = 0;
        if (!::WriteFile(m_handle, bytes + done,
                         DWORD(std::min<std::size_t>(size - done, 1u << 30)), &put, &at))
            return LastError();
        done += put;
    }
    return {};
}

std::error_code File::writeAll(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        DWORD put = 0;
        if (!::WriteFile(m_handle, bytes + done,
                         DWORD(std::min<std::size_t>(size - done, 1u << 30)), &put, nullptr))
            return LastError();
        done += put;
    }
    return {};
}

std::error_code File::syncData()
{
    return calls::flushFile(m_handle) ? std::error_code() : LastError();
}

std::error_code File::setPermissions(unsigned permissions)
{
    // Windows keeps only "read-only"; who may do what is the ACL's matter.
    FILE_BASIC_INFO info{};
    if (!::GetFileInformationByHandleEx(m_handle, FileBasicInfo, &info, sizeof info))
        return LastError();
    if (permissions & 0200)
        info.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    else
        info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (info.FileAttributes == 0)
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return calls::setFileInformation(m_handle, FileBasicInfo, &info, sizeof info)
               ? std::error_code()
               : LastError();
}

std::error_code File::truncate(std::int64_t size)
{
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = size;
    return calls::setFileInformation(m_handle, FileEndOfFileInfo, &info, sizeof info)
               ? std::error_code()
               : LastError();
}

Result<FileStamp> File::stamp() const
{
    const FileFacts facts = FactsOfHandle(m_handle);
    if (facts.error)
        return facts.error;
    return facts.stamp;
}

std::error_code CopyRange(const File& from, File& to, std::int64_t size)
{
    std::vector<char> buffer(256 * 1024);
    for (std::int64_t offset = 0; offset < size;) {
        const std::size_t want = std::min<std::size_t>(buffer.size(), std::size_t(size - offset));
        if (std::error_code e = from.readAt(offset, buffer.data(), want))
            return e;
        if (std::error_code e = to.writeAll(buffer.data(), want))
            return e;
        offset += std::int64_t(want);
    }
    return {};
}

}  // namespace platform
