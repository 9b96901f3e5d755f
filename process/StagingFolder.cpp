#include "StagingFolder.h"

#include "FileIo.h"
#include "Staging.h"
#include "StatePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace Process {
namespace {

const QString kAppFolder = QStringLiteral("cindral-editor");

bool Writable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// Copies the installed decompressor into `folder` unless an identical copy is there: written
// under a temporary name, private to the user, given the installed one's time, then renamed,
// so a frame never runs a half-written program.
QString RefreshCopy(const QString& installed, const QString& folder)
{
    const QString target = DecompressorPath(folder);
    const QFileInfo source(installed), copy(target);
    if (copy.exists() && copy.size() == source.size() &&
        copy.lastModified() == source.lastModified() && copy.isExecutable())
        return {};
    QFile in(installed);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("the decompressor %1 cannot be read").arg(ShownPath(installed));
    const QByteArray bytes = in.readAll();
    if (bytes.size() != source.size())
        return QStringLiteral("the decompressor %1 cannot be read whole").arg(ShownPath(installed));
    QByteArray temporary = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return SystemCause(errno);
    struct stat st {
    };
    ::stat(QFile::encodeName(installed).constData(), &st);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    bool done = protocol::WriteAll(fd, bytes.constData(), std::size_t(bytes.size())) &&
                ::fchmod(fd, 0700) == 0 && ::futimens(fd, times) == 0 && ::fsync(fd) == 0;
    int error = done ? 0 : errno;  // before close can change it
    ::close(fd);
    if (done && ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        done = false;
        error = errno;
    }
    if (!done) {
        ::unlink(temporary.constData());
        return SystemCause(error);
    }
    return {};
}

// Why `folder` cannot serve, or an empty text when it now holds a runnable copy.
QString Prepare(const QString& folder, const QString& installed)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("it cannot be created");
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    if (!Writable(folder))
        return QStringLiteral("it is not writable");
    struct statvfs fs {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) == 0 && (fs.f_flag & ST_NOEXEC))
        return QStringLiteral("its file system does not run programs (noexec)");
    return RefreshCopy(installed, folder);
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
    QStringList folders;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        folders << QDir(runtime).filePath(kAppFolder);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        folders << QDir(cache).filePath(kAppFolder);
    return folders;
}

Result<QString> ResolveStagingFolder(const QString& decompressorFolder)
{
    if (Writable(decompressorFolder) || !QFileInfo::exists(DecompressorPath(decompressorFolder)))
        return decompressorFolder;  // a missing decompressor is reported where it belongs
    QStringList tried;
    for (const QString& folder : UserStagingFolders()) {
        const QString why = Prepare(folder, DecompressorPath(decompressorFolder));
        if (why.isEmpty())
            return folder;
        tried << QStringLiteral("%1 (%2)").arg(ShownPath(folder), why);
    }
    return Outcome::Failure(ErrorKind::FolderNotWritable,
                            QStringLiteral("The program folder %1 is not writable, and no folder "
                                           "of yours can hold the editor's working files: "
                                           "tried %2.")
                                .arg(ShownPath(decompressorFolder),
                                     tried.isEmpty() ? QStringLiteral("none (no cache folder)")
                                                     : tried.join(QStringLiteral(", "))));
}

}  // namespace Process
