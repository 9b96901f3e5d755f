#include "NewFileBeside.h"

#include "FileLock.h"
#include "Internal.h"
#include "Lease.h"
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
    : NewFileBeside(Folder::open(target.parent_path().empty() ? Path(".") : target.parent_path()),
                    target.filename())
{
}

NewFileBeside::NewFileBeside(const Folder& folder, const Path& name)
    : m_fileName(name.native()), m_folder(folder.duplicate())
{
    if (!m_folder.valid()) {
        m_error = m_folder.error();
        return;
    }
    // Windows has no unnamed files: the new file has its temporary name from the start, and
    // those that killed runs left behind are removed first.
    removeLeftovers();
    if (!openNamed() && !m_error)
        m_error = LastError();
    if (m_file.valid())
        (void)LockOpenFile(m_file);
}

NewFileBeside::~NewFileBeside()
{
    if (!m_name.empty() && !m_nameHoldsReplaced) {
        (void)m_file.close();
        (void)m_folder.remove(m_name);
    }
}

void NewFileBeside::keepOwnershipOf(const File& from)
{
    // The replace keeps the old file's attributes and security itself.
    m_keepFromTarget = true;
    m_ownershipFrom = &from;
}

void NewFileBeside::takeDefaultPermissions()
{
    m_defaultPermissions = true;
}

void NewFileBeside::prepare() {}

void NewFileBeside::removeLeftovers()
{
    const std::wstring prefix = Prefix(m_fileName);
    for (const Path& entry : m_folder.entryNames()) {
        const std::wstring name = entry.wstring();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            m_folder.factsOf(entry).kind == FileKind::Regular && !HeldByARun(m_folder, entry))
            (void)m_folder.remove(entry);
    }
}

bool NewFileBeside::openNamed()
{
    const std::wstring prefix = Prefix(m_fileName);
    const Path folder = PathOfHandle(m_folder.native());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = prefix + RandomNameSuffix();
        m_file = File::createIn(m_folder, Path(name));
        if (m_file.valid()) {
            m_name = Path(name);
            ::SetFileAttributesW(Win32Path(folder / name).c_str(),
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
    // A file is replaced only once nobody of ours holds it, or keeps others from writing it
    // (ReplaceFileW opens it to write).
    (void)m_file.close();
    if (m_ownershipFrom)
        ReleaseWriteLease(*m_ownershipFrom);
    const Path folder = PathOfHandle(m_folder.native());
    const std::wstring from = Win32Path(folder / m_name), to = Win32Path(folder / m_fileName);
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

std::error_code NewFileBeside::renameToFreeTarget()
{
    (void)m_file.close();
    if (std::error_code e = m_folder.rename(m_name, m_fileName))
        return e;
    m_name.clear();
    return {};
}

std::error_code NewFileBeside::exchangeWithTarget()
{
    return m_folder.exchange(m_name, m_fileName);  // not supported here
}

FileFacts NewFileBeside::replacedFacts() const
{
    return {};
}

std::error_code NewFileBeside::putReplacedBack()
{
    return std::make_error_code(std::errc::operation_not_supported);
}

void NewFileBeside::dropReplaced(const FileFacts&) {}

// Nothing here swaps two names: a replace moves the old file aside and the new one in.
void PutBackInterruptedSwaps(const Folder&, const Path&) {}

bool NewFileBeside::holdsOurs() const
{
    return true;  // the new file's own handle keeps anyone from renaming it
}

}  // namespace platform
