#pragma once

// The frame around every load and save: the decompressor turns the state file into its plain
// image in the program folder, the caller reads or patches the image, and the image then takes
// the state file's place.

#include "Outcome.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

class QLockFile;

namespace Process {

inline const QString kWorkingCopyName = QStringLiteral("newstate.dec");
inline const QString kCompletionFlagName = QStringLiteral("flag.unv");
inline const QString kFolderLockName = QStringLiteral("cindral-editor.lock");

// How the window learns that a load or save is under way (the editor shows the wait cursor).
class BusyIndicator
{
public:
    virtual ~BusyIndicator() = default;
    virtual void setBusy(bool busy) = 0;
};

// Sets the indicator for its lifetime, so every return path restores it.
class BusyScope
{
public:
    explicit BusyScope(BusyIndicator* indicator) : m_indicator(indicator)
    {
        if (m_indicator)
            m_indicator->setBusy(true);
    }
    ~BusyScope()
    {
        if (m_indicator)
            m_indicator->setBusy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    BusyIndicator* m_indicator;
};

struct StagingContext {
    QString programFolder;  // holds the decompressor; the working files go there too
    std::chrono::milliseconds waitBound{20000};  // for the decompressor
    std::chrono::milliseconds lockWait{5000};    // for another load or save on the same folder
    BusyIndicator* busy = nullptr;
};

QString DecompressorPath(const QString& programFolder);

// One run of the frame. It holds the program folder's lock from StageStateFile on, and on
// destruction removes the working files and releases the lock, whatever happened.
class StagingFrame
{
public:
    explicit StagingFrame(const StagingContext& context);
    ~StagingFrame();
    StagingFrame(const StagingFrame&) = delete;
    StagingFrame& operator=(const StagingFrame&) = delete;

    // Has the decompressor write the state's plain image and reads it into image().
    Outcome StageStateFile(const QString& statePath);
    QByteArray& image() { return m_image; }

    // Puts image() in the state file's place atomically: written beside it and renamed over
    // it, keeping its permissions. On failure the state file is left exactly as it was.
    Outcome ReplaceStateFile(const QString& statePath);

private:
    Outcome lockFolder();
    Outcome removeWorkingFiles();
    Outcome runDecompressor(const QString& statePath);
    Outcome readWorkingCopy(const QString& statePath);
    QString inFolder(const QString& name) const;

    StagingContext m_context;
    std::unique_ptr<QLockFile> m_lock;
    QByteArray m_image;
};

}  // namespace Process
