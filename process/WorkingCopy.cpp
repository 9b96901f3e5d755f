#include "WorkingCopy.h"

#include "CharacterRecord.h"
#include "StagingProtocol.h"
#include "StatePath.h"

#include <QFile>

#include <string_view>
#include <vector>

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
    (void)m_file.close();
}

Outcome WorkingCopy::open(const QString& path, const QString& statePath)
{
    close();
    m_file = platform::File::open(ToNative(path), platform::Access::ReadWrite, false);
    platform::FileFacts facts;
    if (m_file.valid())
        facts = m_file.facts();
    else
        facts.error = m_file.error();
    if (facts.error)
        return Outcome::failure(facts.error == std::errc::no_such_file_or_directory
                                    ? ErrorKind::NotAState
                                    : ErrorKind::Io,
                                QStringLiteral("%1 is not a state this editor can edit: the "
                                               "decompressor wrote no image (%2).")
                                    .arg(ShownPath(statePath), SystemCause(facts.error)));
    m_size = facts.stamp.size;
    m_image = QByteArray(kMinimumImageSize, '\0');
    // A decompressor that wrote something else must not get its output over the user's state.
    const bool snapshot = m_size >= kFirstLine && !m_file.readAt(0, m_image.data(), kFirstLine);
    bool known = false;
    for (std::string_view signature : protocol::kSnapshotSignatures)
        known = known ||
                m_image.startsWith(QByteArrayView(signature.data(), qsizetype(signature.size())));
    if (!snapshot || !known)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a state this editor can edit: the "
                                               "decompressor's image is not an emulator "
                                               "snapshot.")
                                    .arg(ShownPath(statePath)));
    if (m_size < kMinimumImageSize)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a state this editor can edit: its plain "
                                               "image holds %2 bytes, fewer than the %3 the "
                                               "party data needs.")
                                    .arg(ShownPath(statePath), QString::number(m_size),
                                         QString::number(kMinimumImageSize)));
    if (std::error_code e = m_file.readAt(kRegionStart, m_image.data() + kRegionStart,
                                          std::size_t(kRegionEnd - kRegionStart)))
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The decompressor's image of %1 cannot be read: %2.")
                                    .arg(ShownPath(statePath), SystemCause(e)));
    m_asRead = m_image;
    return Outcome::success();
}

Outcome WorkingCopy::writeBack()
{
    const qint64 length = kRegionEnd - kRegionStart;
    if (m_image.mid(kRegionStart, length) == m_asRead.mid(kRegionStart, length))
        return Outcome::success();
    if (std::error_code e =
            m_file.writeAt(kRegionStart, m_image.constData() + kRegionStart, std::size_t(length)))
        return Outcome::failure(
            ErrorKind::Io,
            QStringLiteral("The working copy cannot be written: %1.").arg(SystemCause(e)));
    m_asRead = m_image;
    return Outcome::success();
}

std::error_code WorkingCopy::copyTo(platform::File& target) const
{
    return platform::CopyRange(m_file, target, m_size);
}

bool WorkingCopy::sameAs(const platform::File& other) const
{
    const platform::Result<platform::FileStamp> stamp = other.stamp();
    bool same = stamp && stamp->size == m_size;
    // A save changes the party block or the gold: one small read there tells most files apart
    // before the whole image is read.
    const qint64 length = kRegionEnd - kRegionStart;
    QByteArray region(length, '\0');
    same = same && !other.readAt(kRegionStart, region.data(), std::size_t(length)) &&
           region == m_image.mid(kRegionStart, length);
    std::vector<char> mine(256 * 1024), theirs(256 * 1024);
    for (qint64 at = 0; same && at < m_size; at += qint64(mine.size())) {
        const auto n = std::size_t(std::min<qint64>(qint64(mine.size()), m_size - at));
        same = !m_file.readAt(at, mine.data(), n) && !other.readAt(at, theirs.data(), n) &&
               std::equal(mine.begin(), mine.begin() + qsizetype(n), theirs.begin());
    }
    return same;
}

}  // namespace Process
