#include "Folder.h"

#include "Calls.h"
#include "SharedWin.h"

namespace platform {
namespace {

HANDLE OpenFolderHandle(const Path& path, bool followLinks)
{
    return calls::createFile(
        Win32Path(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
        kShareAll, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
}

}  // namespace

Folder Folder::open(const Path& path, bool followLinks)
{
    const HANDLE handle = OpenFolderHandle(path, followLinks);
    if (handle == INVALID_HANDLE_VALUE)
        return Folder(kNoHandle, LastError());
    const FileFacts facts = FactsOfHandle(handle);
    if (facts.kind != FileKind::Folder) {
        ::CloseHandle(handle);
        return Folder(kNoHandle,
                      facts.kind == FileKind::Link
                          ? std::make_error_code(std::errc::too_many_symbolic_link_levels)
                          : std::make_error_code(std::errc::not_a_directory));
    }
    return Folder(handle);
}

Folder Folder::openIn(const Folder& parent, const Path& name)
{
    return open(Inside(parent.native(), name), false);
}

Folder Folder::createIn(const Folder& parent, const Path& name)
{
    const Path path = Inside(parent.native(), name);
    if (!::CreateDirectoryW(Win32Path(path).c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS)
        return Folder(kNoHandle, LastError());
    return open(path, false);
}

std::vector<Path> Folder::entryNames() const
{
    std::vector<Path> names;
    WIN32_FIND_DATAW found{};
    const Path pattern = Inside(m_handle, L"*");
    const HANDLE search = ::FindFirstFileW(Win32Path(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name(found.cFileName);
        if (name != L"." && name != L"..")
            names.emplace_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

FileFacts Folder::factsOf(const Path& name) const
{
    return FactsOf(Inside(m_handle, name), false);
}

std::error_code Folder::remove(const Path& name)
{
    return calls::deleteFile(Win32Path(Inside(m_handle, name)).c_str()) ? std::error_code()
                                                                        : LastError();
}

std::error_code Folder::rename(const Path& from, const Path& to)
{
    // Without MOVEFILE_REPLACE_EXISTING a rename never goes over an existing name.
    if (calls::moveFile(Win32Path(Inside(m_handle, from)).c_str(),
                        Win32Path(Inside(m_handle, to)).c_str(), 0))
        return {};
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
               ? std::make_error_code(std::errc::file_exists)
               : ErrorOf(error);
}

Folder Folder::duplicate() const
{
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), m_handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return Folder(kNoHandle, LastError());
    return Folder(copy);
}

std::error_code Folder::renameOver(const Path& from, const Path& to)
{
    return calls::moveFile(Win32Path(Inside(m_handle, from)).c_str(),
                           Win32Path(Inside(m_handle, to)).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? std::error_code()
               : LastError();
}

std::error_code Folder::exchange(const Path&, const Path&)
{
    // Windows has no rename that swaps two names.
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code Folder::link(const File& file, const Path& name)
{
    const Path target = PathOfHandle(file.native());
    if (target.empty())
        return LastError();
    if (calls::createHardLink(Win32Path(Inside(m_handle, name)).c_str(), Win32Path(target).c_str()))
        return {};
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS ? std::make_error_code(std::errc::file_exists)
                                         : ErrorOf(error);
}

std::error_code Folder::setPermissions(unsigned)
{
    return {};  // a folder in the user's own profile is the user's by its ACL
}

std::error_code CreateFolders(const Path& path, unsigned)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error;
}

bool MayRunPrograms(const Path&)
{
    return true;
}

bool MayWriteIn(const Path& folder)
{
    // Asked the only way that counts every ACL: a file that removes itself when closed.
    const Path probe = folder / L".cindral-probe";
    const HANDLE handle = calls::createFile(Win32Path(probe).c_str(), GENERIC_WRITE, 0, CREATE_NEW,
                                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_EXISTS;
    ::CloseHandle(handle);
    return true;
}

bool MayRead(const Path& path)
{
    const HANDLE handle = calls::createFile(Win32Path(path).c_str(), GENERIC_READ, kShareAll,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(handle);
    return true;
}

unsigned DefaultFilePermissions()
{
    return 0666;
}

unsigned PermissionsAsKept(unsigned permissions)
{
    return (permissions & 0200) ? 0600 : 0400;
}

}  // namespace platform
