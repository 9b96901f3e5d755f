#include "DecompressorRun.h"

#include "RunningProgram.h"
#include "StagingNames.h"
#include "StagingProtocol.h"
#include "StatePath.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>

namespace Process {
namespace {

// How often, and how far apart, a decompressor that is there is tried before it counts as one
// that cannot be started.
constexpr int kStartAttempts = 3;
constexpr unsigned long kStartPauseMs = 200;

// A decompressor that has created the flag gets this long to exit before it is stopped.
constexpr int kExitGraceMs = 2000;
// How often the flag is looked for while the decompressor runs; its end is noticed at once.
constexpr qint64 kFlagPollMs = 50;

// The decompressor writes UTF-8 on every system (on Windows the code page would lose a path's
// characters).
QString LastLine(const QByteArray& output)
{
    const auto lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->trimmed().isEmpty())
            return it->trimmed();
    return {};
}

// A decompressor that ended without the flag: why, in its own words where it gave them.
Outcome EndedWithoutImage(QProcess& process, const QString& statePath)
{
    const QString line = LastLine(process.readAllStandardError());
    const QString prefix = FromProtocol(protocol::kErrorPrefix) + statePath + QStringLiteral(": ");
    const QString cause = line.startsWith(prefix) ? line.mid(prefix.size()) : line;
    if (process.exitStatus() == QProcess::CrashExit)
        return Outcome::failure(ErrorKind::DecompressorFailed,
                                QStringLiteral("The decompressor stopped unexpectedly while "
                                               "reading %1.")
                                    .arg(ShownPath(statePath)));
    if (process.exitCode() == protocol::kExitNotAState)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a state this editor can edit: %2")
                                    .arg(ShownPath(statePath), cause));
    return Outcome::failure(
        ErrorKind::DecompressorFailed,
        cause.isEmpty()
            ? QStringLiteral("The decompressor ended without an image of %1 (exit code %2).")
                  .arg(ShownPath(statePath), QString::number(process.exitCode()))
            : QStringLiteral("The decompressor could not read %1: %2")
                  .arg(ShownPath(statePath), cause));
}

}  // namespace

Outcome RunDecompressor(const QString& programFolder, const QString& statePath,
                        std::chrono::milliseconds waitBound)
{
    const QString flag = QDir(programFolder).filePath(kCompletionFlagName);
    const QString decompressor = DecompressorPath(programFolder);

    QProcess process;
    process.setProgram(decompressor);
    // One argument, no shell: spaces, quotes and any other character reach it intact.
    process.setArguments({FromProtocol(protocol::kDecompressorSwitch), statePath});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    // Named as the run's editor: should this process end before the decompressor has looked,
    // the decompressor finds no editor holding the folder and writes nothing.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(FromProtocol(protocol::kEditorVariable),
                       QString::number(QCoreApplication::applicationPid()));
    process.setProcessEnvironment(environment);
    // Nothing of ours runs in the child before the program: the child ends with us through the
    // platform (EndWithThisProcess below, or the decompressor's own request), never through a
    // step that could wait for a parent killed in that moment, holding our locks.

    // A program that cannot be started at once may well start a moment later: a virus scanner
    // holds a file it has just seen, and Wine refuses a start now and then when busy.
    bool started = false;
    for (int attempt = 1; !started && attempt <= kStartAttempts; ++attempt) {
        if (attempt > 1)
            QThread::msleep(kStartPauseMs);
        process.start();
        started = process.waitForStarted();
        if (!started &&
            (process.error() != QProcess::FailedToStart || !QFileInfo::exists(decompressor)))
            break;
    }
    if (!started)
        return Outcome::failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 could not be started: %2")
                                    .arg(ShownPath(decompressor), process.errorString()));
    platform::EndWithThisProcess(process.processId());

    // Sleeps in the wait for its end between looks at the flag, so the wait costs no CPU.
    QDeadlineTimer deadline(waitBound);
    bool flagSeen = QFileInfo::exists(flag);
    while (!flagSeen && process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        process.waitForFinished(int(std::min<qint64>(kFlagPollMs, deadline.remainingTime())));
        flagSeen = QFileInfo::exists(flag);
    }

    if (flagSeen) {
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(kExitGraceMs)) {
            process.kill();
            process.waitForFinished();
        }
    } else if (process.state() == QProcess::NotRunning) {
        return EndedWithoutImage(process, statePath);
    } else {
        process.kill();
        process.waitForFinished();
        return Outcome::failure(
            ErrorKind::DecompressorTimedOut,
            QStringLiteral("The decompressor did not finish with %1 within %2 seconds and was "
                           "stopped.")
                .arg(ShownPath(statePath), QString::number(double(waitBound.count()) / 1000.0)));
    }

    if (std::error_code removed = platform::RemoveFile(ToNative(flag), kHeldFileWait))
        return Outcome::failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The working file %1 cannot be removed: %2")
                                    .arg(ShownPath(flag), SystemCause(removed)));
    return Outcome::success();
}

}  // namespace Process
