#pragma once

// A temporary program folder holding a decompressor, the way the editor's own folder does.

#include "PartyState.h"
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
    Process::StagingContext context() const;

    // The working files or the lock were left behind by a frame.
    bool hasLeftovers() const;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_backups;
};

// One of the state's listed backups holds exactly these bytes.
bool AnyBackupHolds(const QString& backupFolder, const QString& statePath, const QByteArray& bytes);

// Writes the whole of `party` (every member's record and experience) and, with goldMaxOut, the
// gold into the state, as an editor that kept no earlier party would. An empty path does nothing.
Process::Outcome SaveWholeParty(const QString& statePath, const Process::StagingContext& context,
                                const Process::PartyState& party, bool goldMaxOut);

}  // namespace testsupport
