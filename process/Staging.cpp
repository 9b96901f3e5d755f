#include "Staging.h"

#include "AtomicReplace.h"
#include "Backups.h"
#include "ImageLayout.h"
#include "StatePath.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTimer>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/prctl.h>
#endif

namespace Process {
namespace {

// A decompressor that has created the flag gets this long to exit before it is stopped.
constexpr int kExitGraceMs = 2000;
// Fallback for file systems that do not report changes to a folder.
constexpr int kFlagPollMs = 50;
// An ownerless lock file older than this is abandoned.
constexpr qint64 kAbandonedLockAgeMs = 1000;


QString LastLine(const QByteArray& output)
{
    const auto lines = QString::fromLocal8Bit(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->trimmed().isEmpty())
            return it->trimmed();
    return {};
}

}  // namespace

QString DecompressorPath(const QString& programFolder)
{
#if defined(Q_OS_WIN)
    return QDir(programFolder).filePath(QStringLiteral("Unvell.exe"));
#else
    return QDir(programFolder).filePath(QStringLiteral("Unvell"));
#endif
}

StagingFrame::StagingFrame(const StagingContext& context) : m_context(context) {}

StagingFrame::~StagingFrame()
{
    m_workingCopy.close();
    if (m_folderLock.locked()) {
        (void)removeWorkingFiles();
        m_folderLock.release();
    }
    m_stateLock.release();
}

QString StagingFrame::inFolder(const QString& name) const
{
    return QDir(m_context.programFolder).filePath(name);
}

Outcome StagingFrame::lockState(const QString& statePath)
{
    const protocol::LockResult locked =
        m_stateLock.lockExistingFile(QFile::encodeName(statePath).toStdString(), m_context.lockWait);
    switch (locked.status) {
    case protocol::LockStatus::Locked: return Outcome::Success();
    case protocol::LockStatus::Busy:
        return Outcome::Failure(ErrorKind::Busy,
                                QStringLiteral("Another program is loading or saving the state "
                                               "file %1. Try again when it has finished.")
                                    .arg(ShownPath(statePath)));
    case protocol::LockStatus::NotRegular:
        return Outcome::Failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is %2, not a state file.")
                                    .arg(ShownPath(statePath), QString::fromStdString(locked.what)));
    default:
        return Outcome::Failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be opened: %2.")
                                    .arg(ShownPath(statePath), SystemCause(locked.error)));
    }
}

Outcome StagingFrame::lockFolder()
{
    const QString folder = ShownPath(m_context.programFolder);
    const QString lockPath = inFolder(kFolderLockName);
    const protocol::LockResult locked =
        m_folderLock.lockFolderFile(QFile::encodeName(lockPath).toStdString(), m_context.lockWait);
    switch (locked.status) {
    case protocol::LockStatus::Locked: return Outcome::Success();
    case protocol::LockStatus::Busy:
        return Outcome::Failure(ErrorKind::Busy,
                                QStringLiteral("Another load or save is using the program folder "
                                               "%1. Try again when it has finished.")
                                    .arg(folder));
    case protocol::LockStatus::NotRegular:
        return Outcome::Failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 is %2, which no load or save of "
                                               "this editor makes; remove it and try again.")
                                    .arg(ShownPath(lockPath), QString::fromStdString(locked.what)));
    case protocol::LockStatus::CannotClear:
        return Outcome::Failure(ErrorKind::Busy,
                                QStringLiteral("The lock file %1 was left by a program that has "
                                               "ended and cannot be removed (%2); remove it and "
                                               "try again.")
                                    .arg(ShownPath(lockPath), SystemCause(locked.error)));
    default:
        // Permission bits, an immutable folder or a read-only file system all end here.
        return Outcome::Failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The program folder %1 is not writable (its lock "
                                               "file cannot be created: %2); the editor keeps "
                                               "its working files there.")
                                    .arg(folder, SystemCause(locked.error)));
    }
}

Outcome StagingFrame::removeWorkingFiles()
{
    for (const QString& name :
         {kCompletionFlagName, kWorkingCopyName, kWorkingCopyName + QStringLiteral(".part")}) {
        QFile file(inFolder(name));
        if (file.exists() && !file.remove())
            return Outcome::Failure(ErrorKind::FolderNotWritable,
                                    QStringLiteral("The working file %1 cannot be removed: %2")
                                        .arg(ShownPath(file.fileName()), file.errorString()));
    }
    return Outcome::Success();
}

