#include "Replace.h"

#include "FileLock.h"
#include "Shared.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {
namespace {

// A temporary name: a dot, at most this many bytes of the file's name (cut between characters),
// a tag of ours and six characters, always within the system's 255 bytes.
constexpr std::size_t kNameStartKept = 200;

std::string NameStart(const std::string& fileName)
{
    std::size_t kept = std::min(fileName.size(), kNameStartKept);
    while (kept > 0 && kept < fileName.size() &&
           (static_cast<unsigned char>(fileName[kept]) & 0xC0) == 0x80)
        --kept;
    return "." + fileName.substr(0, kept);
}

// Copies every extended attribute (ACLs among them) the new file may take; one it may not is
// skipped, as a copy by hand would.
void CopyExtendedAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize <= 0)
        return;
    std::vector<char> names(std::size_t(listSize), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < got;) {
        const char* name = names.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            continue;
        std::vector<char> value(static_cast<std::size_t>(size));
        if (::fgetxattr(from, name, value.data(), value.size()) == size)
            (void)::fsetxattr(to, name, value.data(), value.size(), 0);
    }
}

// The owner and group first (a change of owner clears some mode bits), then the mode again. From
// the open file, never from a name that may lead elsewhere by now.
void KeepOwnership(int from, int to)
{
    struct stat old {
    };
    if (::fstat(from, &old) != 0)
        return;
    // Each step does what this process may; a user may still keep a group of theirs.
    if (::fchown(to, old.st_uid, old.st_gid) != 0 && ::fchown(to, uid_t(-1), old.st_gid) != 0) {
    }
    (void)::fchmod(to, old.st_mode & 07777);
    CopyExtendedAttributes(from, to);
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
    removeLeftovers();
    const int fd = ::openat(m_folder.native(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0)
        m_file = File::fromNative(fd);
    else if (!openNamed())
        m_error = m_error ? m_error : LastError();
    // Marks this run's file as in use once it has a name, so that no other run removes it.
    if (m_file.valid())
        (void)LockOpenFile(m_file);
}

NewFileBeside::~NewFileBeside()
{
    if (!m_name.empty() && !m_nameHoldsReplaced && holdsOurs())
        (void)m_folder.remove(m_name);
}

bool NewFileBeside::holdsOurs() const
{
    // Another program may have moved names about since ours was given: never remove theirs.
    const FileFacts there = m_folder.factsOf(m_name);
    const std::optional<FileStamp> mine = m_file.stamp();
    return !there.error && mine && there.stamp.device == mine->device &&
           there.stamp.inode == mine->inode;
}

void NewFileBeside::keepOwnershipOf(const File& from)
{
    m_keepFromTarget = true;
    m_ownershipFrom = &from;
    prepare();
}

void NewFileBeside::takeDefaultPermissions()
{
    m_defaultPermissions = true;
    prepare();
}

void NewFileBeside::prepare()
{
    if (!m_file.valid())
        return;
    if (m_keepFromTarget && m_ownershipFrom)
        KeepOwnership(m_ownershipFrom->native(), m_file.native());
    else if (m_defaultPermissions)
        (void)m_file.setPermissions(DefaultFilePermissions());
}

void NewFileBeside::removeLeftovers()
{
    // Left by runs killed before their rename: ours (this user's), and no live run holds them.
    const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
    for (const Path& entry : m_folder.entryNames()) {
        const std::string& name = entry.native();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const FileFacts facts = m_folder.factsOf(entry);
        if (facts.kind == FileKind::Regular && facts.ownedByMe && !HeldByARun(m_folder, entry))
            (void)m_folder.remove(name);
    }
}

bool NewFileBeside::openNamed()
{
    // Where no unnamed file can be named, a named one is written; one that a killed run left
    // behind is removed first.
    const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + RandomNameSuffix();
        m_file = File::createIn(m_folder, name);
        if (m_file.valid()) {
            m_name = name;
            return true;
        }
        if (m_file.error() != std::errc::file_exists) {
            m_error = m_file.error();
            return false;
        }
    }
    m_error = std::make_error_code(std::errc::file_exists);
    return false;
}

std::error_code NewFileBeside::name()
{
    if (!m_name.empty())
        return {};
    const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + RandomNameSuffix();
        const std::error_code linked = m_folder.link(m_file, name);
        if (!linked) {
            m_name = name;
            return {};
        }
        if (linked != std::errc::file_exists)
            break;
    }
    // No way to name it here (no /proc and no privilege): copy it into a named file.
    File unnamed = std::move(m_file);
    if (!openNamed())
        return m_error;
    prepare();
    (void)LockOpenFile(m_file);
    const std::optional<FileStamp> stamp = unnamed.stamp();
    if (!stamp)
        return LastError();
    if (std::error_code e = CopyRange(unnamed, m_file, stamp->size))
        return e;
    return m_file.syncData();
}

std::error_code NewFileBeside::renameOverTarget()
{
    if (std::error_code e = m_folder.renameOver(m_name, m_fileName))
        return e;
    m_name.clear();
    return {};
}

std::error_code NewFileBeside::renameToFreeTarget()
{
    if (std::error_code e = m_folder.rename(m_name, m_fileName))
        return e;
    m_name.clear();
    return {};
}

std::error_code NewFileBeside::exchangeWithTarget()
{
    if (std::error_code e = m_folder.exchange(m_name, m_fileName))
        return e;
    m_nameHoldsReplaced = true;
    return {};
}

FileFacts NewFileBeside::replacedFacts() const
{
    // Looked at, not opened: an open would break the lease on the file this run holds.
    return m_folder.factsOf(m_name);
}

std::error_code NewFileBeside::putReplacedBack()
{
    if (std::error_code e = m_folder.exchange(m_name, m_fileName))
        return e;
    m_nameHoldsReplaced = false;  // ours again, removed with this object
    return {};
}

void NewFileBeside::dropReplaced(const FileFacts& replaced)
{
    const FileFacts there = m_folder.factsOf(m_name);
    if (m_nameHoldsReplaced && !there.error && !replaced.error &&
        there.stamp.device == replaced.stamp.device && there.stamp.inode == replaced.stamp.inode)
        (void)m_folder.remove(m_name);
    m_name.clear();
    m_nameHoldsReplaced = false;
}

}  // namespace platform
