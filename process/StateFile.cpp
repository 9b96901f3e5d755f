#include "StateFile.h"

#include "AtomicReplace.h"
#include "Backups.h"
#include "PartyImage.h"
#include "StatePath.h"

#include <QFile>
#include <QFileInfo>

namespace Process {
namespace {

// The frame every load, save and inspection runs: nothing at all for an empty path, the busy
// indicator for the whole run, the state staged; `work` then reads or patches the image.
template <class Work>
Outcome InFrame(const QString& statePath, const StagingContext& context, Work&& work)
{
    if (statePath.isEmpty())
        return Outcome::Success();
    BusyScope busy(context.busy);
    StagingFrame frame(context);
    if (Outcome staged = frame.StageStateFile(statePath); !staged)
        return staged;
    return work(frame);
}

StateContents ReadContents(const QByteArray& image)
{
    StateContents contents;
    contents.party.block = ReadPartyBlock(image);
    contents.party.experience = ComposePartyExperience(contents.party.block);
    contents.gold = ReadGold(image);
    return contents;
}

}  // namespace

Outcome LoadState(const QString& statePath, const StagingContext& context, PartyState& party)
{
    return InFrame(statePath, context, [&](StagingFrame& frame) {
        const PartyBlock block = ReadPartyBlock(frame.image());
        const PartyExperience experience = ComposePartyExperience(block);
        if (Outcome replaced = frame.ReplaceStateFile(statePath); !replaced)
            return replaced;
        // Only a load that got through every step changes the party.
        party.block = block;
        party.experience = experience;
        return Outcome::Success();
    });
}

Outcome SaveState(const QString& statePath, const StagingContext& context, const PartyState& party,
                  bool goldMaxOut)
{
    return InFrame(statePath, context, [&](StagingFrame& frame) {
        ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
        return frame.ReplaceStateFile(statePath);
    });
}

Result<StateContents> InspectState(const QString& statePath, const StagingContext& context)
{
    if (statePath.isEmpty())
        return Outcome::Failure(ErrorKind::NotFound, QStringLiteral("No state file was given."));
    StateContents contents;
    const Outcome inspected = InFrame(statePath, context, [&](StagingFrame& frame) {
        contents = ReadContents(frame.image());
        return Outcome::Success();
    });
    if (!inspected)
        return inspected;
    return contents;
}

Result<StateContents> EditState(const QString& statePath, const StagingContext& context,
                                bool goldMaxOut, const PartyEdit& edit)
{
    if (statePath.isEmpty())
        return Outcome::Failure(ErrorKind::NotFound, QStringLiteral("No state file was given."));
    StateContents before;
    const Outcome edited = InFrame(statePath, context, [&](StagingFrame& frame) {
        before = ReadContents(frame.image());
        PartyState party = before.party;
        edit(before, party);
        ApplyParty(frame.image(), party.block, party.experience, goldMaxOut);
        return frame.ReplaceStateFile(statePath);
    });
    if (!edited)
        return edited;
    return before;
}

Outcome RestoreState(const QString& statePath, const StagingContext& context,
                     const QString& backupFolder, int number)
{
    const QString shown = ShownPath(statePath);
    const QList<Backup> backups = ListBackups(backupFolder, statePath);
    if (backups.isEmpty())
        return Outcome::Failure(
            ErrorKind::NotFound,
            QStringLiteral("There are no backups of %1 (they would be in %2).")
                .arg(shown, ShownPath(BackupGroupFolder(backupFolder, statePath))));
    if (number < 1 || number > backups.size())
        return Outcome::Failure(
            ErrorKind::NotFound,
            QStringLiteral("There is no backup %1 of %2; its backups are "
                           "numbered 1 to %3.")
                .arg(QString::number(number), shown, QString::number(backups.size())));
    QFile source(backups[number - 1].path);
    if (!source.open(QIODevice::ReadOnly))
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The backup %1 cannot be read: %2")
                                    .arg(ShownPath(source.fileName()), source.errorString()));
    const QByteArray bytes = source.read(source.size());
    if (bytes.size() != source.size())
        return Outcome::Failure(ErrorKind::Io,
                                QStringLiteral("The backup %1 cannot be read whole: %2")
                                    .arg(ShownPath(source.fileName()), source.errorString()));

    BusyScope busy(context.busy);
    protocol::FileLock lock;  // a restore must not land in the middle of a save
    const bool exists = QFileInfo::exists(statePath);
    if (exists) {
        const auto locked =
            lock.lockExistingFile(QFile::encodeName(statePath).toStdString(), context.lockWait);
        if (locked.status != protocol::LockStatus::Locked)
            return Outcome::Failure(ErrorKind::Busy,
                                    QStringLiteral("The state file %1 is being loaded or saved by "
                                                   "another program, or cannot be opened; try "
                                                   "again.")
                                        .arg(shown));
        if (Outcome writable = CheckReplaceable(statePath); !writable)
            return writable;
        QFile current(statePath);
        if (current.size() == bytes.size() && current.open(QIODevice::ReadOnly) &&
            current.read(current.size()) == bytes)
            return Outcome::Success();
    }
    QString kept;
    if (exists && !context.backupFolder.isEmpty()) {
        Result<QString> backup = BackUpStateFile(context.backupFolder, statePath);
        if (!backup)
            return backup.failure();
        kept = backup.value();
    }
    Outcome restored = ReplaceFileContents(statePath, bytes);
    if (!restored && !kept.isEmpty())
        QFile::remove(kept);
    return restored;
}

}  // namespace Process
