#include "Replace.h"

#include "Internal.h"
#include "Shared.h"

#include <chrono>
#include <thread>

namespace platform {
namespace {

// A temporary name: a dot, at most this many characters of the file's name, a tag of ours and
// six characters.
constexpr std::size_t kNameStartKept = 100;

// A state held open by the emulator without delete sharing cannot be replaced: tried again
// this often, this far apart.
constexpr int kReplaceTries = 20;
constexpr auto kReplacePause = std::chrono::milliseconds(50);

std::wstring Prefix(const std::wstring& fileName)
{
    return L"." + fileName.substr(0, kNameStartKept) + TemporaryNameTag(fileName);
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_LOCK_VIOLATION;
}

}  // namespace

NewFileBeside::NewFileBeside(const Path& target)
    : m_target(target), m_fileName(target.filename().native())
{
    m_folder = Folder::open(target.parent_path().empty() ? Path(".") : target.parent_path());
    if (!m_folder.valid()) {
        m_error = m_folder.error();
        return;
    }
    // Windows has no unnamed files: the new file has its temporary name from the start, and
    // one that a killed run left behind is removed first.
    if (!openNamed() && !m_error)
        m_error = LastError();
}

NewFileBeside::~NewFileBeside()
{
    if (!m_name.empty()) {
        (void)m_file.close();
        (void)m_folder.remove(m_name);
    }
}

void NewFileBeside::keepOwnershipOf(const Path& path)
{
    // The replace keeps the old file's attributes and security itself.
    m_keepFromTarget = true;
    m_ownershipFrom = path;
}

void NewFileBeside::takeDefaultPermissions()
{
    m_defaultPermissions = true;
}

void NewFileBeside::prepare() {}

bool NewFileBeside::openNamed()
{
    const std::wstring prefix = Prefix(m_fileName);
    for (const Path& entry : m_folder.entryNames()) {
        const std::wstring name = entry.wstring();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            m_folder.factsOf(entry).kind == FileKind::Regular)
            (void)m_folder.remove(entry);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = prefix + RandomNameSuffix();
        m_file = File::createIn(m_folder, Path(name));
        if (m_file.valid()) {
            m_name = Path(name);
            ::SetFileAttributesW(Win32Path(m_target.parent_path() / name).c_str(),
                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
            return true;
        }
        if (m_file.error() != std::error_code(ERROR_FILE_EXISTS, std::system_category())) {
            m_error = m_file.error();
            return false;
        }
    }
    m_error = std::make_error_code(std::errc::file_exists);
    return false;
}

std::error_code NewFileBeside::name()
{
    return m_name.empty() ? m_error : std::error_code();
}

std::error_code NewFileBeside::renameOverTarget()
{
    (void)m_file.close();  // a file is replaced only once nobody of ours holds it
    const Path temporary = m_target.parent_path() / m_name;
    const std::wstring from = Win32Path(temporary), to = Win32Path(m_target);
    // ReplaceFileW keeps the old file's attributes and security, and replaces a file that is
    // open with every kind of sharing (our own lock on the state holds it open), where a rename
    // over it is refused. It moves the old file aside first, though: in that moment the name
    // is free, and a program opening it then finds nothing (our own opening waits a little).
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        const bool exists = ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool done =
            exists ? ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                    nullptr, nullptr)
                   : ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
        if (done) {
            m_name.clear();
            return {};
        }
        error = ::GetLastError();
        if (!Busy(error))
            break;
        std::this_thread::sleep_for(kReplacePause);
    }
    return ErrorOf(error);
}

}  // namespace platform