Outcome StagingFrame::StageStateFile(const QString& statePath)
{
    if (Outcome usable = CheckStatePath(statePath, m_context.programFolder); !usable)
        return usable;
    if (!QFileInfo(m_context.programFolder).isDir())
        return Outcome::Failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The program folder %1 does not exist.")
                                    .arg(ShownPath(m_context.programFolder)));
    const QFileInfo decompressor(DecompressorPath(m_context.programFolder));
    if (!decompressor.isFile())
        return Outcome::Failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 is missing; it belongs in "
                                               "the editor's folder.")
                                    .arg(ShownPath(decompressor.filePath())));
    if (!decompressor.isExecutable())
        return Outcome::Failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 cannot be run: it is not "
                                               "executable.")
                                    .arg(ShownPath(decompressor.filePath())));

    // The state first, then the folder: every program takes them in this order, so two can
    // never each hold the lock the other waits for.
    if (Outcome locked = lockState(statePath); !locked)
        return locked;
    if (Outcome locked = lockFolder(); !locked)
        return locked;
    // A flag left over from an interrupted run would end the wait before the image is written.
    if (Outcome cleaned = removeWorkingFiles(); !cleaned)
        return cleaned;
    if (Outcome ran = runDecompressor(statePath); !ran)
        return ran;
    return m_workingCopy.open(inFolder(kWorkingCopyName), statePath);
}

Outcome StagingFrame::runDecompressor(const QString& statePath)
{
    const QString flag = inFolder(kCompletionFlagName);
    const QString decompressor = DecompressorPath(m_context.programFolder);

    QProcess process;
    process.setProgram(decompressor);
    // One argument, no shell: spaces, quotes and any other character reach it intact.
    process.setArguments({QStringLiteral("-dec"), statePath});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
#if defined(Q_OS_LINUX)
    // If the editor dies mid-frame, its decompressor dies too instead of writing into the
    // folder while a later frame runs.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif

    QEventLoop loop;
    bool flagSeen = false;
    auto checkFlag = [&] {
        if (!flagSeen && QFileInfo::exists(flag)) {
            flagSeen = true;
            loop.quit();
        }
    };
    QFileSystemWatcher watcher({m_context.programFolder});
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, checkFlag);
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        checkFlag();
        loop.quit();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, checkFlag);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    process.start();
    if (!process.waitForStarted())
        return Outcome::Failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 could not be started: %2")
                                    .arg(ShownPath(decompressor), process.errorString()));
    poll.start(kFlagPollMs);
    deadline.start(m_context.waitBound);
    checkFlag();
    // The window repaints meanwhile but takes no input until the frame is done.
    if (!flagSeen && process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    checkFlag();

    if (flagSeen) {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(kExitGraceMs)) {
            process.kill();
            process.waitForFinished();
        }
    } else if (process.state() == QProcess::NotRunning) {
        const QString line = LastLine(process.readAllStandardError());
        const QString prefix = FromProtocol(protocol::kErrorPrefix) + statePath + QStringLiteral(": ");
        const QString cause = line.startsWith(prefix) ? line.mid(prefix.size()) : line;
        if (process.exitStatus() == QProcess::CrashExit)
            return Outcome::Failure(ErrorKind::DecompressorFailed,
                                    QStringLiteral("The decompressor stopped unexpectedly while "
                                                   "reading %1.")
                                        .arg(ShownPath(statePath)));
        if (process.exitCode() == protocol::kExitNotAState)
            return Outcome::Failure(ErrorKind::NotAState,
                                    QStringLiteral("%1 is not a state this editor can edit: %2")
                                        .arg(ShownPath(statePath), cause));
        return Outcome::Failure(
            ErrorKind::DecompressorFailed,
            cause.isEmpty()
                ? QStringLiteral("The decompressor ended without an image of %1 (exit code %2).")
                      .arg(ShownPath(statePath), QString::number(process.exitCode()))
                : QStringLiteral("The decompressor could not read %1: %2")
                      .arg(ShownPath(statePath), cause));
    } else {
        process.kill();
        process.waitForFinished();
        return Outcome::Failure(
            ErrorKind::DecompressorTimedOut,
            QStringLiteral("The decompressor did not finish with %1 within %2 seconds and was "
                           "stopped.")
                .arg(ShownPath(statePath),
                     QString::number(double(m_context.waitBound.count()) / 1000.0)));
    }

    QFile flagFile(flag);
    if (!flagFile.remove())
        return Outcome::Failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The working file %1 cannot be removed: %2")
                                    .arg(ShownPath(flag), flagFile.errorString()));
    return Outcome::Success();
}

Outcome StagingFrame::ReplaceStateFile(const QString& statePath)
{
    if (Outcome writable = CheckReplaceable(statePath); !writable)
        return writable;
    if (Outcome written = m_workingCopy.writeBack(); !written)
        return written;
    if (m_workingCopy.sameAs(statePath))
        return Outcome::Success();  // already the plain image: nothing to write

    QString backup;
    if (!m_context.backupFolder.isEmpty()) {
        Result<QString> kept = BackUpStateFile(m_context.backupFolder, statePath);
        if (!kept)
            return kept.failure();
        backup = kept.value();
    }
    Outcome replaced = ReplaceFileFrom(statePath, m_workingCopy.descriptor(), m_workingCopy.size());
    // A backup of a file that stays as it was is no backup; a hard link would even change with
    // the file.
    if (!replaced && !backup.isEmpty())
        QFile::remove(backup);
    return replaced;
}

}  // namespace Process
