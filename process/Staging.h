#pragma once

// The frame around every load and save: the decompressor turns the state file into its plain
// image in the program folder, the caller reads or patches the image, and the image then takes
// the state file's place.

#include "FileLock.h"
#include "Outcome.h"
#include "StagingNames.h"
#include "StatePath.h"
#include "WorkingCopy.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace Process {

struct StagingContext {
    QString programFolder;  // holds the decompressor; the working files go there too
    std::chrono::milliseconds waitBound{20000};  // for the decompressor
    // For another load or save on the same folder or the same state file, each.
    std::chrono::milliseconds lockWait{5000};
    // Where a replaced state's bytes are kept first; empty keeps no backup.
    QString backupFolder;
};

// One run of the frame. From stageStateFile on it holds a lock on the state file (so two
// programs never edit one state at once, from one program folder or two) and the program
// folder's lock; on destruction it removes the working files and releases both, whatever
// happened.
class StagingFrame
{
public:
    explicit StagingFrame(const StagingContext& context);
    ~StagingFrame();
    StagingFrame(const StagingFrame&) = delete;
    StagingFrame& operator=(const StagingFrame&) = delete;

    // Has the decompressor write the state's plain image and reads the party data of it into
    // image() (see WorkingCopy: the bytes the editor does not use stay in the file).
    Outcome stageStateFile(const CheckedState& state);
    // Only the two locks, for a frame that needs no image (a restore).
    Outcome lockState(const CheckedState& state);
    QByteArray& image() { return m_workingCopy.image(); }

    // Puts image() in the state file's place atomically: written beside it and renamed over
    // it, keeping its permissions and owner, after a backup of the bytes it replaces (when the
    // context names a backup folder). Nothing is written when the file holds image() already.
    // On failure the state file is left exactly as it was, or as another program that wrote it
    // meanwhile left it (ErrorKind::ChangedByAnotherProgram: stage it again and redo the edit).
    Outcome replaceStateFile(const CheckedState& state);
    // After lockState: puts `contents` in the state file's place the same way.
    Outcome replaceStateWith(const CheckedState& state, const QByteArray& contents);

private:
    Outcome removeWorkingFiles();
    QString inFolder(const QString& name) const;

    StagingContext m_context;
    platform::FileLock m_stateLock;
    platform::FileLock m_folderLock;
    WorkingCopy m_workingCopy;
};

}  // namespace Process
