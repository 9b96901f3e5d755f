#include "StagingFolder.h"

#include "FileReplace.h"
#include "OwnFolder.h"
#include "StagingNames.h"
#include "StatePath.h"
#include "UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Process {
namespace {

const QString kAppFolder = QStringLiteral("cindral-editor");

bool Writable(const QString& folder)
{
    return platform::MayWriteIn(ToNative(folder));
}

// Why a folder does not serve: the reason is the message, a phrase to set in a sentence.
Outcome Unusable(const QString& reason)
{
    return Outcome::failure(ErrorKind::FolderNotWritable, reason);
}

// Copies the installed decompressor into `folder` (one of the user's own) unless a copy with
// the same bytes is there, so a frame never runs a half-written or someone else's program.
Outcome RefreshCopy(const QString& installed, const QString& folder)
{
    const QString target = DecompressorPath(folder);
    const Result<QByteArray> bytes = ReadWholeFile(installed);
    if (!bytes || bytes.value().isEmpty())
        return Unusable(
            QStringLiteral("the decompressor %1 cannot be read whole").arg(ShownPath(installed)));
    const platform::File copy =
        platform::File::open(ToNative(target), platform::Access::Read, false);
    const platform::FileFacts facts = copy.valid() ? copy.facts() : platform::FileFacts{};
    if (facts.kind == platform::FileKind::Regular && facts.ownedByMe &&
        facts.permissions == platform::PermissionsAsKept(0700) && SameBytes(copy, bytes.value()))
        return Outcome::success();
    const Result<FileStamp> written = ReplaceFile(
        target,
        [&](platform::File& file) {
            if (std::error_code e = file.setPermissions(0700))
                return e;
            return file.writeAll(bytes.value().constData(), std::size_t(bytes.value().size()));
        },
        {}, QStringLiteral("private copy of the decompressor"));
    return written ? Outcome::success() : Unusable(written.failure().message());
}

// Whether `folder` now holds a runnable copy, or why it cannot serve.
Outcome Prepare(const QString& folder, const QString& installed)
{
    if (std::error_code made = platform::CreateFolders(ToNative(folder)))
        return Unusable(QStringLiteral("it cannot be created (%1)").arg(SystemCause(made)));
    if (Outcome own = CheckOwnFolder(folder, true); !own)
        return own;
    if (!Writable(folder))
        return Unusable(QStringLiteral("it is not writable"));
    if (!platform::MayRunPrograms(ToNative(folder)))
        return Unusable(QStringLiteral("its file system does not run programs (noexec)"));
    if (!QFileInfo(installed).isFile())
        return Unusable(
            QStringLiteral("the decompressor %1 cannot be read whole").arg(ShownPath(installed)));
    return Outcome::success();
}

}  // namespace

QString FindDecompressorFolder(const QString& programDir)
{
    if (QFileInfo::exists(DecompressorPath(programDir)))
        return programDir;
    const QString installed =
        QDir::cleanPath(programDir + QStringLiteral("/../libexec/cindral-editor"));
    if (QFileInfo::exists(DecompressorPath(installed)))
        return installed;
    return programDir;  // where a missing decompressor is then reported
}

QStringList UserStagingFolders()
{
    const auto inFolder = [](const platform::Path& folder) {
        return QDir(QDir::fromNativeSeparators(FromNative(folder))).filePath(kAppFolder);
    };
    QStringList folders;
    const platform::Path runtime = platform::UserRuntimeFolder();
    if (!runtime.empty() && QFileInfo(FromNative(runtime)).isDir())
        folders << inFolder(runtime);
    folders << inFolder(platform::UserCacheFolder());
    return folders;
}

Result<QString> ResolveStagingFolder(const QString& decompressorFolder)
{
    if (!QFileInfo::exists(DecompressorPath(decompressorFolder)))
        return decompressorFolder;  // a missing decompressor is reported where it belongs
    // Whoever else may write the program folder could swap the image after the flag.
    const Outcome own = Writable(decompressorFolder)
                            ? CheckOwnFolder(decompressorFolder, false)
                            : Unusable(QStringLiteral("it is not writable"));
    if (own)
        return decompressorFolder;
    QStringList tried;
    for (const QString& folder : UserStagingFolders()) {
        const Outcome prepared = Prepare(folder, DecompressorPath(decompressorFolder));
        if (prepared)
            return folder;
        tried << QStringLiteral("%1 (%2)").arg(ShownPath(folder), prepared.message());
    }
    return Outcome::failure(
        ErrorKind::FolderNotWritable,
        QStringLiteral("The program folder %1 cannot hold the editor's working "
                       "files (%2), and no folder of yours can: tried %3.")
            .arg(ShownPath(decompressorFolder), own.message(), tried.join(QStringLiteral(", "))));
}

Outcome RefreshDecompressorCopy(const QString& decompressorFolder, const QString& stagingFolder)
{
    if (stagingFolder == decompressorFolder)
        return Outcome::success();
    const Outcome copied = RefreshCopy(DecompressorPath(decompressorFolder), stagingFolder);
    if (copied)
        return copied;
    return Outcome::failure(ErrorKind::FolderNotWritable,
                            QStringLiteral("The editor's working folder %1 cannot hold a copy of "
                                           "the decompressor: %2.")
                                .arg(ShownPath(stagingFolder), copied.message()));
}

}  // namespace Process
