#include "Staging.h"

#include "DecompressorRun.h"
#include "FileReplace.h"
#include "LockedStateReplace.h"
#include "NewFileBeside.h"
#include "StagingFolder.h"
#include "StagingLocks.h"
#include "StatePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Process {

namespace {

Outcome StillBeingWritten(const CheckedState& state)
{
    return Outcome::failure(ErrorKind::Busy,
                            QStringLiteral("Another program keeps the state file %1 open, "
                                           "writing it (the emulator saving, say). Try again "
                                           "when it has finished.")
                                .arg(state.shown));
}

}  // namespace

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

Outcome StagingFrame::removeWorkingFiles()
{
    for (const QString& name : {kCompletionFlagName, kWorkingCopyName, kPartialWorkingCopyName}) {
        const QString path = inFolder(name);
        if (std::error_code removed = platform::RemoveFile(ToNative(path), kHeldFileWait))
            return Outcome::failure(ErrorKind::FolderNotWritable,
                                    QStringLiteral("The working file %1 cannot be removed: %2")
                                        .arg(ShownPath(path), SystemCause(removed)));
    }
    return Outcome::success();
}

Outcome StagingFrame::lockState(const CheckedState& state)
{
    if (!QFileInfo(m_context.programFolder).isDir())
        return Outcome::failure(ErrorKind::FolderNotWritable,
                                QStringLiteral("The program folder %1 does not exist.")
                                    .arg(ShownPath(m_context.programFolder)));
    // From here on the folder is the one the frame works in: the decompressor's own, or the
    // user's copy of it where that one is read-only.
    const QString installed = m_context.programFolder;
    const Result<QString> folder = ResolveStagingFolder(installed);
    if (!folder)
        return folder.failure();
    if (folder.value() != m_context.programFolder) {
        m_context.programFolder = folder.value();
        if (Outcome usable = CheckNotWorkingFile(state, m_context.programFolder); !usable)
            return usable;
    }
    // A run killed between its swap and its put-back left the newest save under a temporary
    // name and its own file in the state's place: the save goes back before anything is read.
    platform::PutBackInterruptedSwaps(*state.folder, state.name);
    // The state first, then the folder: every program takes them in this order, so two can
    // never each hold the lock the other waits for.
    if (Outcome locked = LockStateFile(m_stateLock, state, m_context.lockWait); !locked)
        return locked;
    if (Outcome locked =
            LockProgramFolder(m_folderLock, m_context.programFolder, m_context.lockWait);
        !locked)
        return locked;
    if (Outcome copied = RefreshDecompressorCopy(installed, m_context.programFolder); !copied)
        return copied;
    // A program that has the state open is still writing it (the emulator saving in parts):
    // read or replace it only once that program has finished, never half of its save.
    if (m_stateLock.settle(m_context.lockWait) == platform::Openers::Others)
        return StillBeingWritten(state);
    return Outcome::success();
}

Outcome StagingFrame::stageStateFile(const CheckedState& state)
{
    if (Outcome locked = lockState(state); !locked)
        return locked;
    const QFileInfo decompressor(DecompressorPath(m_context.programFolder));
    if (!decompressor.isFile())
        return Outcome::failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 is missing; it belongs in "
                                               "the editor's folder.")
                                    .arg(ShownPath(decompressor.filePath())));
    if (!decompressor.isExecutable())
        return Outcome::failure(ErrorKind::DecompressorMissing,
                                QStringLiteral("The decompressor %1 cannot be run: it is not "
                                               "executable.")
                                    .arg(ShownPath(decompressor.filePath())));
    // A flag left over from an interrupted run would end the wait before the image is written.
    if (Outcome cleaned = removeWorkingFiles(); !cleaned)
        return cleaned;
    if (Outcome ran = RunDecompressor(m_context.programFolder, state.path, m_context.waitBound);
        !ran)
        return ran;
    // From here on, another program's opening of the state is told at once (where the system
    // grants a lease); the decompressor's own opening came before.
    if (m_stateLock.leaseFile(m_context.lockWait) == platform::Openers::Others)
        return StillBeingWritten(state);
    // The decompressor reads the state by its path: what it read is the locked file only while
    // the name still leads there, unchanged.
    if (!m_stateLock.stillAsLocked())
        return Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                                QStringLiteral("The state file %1 was changed by another program "
                                               "while it was being read; load it again.")
                                    .arg(state.shown));
    return m_workingCopy.open(inFolder(kWorkingCopyName), state.path);
}

Outcome StagingFrame::replaceStateWith(const CheckedState& state, const QByteArray& contents)
{
    if (m_stateLock.leaseFile(m_context.lockWait) == platform::Openers::Others)
        return StillBeingWritten(state);
    if (SameBytes(m_stateLock.file(), contents) && m_stateLock.stillAsLocked())
        return Outcome::success();
    if (Outcome writable = CheckReplaceable(state, m_stateLock.file()); !writable)
        return writable;
    return ReplaceLockedState(
        state, m_stateLock, m_context.backupFolder, [&](platform::File& file) {
            return file.writeAll(contents.constData(), std::size_t(contents.size()));
        });
}

Outcome StagingFrame::replaceStateFile(const CheckedState& state)
{
    if (Outcome written = m_workingCopy.writeBack(); !written)
        return written;
    if (m_workingCopy.sameAs(m_stateLock.file()) && m_stateLock.stillAsLocked())
        return Outcome::success();  // already the plain image: nothing to write
    if (Outcome writable = CheckReplaceable(state, m_stateLock.file()); !writable)
        return writable;
    return ReplaceLockedState(state, m_stateLock, m_context.backupFolder,
                              [&](platform::File& file) { return m_workingCopy.copyTo(file); });
}

}  // namespace Process
