#include "FileReplace.h"

#include "NewFileBeside.h"
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

Outcome CheckReplaceable(const CheckedState& state, const platform::File& locked)
{
    const platform::FileFacts facts = locked.facts();
    const QFileInfo info(state.path);
    if (facts.error || !facts.markedWritable || !info.isWritable() ||
        !HasAnyWriteBit(info.permissions()))
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 is read-only; it was left as "
                                               "it was.")
                                    .arg(state.shown));
    // The new file is written beside the old one under a longer, temporary name, which the
    // system must still accept as a path.
    if (ToNative(info.absolutePath()).native().size() + platform::kTemporaryNameRoom >=
        platform::kLongestPath)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The state file %1 could not be replaced: its path "
                                               "is too long to write a new file beside it. Move "
                                               "it to a folder with a shorter path. It was left "
                                               "as it was.")
                                    .arg(state.shown));
    return Outcome::success();
}

Result<QByteArray> ReadWholeFile(const platform::File& file)
{
    const platform::Result<std::string> bytes = file.readWhole();
    if (!bytes)
        return Outcome::failure(
            ErrorKind::Io,
            QStringLiteral("The file cannot be read whole: %1").arg(SystemCause(bytes.error())));
    return QByteArray(bytes->data(), qsizetype(bytes->size()));
}

Result<QByteArray> ReadWholeFile(const QString& path)
{
    const platform::File file = platform::File::open(ToNative(path), platform::Access::Read);
    const std::error_code error = file.valid() ? std::error_code() : file.error();
    const platform::Result<std::string> bytes =
        file.valid() ? file.readWhole() : platform::Result<std::string>(error);
    if (!bytes)
        return Outcome::failure(ErrorKind::Io,
                                QStringLiteral("The file %1 cannot be read: %2")
                                    .arg(ShownPath(path), SystemCause(bytes.error())));
    return QByteArray(bytes->data(), qsizetype(bytes->size()));
}

bool SameBytes(const platform::File& file, const QByteArray& bytes)
{
    const Result<QByteArray> held = ReadWholeFile(file);
    return held && held.value() == bytes;
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
    const QFileInfo target(canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical);
    const platform::Folder folder = platform::Folder::open(ToNative(target.absolutePath()));
    if (!folder.valid())
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The %1 %2 cannot be replaced: %3.")
                                    .arg(noun, shown, SystemCause(folder.error())));
    const platform::File old =
        canonical.isEmpty() ? platform::File()
                            : platform::File::open(ToNative(canonical), platform::Access::Read);
    return ReplaceFileIn(
        {folder, ToNative(target.fileName()), shown, old.valid() ? &old : nullptr, lastCheck, {}},
        fill, nullptr, noun);
}

Result<FileStamp> ReplaceFileIn(const ReplaceIn& where, const Fill& fill, bool* swapped,
                                const QString& noun)
{
    const QString& shown = where.shown;
    platform::NewFileBeside file(where.folder, where.name);
    if (!file.valid())
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The %1 %2 cannot be replaced: %3.")
                                    .arg(noun, shown, SystemCause(file.error())));
    if (where.ownershipFrom)
        file.keepOwnershipOf(*where.ownershipFrom);
    else
        file.takeDefaultPermissions();
    std::error_code error = fill(file.file());
    if (!error)
        error = file.file().syncData();
    if (!error)
        error = file.name();
    if (!error && where.lastCheck) {
        if (Outcome checked = where.lastCheck(); !checked)
            return checked;
    }
    std::optional<FileStamp> stamp;
    if (!error) {
        const platform::Result<FileStamp> made = file.file().stamp();
        if (made)
            stamp = *made;
        else
            error = made.error();
    }
    if (!error && where.inspect) {
        // Swapped, not renamed: what the name led to in the last moment comes out whole, so a
        // save another program renamed into place just then is seen, not lost.
        error = file.exchangeWithTarget();
        if (swapped)
            *swapped = error != std::errc::operation_not_supported;
        if (!error) {
            const platform::FileFacts replaced = file.replacedFacts();
            if (where.inspect(replaced) == Replaced::PutBack) {
                if (std::error_code back = file.putReplacedBack())
                    return Outcome::failure(ErrorKind::Io,
                                            QStringLiteral("The %1 %2 was written by another "
                                                           "program in the moment it was saved, "
                                                           "and what that program wrote could not "
                                                           "be put back in its place: %3.")
                                                .arg(noun, shown, SystemCause(back)));
                return Outcome::failure(ErrorKind::ChangedByAnotherProgram, {});
            }
            file.dropReplaced(replaced);
        } else if (error == std::errc::operation_not_supported) {
            error = file.renameOverTarget();
        }
    } else if (!error) {
        error = where.mustBeNew ? file.renameToFreeTarget() : file.renameOverTarget();
        if (error == std::errc::file_exists)
            return Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                                    QStringLiteral("The %1 %2 was made by another program "
                                                   "while it was being written; it was left "
                                                   "as that program wrote it.")
                                        .arg(noun, shown));
    }
    if (!error && stamp)
        return *stamp;
    if (!file.oldKeptAs().empty())
        return Outcome::failure(
            ErrorKind::Io, QStringLiteral("The %1 %2 could not be replaced: %3. Another "
                                          "program held it in the middle of the replace: "
                                          "the old file is kept beside it as \"%4\" and "
                                          "goes back in its place the next time it is "
                                          "opened.")
                               .arg(noun, shown, SystemCause(error), FromNative(file.oldKeptAs())));
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
