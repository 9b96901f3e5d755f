#include "ProgramFolder.h"

#include "Backups.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

QString RealUnvell()
{
    return QStringLiteral(CINDRAL_UNVELL_BINARY);
}

QString FakeUnvell()
{
    return QStringLiteral(CINDRAL_FAKE_UNVELL_BINARY);
}

ProgramFolder::ProgramFolder(const QString& decompressor)
{
    // A copy, not a link: the decompressor writes into the folder it runs from.
    const QString target = Process::DecompressorPath(m_dir.path());
    if (!m_dir.isValid() || !QFile::copy(decompressor, target))
        qFatal("cannot set up a program folder with %s", qPrintable(decompressor));
    QFile::setPermissions(target, QFile::permissions(decompressor));
}

QString ProgramFolder::addProgram(const QString& program)
{
    const QString target = m_dir.filePath(QFileInfo(program).fileName());
    if (!QFile::copy(program, target))
        qFatal("cannot copy %s", qPrintable(program));
    QFile::setPermissions(target, QFile::permissions(program));
    return target;
}

Process::StagingContext ProgramFolder::context() const
{
    Process::StagingContext context;
    context.programFolder = m_dir.path();
    context.backupFolder = m_backups.path();
    return context;
}

bool ProgramFolder::hasLeftovers() const
{
    for (const QString& name : {Process::kWorkingCopyName, Process::kCompletionFlagName,
                                Process::kFolderLockName, Process::kWorkingCopyName + ".part"})
        if (QFile::exists(file(name)))
            return true;
    return false;
}

bool AnyBackupHolds(const QString& backupFolder, const QString& statePath, const QByteArray& bytes)
{
    const Process::Result<QList<Process::Backup>> backups =
        Process::ListBackups(backupFolder, statePath);
    for (const Process::Backup& backup : backups.value())
        if (ReadBytes(backup.path) == bytes)
            return true;
    return false;
}

Process::Outcome SaveWholeParty(const QString& statePath, const Process::StagingContext& context,
                                const Process::PartyState& party, bool goldMaxOut)
{
    if (statePath.isEmpty())
        return Process::Outcome::success();
    const auto saved =
        Process::EditState(statePath, context, goldMaxOut,
                           [&](const Process::StateContents&, Process::PartyState& now) {
                               now.block = party.block;
                               now.experience = party.experience;
                           });
    return saved ? Process::Outcome::success() : saved.failure();
}

}  // namespace testsupport
