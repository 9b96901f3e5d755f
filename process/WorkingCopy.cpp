#include "WorkingCopy.h"

#include "FileIo.h"
#include "ImageLayout.h"
#include "StagingProtocol.h"
#include "StatePath.h"

#include <QFile>

#include <cerrno>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Process {
namespace {

constexpr qsizetype kFirstLine = qsizetype(protocol::kSnapshotFirstLineLength);
// The party block and the gold, the only bytes a procedure reads or writes.
constexpr qint64 kRegionStart = kPartyBlockOffset;
constexpr qint64 kRegionEnd = kGoldEnd;

}  // namespace

WorkingCopy::~WorkingCopy()
{
    close();
}

void WorkingCopy::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Outcome WorkingCopy::open(const QString& path, const QString& statePath)
{
    close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        const int error = errno;
        return Outcome::Failure(error == ENOENT ? ErrorKind::NotAState : ErrorKind::Io,
                                QStringLiteral("%1 is not a state this editor can edit: the "
                                               "decompressor wrote no image (%2).")
                                    .arg(ShownPath(statePath), SystemCause(error)));
    }
    m_size = st.st_size;
    m_image = QByteArray(kMinimumImageSize, '\0');
    // A decompressor that wrote something else must not get its output over the user's state.
    bool snapshot = m_size >= kFirstLine && protocol::ReadAt(m_fd, 0, m_image.data(), kFirstLine);
    bool known = false;
    for (std::string_view signature : protocol::kSnapshotSignatures)
        known = known ||
                m_image.startsWith(QByteArrayView(signature.data(), qsizetype(signature.size())));
    if (!snapshot || !known)
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a state this editor can edit: the "
                                               "decompressor's image is not an emulator "
                                               "snapshot.")
                                    .arg(ShownPath(statePath)));
    if (m_size < kMinimumImageSize)
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a state this editor can edit: its plain "
                                               "image holds %2 bytes, fewer than the %3 the "
                                               "party data needs.")
                                    .arg(ShownPath(statePath), QString::number(m_size),
                                         QString::number(kMinimumImageSize)));
    if (!protocol::ReadAt(m_fd, kRegionStart, m_image.data() + kRegionStart,
                          kRegionEnd - kRegionStart))
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The decompressor's image of %1 cannot be read: %2.")
                                    .arg(ShownPath(statePath), SystemCause(errno)));
    m_asRead = m_image;
    return Outcome::Success();
}

Outcome WorkingCopy::writeBack()
{
    const qint64 length = kRegionEnd - kRegionStart;
    if (m_image.mid(kRegionStart, length) == m_asRead.mid(kRegionStart, length))
        return Outcome::Success();
    if (!protocol::WriteAt(m_fd, kRegionStart, m_image.constData() + kRegionStart, length))
        return Outcome::Failure(
            ErrorKind::Io,
            QStringLiteral("The working copy cannot be written: %1.").arg(SystemCause(errno)));
    m_asRead = m_image;
    return Outcome::Success();
}

bool WorkingCopy::sameAs(const QString& path) const
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {
    };
    bool same = ::fstat(fd, &st) == 0 && st.st_size == m_size;
    // A save changes the party block or the gold: one small read there tells most files apart
    // before the whole image is read.
    const qint64 length = kRegionEnd - kRegionStart;
    QByteArray region(length, '\0');
    same = same && protocol::ReadAt(fd, kRegionStart, region.data(), length) &&
           region == m_image.mid(kRegionStart, length);
    std::vector<char> mine(256 * 1024), theirs(256 * 1024);
    for (qint64 at = 0; same && at < m_size; at += qint64(mine.size())) {
        const qint64 n = std::min<qint64>(qint64(mine.size()), m_size - at);
        same = protocol::ReadAt(m_fd, at, mine.data(), n) &&
               protocol::ReadAt(fd, at, theirs.data(), n) &&
               std::equal(mine.begin(), mine.begin() + n, theirs.begin());
    }
    ::close(fd);
    return same;
}

}  // namespace Process
