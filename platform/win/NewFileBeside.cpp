#include "NewFileBeside.h"

#include "Calls.h"
#include "FileLock.h"
#include "Lease.h"
#include "Shared.h"
#include "SharedWin.h"

#include <algorithm>
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

// A replaced file a scanner holds is waited for this long before it is left to the next run.
constexpr auto kOldFileWait = std::chrono::milliseconds(2000);

// Ends the temporary name of a replaced file, which is a state's only copy while a replace is
// stopped half way: never a leftover to remove.
constexpr const wchar_t* kOldFileMark = L"~old";

std::wstring Prefix(const std::wstring& fileName)
{
    return L"." + fileName.substr(0, kNameStartKept) + TemporaryNameTag(fileName);
}

bool Busy(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_LOCK_VIOLATION;
}

// Whether `entry` is a temporary name beside `fileName` followed by `rest` more characters. Names
// that differ only in case reach one file, so either may be spelled in any case: the tag is taken
// from the name as the entry spells it, where the entry holds it whole.
bool BesideName(const std::wstring& entry, const std::wstring& fileName, std::size_t rest)
{
    const std::size_t kept = std::min(fileName.size(), kNameStartKept);
    if (entry.size() <= kept || entry[0] != L'.' ||
        ::CompareStringOrdinal(entry.c_str() + 1, int(kept), fileName.c_str(), int(kept), TRUE) !=
            CSTR_EQUAL)
        return false;
    const std::wstring spelled = entry.substr(1, kept);
    const std::wstring prefix =
        Prefix(fileName.size() <= kNameStartKept ? spelled : spelled + fileName.substr(kept));
    return entry.size() == prefix.size() + rest && entry.compare(0, prefix.size(), prefix) == 0;
}

// Removes the new files of runs that ended before their replace.
void RemoveLeftovers(const Folder& folder, const std::wstring& fileName)
{
    Folder writable = folder.duplicate();
    for (const Path& entry : folder.entryNames()) {
        if (BesideName(entry.native(), fileName, 6) &&
            folder.factsOf(entry).kind == FileKind::Regular && !HeldByARun(folder, entry))
            (void)writable.remove(entry);
    }
}

enum class Finish { Moved, Undone, Stuck };

// After ReplaceFileW moved the old file to `old` and left the new one at `from`: the new file is
// moved in, or else the old one back. Stuck when neither reaches the name; `error` is the cause.
Finish FinishReplace(const std::wstring& from, const std::wstring& to, const std::wstring& old,
                     DWORD& error)
{
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        if (calls::moveFile(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
            (void)RemoveFile(old, kOldFileWait);
            return Finish::Moved;
        }
        error = ::GetLastError();
        if (!Busy(error))
            break;
        std::this_thread::sleep_for(kReplacePause);
    }
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        if (calls::moveFile(old.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
            return Finish::Undone;
        if (!Busy(::GetLastError()))
            break;
        std::this_thread::sleep_for(kReplacePause);
    }
    return Finish::Stuck;
}

}  // namespace

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
    // A replace stopped half way leaves the new file to the next run, with the old one.
    if (!m_name.empty() && !m_nameHoldsReplaced && m_oldKeptAs.empty()) {
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
    RemoveLeftovers(m_folder, m_fileName);
}

bool NewFileBeside::openNamed()
{
    const std::wstring prefix = Prefix(m_fileName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = prefix + RandomNameSuffix();
        m_file = File::createIn(m_folder, Path(name));
        if (m_file.valid()) {
            m_name = Path(name);
            ::SetFileAttributesW(Win32Path(Inside(m_folder.native(), name)).c_str(),
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
    const std::wstring from = Win32Path(Inside(m_folder.native(), m_name)),
                       to = Win32Path(Inside(m_folder.native(), m_fileName));
    // ReplaceFileW keeps the old file's attributes and security, and replaces a file that is
    // open with every kind of sharing (our own lock on the state holds it open), where a rename
    // over it is refused. It moves the old file aside first: in that moment the name is free,
    // and a program opening it then finds nothing (our own opening waits a little). The old file
    // goes to a name of ours rather than away, so a replace stopped half way (another program
    // holding the new file) can be finished or undone, and a killed run's next run finds it.
    const Path oldName = Path(Prefix(m_fileName) + RandomNameSuffix() + kOldFileMark);
    const std::wstring old = Win32Path(Inside(m_folder.native(), oldName));
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        const bool exists = ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool done = exists
                              ? calls::replaceFile(to.c_str(), from.c_str(), old.c_str(),
                                                   REPLACEFILE_IGNORE_MERGE_ERRORS |
                                                       REPLACEFILE_IGNORE_ACL_ERRORS)
                              : calls::moveFile(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
        error = done ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The old file went to its new name, the new one stayed where it was: the state's
            // name is empty. The move is finished, or else the old file goes back.
            switch (FinishReplace(from, to, old, error)) {
            case Finish::Moved: m_name.clear(); return {};
            case Finish::Undone: break;
            case Finish::Stuck: m_oldKeptAs = oldName; break;
            }
            break;
        }
        if (done) {
            m_name.clear();
            (void)RemoveFile(old, kOldFileWait);
            return {};
        }
        // With a name for the old file, ERROR_UNABLE_TO_MOVE_REPLACEMENT leaves both files under
        // their own names, as a busy one does: tried again.
        if (!Busy(error) && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
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
// A replace stopped between moving the old file aside and the new one in (the run killed, or both
// moves refused) left the state's name empty and the old file under a name of ours: it goes back.
// One left beside a state that has a file again is a finished replace's: removed.
void PutBackInterruptedSwaps(const Folder& folder, const Path& name)
{
    const std::wstring mark = kOldFileMark;
    Folder writable = folder.duplicate();
    for (const Path& entry : folder.entryNames()) {
        const std::wstring found = entry.native();
        if (!BesideName(found, name.native(), 6 + mark.size()) ||
            found.compare(found.size() - mark.size(), mark.size(), mark) != 0 ||
            folder.factsOf(entry).kind != FileKind::Regular || HeldByARun(folder, entry))
            continue;
        // Under the name as the replace spelled it, which is the state's own.
        const Path own = name.native().size() <= kNameStartKept
                             ? Path(found.substr(1, name.native().size()))
                             : name;
        const std::error_code back = writable.rename(entry, own);
        if (back == std::errc::file_exists)
            (void)writable.remove(entry);
        else if (!back)
            RemoveLeftovers(folder,
                            name.native());  // that replace's new file, never reported saved
    }
}

bool NewFileBeside::holdsOurs() const
{
    return true;  // the new file's own handle keeps anyone from renaming it
}

}  // namespace platform
