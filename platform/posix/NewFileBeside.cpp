#include "NewFileBeside.h"

#include "FileLock.h"
#include "Shared.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
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

// A temporary name ends, once its file is whole, with that file's inode number: after a swap has
// put another program's file under the name, the next run can tell that it is no file of ours.
std::string IdentityMark(std::uint64_t inode)
{
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[inode % 36]);
        inode /= 36;
    } while (inode != 0);
    return "~" + digits;
}

// Whether `name` is one of our temporary names beginning with `prefix`, and the identity it was
// given, if any.
bool IsTemporaryName(const std::string& name, const std::string& prefix,
                     std::optional<std::uint64_t>& identity)
{
    identity.reset();
    if (name.size() < prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string mark = name.substr(prefix.size() + 6);
    if (mark.empty())
        return true;
    if (mark.size() < 2 || mark.size() > 14 || mark[0] != '~')
        return false;
    std::uint64_t inode = 0;
    for (std::size_t i = 1; i < mark.size(); ++i) {
        const char c = mark[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : -1;
        if (digit < 0 ||
            inode > (std::numeric_limits<std::uint64_t>::max() - std::uint64_t(digit)) / 36)
            return false;
        inode = inode * 36 + std::uint64_t(digit);
    }
    identity = inode;
    return true;
}

bool SameIdentity(const FileFacts& facts, std::uint64_t inode)
{
    return !facts.error && facts.kind == FileKind::Regular && facts.stamp.inode == inode;
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
    const Result<FileStamp> mine = m_file.stamp();
    return !there.error && mine && there.stamp.sameFile(*mine);
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
    // A name that holds another file than the one it was given for came out of the target's
    // place in a swap: PutBackInterruptedSwaps settles it, and it is never removed here.
    const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
    for (const Path& entry : m_folder.entryNames()) {
        std::optional<std::uint64_t> identity;
        if (!IsTemporaryName(entry.native(), prefix, identity))
            continue;
        const FileFacts facts = m_folder.factsOf(entry);
        if (facts.kind == FileKind::Regular && facts.ownedByMe &&
            (!identity || SameIdentity(facts, *identity)) && !HeldByARun(m_folder, entry))
            (void)m_folder.remove(entry);
    }
}

void PutBackInterruptedSwaps(const Folder& folder, const Path& name)
{
    const std::string prefix = NameStart(name.native()) + TemporaryNameTag(name.native());
    for (const Path& entry : folder.entryNames()) {
        std::optional<std::uint64_t> identity;
        if (!IsTemporaryName(entry.native(), prefix, identity) || !identity)
            continue;
        const FileFacts cameOut = folder.factsOf(entry);
        if (cameOut.error || cameOut.kind != FileKind::Regular || SameIdentity(cameOut, *identity))
            continue;
        // The run's own file must still be in the target's place, written by nobody since the
        // swap (a rename sets the time of what it moves), and locked by no live run.
        const FileFacts target = folder.factsOf(name);
        if (!SameIdentity(target, *identity) || target.stamp.device != cameOut.stamp.device ||
            target.stamp.modifiedNs > cameOut.changedNs || HeldByARun(folder, name))
            continue;
        Folder writable = folder.duplicate();
        if (writable.exchange(entry, name))
            continue;
        // The run's file, never reported saved, now has the temporary name again.
        if (SameIdentity(writable.factsOf(entry), *identity))
            (void)writable.remove(entry);
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
    if (m_name.empty()) {
        const Result<FileStamp> stamp = m_file.stamp();
        if (!stamp)
            return stamp.error();
        const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = prefix + RandomNameSuffix() + IdentityMark(stamp->inode);
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
        if (std::error_code e = CopyRange(unnamed, m_file, stamp->size))
            return e;
        if (std::error_code e = m_file.syncData())
            return e;
    }
    return markName();
}

std::error_code NewFileBeside::markName()
{
    const Result<FileStamp> stamp = m_file.stamp();
    if (!stamp)
        return stamp.error();
    const std::string marked = m_name.native() + IdentityMark(stamp->inode);
    const std::string prefix = NameStart(m_fileName) + TemporaryNameTag(m_fileName);
    std::optional<std::uint64_t> identity;
    if (IsTemporaryName(m_name.native(), prefix, identity) && identity)
        return {};  // given with its mark
    if (std::error_code e = m_folder.rename(m_name, marked))
        return e;
    m_name = marked;
    return {};
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
        there.stamp.sameFile(replaced.stamp))
        (void)m_folder.remove(m_name);
    m_name.clear();
    m_nameHoldsReplaced = false;
}

}  // namespace platform
