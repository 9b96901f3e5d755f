#pragma once

// A temporary program folder holding a decompressor, the way the editor's own folder does.

#include "Staging.h"

#include <QTemporaryDir>

namespace testsupport {

QString RealUnvell();
QString FakeUnvell();  // behaviour chosen by the environment variable CINDRAL_FAKE_UNVELL

class ProgramFolder
{
public:
    explicit ProgramFolder(const QString& decompressor = RealUnvell());

    QString path() const { return m_dir.path(); }
    // Copies another program in beside the decompressor; returns its new path.
    QString addProgram(const QString& program);
    QString file(const QString& name) const { return m_dir.filePath(name); }
    // Where this folder's frames keep their backups (a temporary folder of its own).
    QString backupFolder() const { return m_backups.path(); }
    Process::StagingContext context(Process::BusyIndicator* busy = nullptr) const;

    // The working files or the lock were left behind by a frame.
    bool hasLeftovers() const;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_backups;
};

// One of the state's listed backups holds exactly these bytes.
bool AnyBackupHolds(const QString& backupFolder, const QString& statePath, const QByteArray& bytes);

// Counts the busy calls and checks they pair up.
class CountingBusy : public Process::BusyIndicator
{
public:
    void setBusy(bool busy) override
    {
        (busy ? begins : ends)++;
        depth += busy ? 1 : -1;
    }
    int begins = 0;
    int ends = 0;
    int depth = 0;
};

}  // namespace testsupport
