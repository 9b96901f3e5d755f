#include "AtomicReplace.h"

#include "Replace.h"
#include "StatePath.h"

#include <QFile>
#include <QFileInfo>

namespace Process {
namespace {

bool HasAnyWriteBit(QFileDevice::Permissions p)
{
    // WriteUser is left out: it says what this process may do, not how the file is marked.
    return p & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

}  // namespace

std::optional<FileStamp> StampOfPath(const QString& path)
{
    const platform::FileFacts facts = platform::FactsOf(ToNative(path));
    if (facts.error)
        return std::nullopt;
    return facts.stamp;
}

Outcome CheckReplaceable(const QString& path)
{
    const QString shown = ShownPath(path);
    const QFileInfo state(path);
    if (!state.exists())
        return Outcome::failure(ErrorKind::NotFound,
                                QStringLiteral("The state file %1 no longer exists.").arg(shown));
    if (state.isDir())
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is a folder, not a state file.").arg(shown));
    if (!state.isWritable() || !HasAnyWriteBit(state.permissions()))
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 is read-only; it was left as "
                                               "it was.")
                                    .arg(shown));
    // The new file is written beside the old one under a longer, temporary name, which the
    // system must still accept as a path.
    const QString target = state.canonicalFilePath();
    const QString folder = QFileInfo(target.isEmpty() ? path : target).absolutePath();
    if (ToNative(folder).native().size() + platform::kTemporaryNameRoom >= platform::kLongestPath)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 could not be replaced: its path "
                                               "is too long to write a new file beside it. Move "
                                               "it to a folder with a shorter path. It was left "
                                               "as it was.")
                                    .arg(shown));
    return Outcome::success();
}

std::optional<QByteArray> ReadWholeFile(const platform::File& file)
{
    const std::optional<std::string> bytes = file.readWhole();
    if (!bytes)
        return std::nullopt;
    return QByteArray(bytes->data(), qsizetype(bytes->size()));
}

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    const platform::File file = platform::File::open(ToNative(path), platform::Access::Read);
    return file.valid() ? ReadWholeFile(file) : std::nullopt;
}

Outcome CopyUnchanged(const platform::File& from, platform::File& to)
{
    const std::error_code copied = platform::CopyStable(from, to);
    if (copied == std::errc::resource_unavailable_try_again)
        return Outcome::failure(
            ErrorKind::ChangedByAnotherProgram,
            QStringLiteral("another program wrote the file while it was copied"));
    if (copied)
        return Outcome::failure(ErrorKind::Io, SystemCause(copied));
    return Outcome::success();
}

Result<FileStamp> ReplaceFile(const QString& path, const Fill& fill, const LastCheck& lastCheck,
                              const QString& noun)
{
    const QString shown = ShownPath(path);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const bool exists = !canonical.isEmpty();
    const platform::Path target = ToNative(exists ? canonical : QFileInfo(path).absoluteFilePath());
    platform::NewFileBeside file(target);
    if (!file.valid())
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The %1 %2 cannot be replaced: %3.")
                                    .arg(noun, shown, SystemCause(file.error())));
    if (exists)
        file.keepOwnershipOf(target);
    else
        file.takeDefaultPermissions();
    std::error_code error = fill(file.file());
    if (!error)
        error = file.file().syncData();
    if (!error)
        error = file.name();
    if (!error && lastCheck) {
        if (Outcome checked = lastCheck(); !checked)
            return checked;
    }
    std::optional<FileStamp> stamp;
    if (!error) {
        stamp = file.file().stamp();
        error = file.renameOverTarget();
    }
    if (!error && stamp)
        return *stamp;
    if (platform::DiskFull(error))
        return Outcome::failure(ErrorKind::DiskFull,
                                QStringLiteral("The %1 %2 could not be replaced: the disk is full. "
                                               "It was left as it was.")
                                    .arg(noun, shown));
    return Outcome::failure(ErrorKind::Io,
                            QStringLiteral("The %1 %2 could not be replaced: %3. It was left as "
                                           "it was.")
                                .arg(noun, shown, SystemCause(error)));
}

Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes)
{
    const Result<FileStamp> replaced = ReplaceFile(path, [&](platform::File& file) {
        return file.writeAll(bytes.constData(), std::size_t(bytes.size()));
    });
    return replaced ? Outcome::success() : replaced.failure();
}

}  // namespace Process
