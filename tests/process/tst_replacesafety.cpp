// What a replace does with the state's name in its last moments: a name another user flips to a
// link is never followed, a save another program renames into place is kept, backups are named
// before the state is replaced, and what other runs leave is removed only once they have ended.

#include "Backups.h"
#include "FileLock.h"
#include "NewFileBeside.h"
#include "ProgramFolder.h"
#include "ReplaceSeam.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"
#include "StatePath.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>

#if defined(Q_OS_UNIX)
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

using namespace Process;
using namespace testsupport;

namespace {

struct stat StatOf(const QString& path)
{
    struct stat st {
    };
    (void)::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Swaps two names in one step, as a rename by another program does.
bool Exchange(const QString& a, const QString& b)
{
    return ::renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD,
                       QFile::encodeName(b).constData(), RENAME_EXCHANGE) == 0;
}

// A second process that swaps the state's name with a link to another file, back and forth,
// until it is stopped: another user with write access to the state's folder.
class NameFlipper
{
public:
    NameFlipper(const QString& state, const QString& link)
    {
        const QByteArray a = QFile::encodeName(state), b = QFile::encodeName(link);
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only system calls here: the child of a threaded program. The link stands in the
            // state's place for a moment at a time, as an attacker who wants the first look to
            // see the state and a later step to meet the link would have it.
            const timespec moment{0, 50000}, rest{0, 700000};
            for (;;) {
                (void)::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(),
                                  RENAME_EXCHANGE);
                ::nanosleep(&moment, nullptr);
                (void)::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(),
                                  RENAME_EXCHANGE);
                ::nanosleep(&rest, nullptr);
            }
        }
    }
    ~NameFlipper() { stop(); }
    // Leaves the names as they are at that moment.
    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    bool running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

QStringList HiddenFiles(const QString& folder)
{
    return QDir(folder)
        .entryList(QDir::Files | QDir::Hidden | QDir::System)
        .filter(QRegularExpression(QStringLiteral("^\\.")));
}

}  // namespace

class TestReplaceSafety : public QObject
{
    Q_OBJECT

    QByteArray m_image = MakeImage(StateRecipe());
    QByteArray m_gzip = Pack(m_image, Packing::Gzip);
    QByteArray m_newer = MakeImage(StateRecipe{.gold = 777, .seed = 5});
    QByteArray m_newerGzip = Pack(m_newer, Packing::Gzip);

private slots:
    void aLinkPutInTheStatesPlaceIsNeverFollowed_data()
    {
        QTest::addColumn<QString>("command");
        for (const char* command : {"set", "window save", "restore"})
            QTest::newRow(command) << QString(command);
    }
    void aLinkPutInTheStatesPlaceIsNeverFollowed()
    {
        BeforeRename beforeRename;
        // In the moment before the replace, the state's name becomes a link to a file of
        // root's (of this user's, when not run as root): the replace puts our file in the
        // name's place, and the other file never changes.
        QFETCH(QString, command);
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir states, elsewhere;
        const QString path = states.filePath("shared.000");
        const QString victim = elsewhere.filePath("passwd");
        const QByteArray victimBytes = "root:x:0:0:root:/root:/bin/bash\n";
        WriteBytes(victim, victimBytes);
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        party.block[S(1)].Str = 201;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());  // a backup to restore

        const QString link = states.filePath("flip");
        QVERIFY(QFile::link(victim, link));
        int flips = 0;
        beforeRename = [&] {
            if (flips++ == 0)
                QVERIFY(Exchange(path, link));
        };
        Outcome outcome;
        if (command == "set") {
            outcome = EditState(path, context, true, [](const StateContents&, PartyState& now) {
                          now.block[S(2)].Luck = 9;
                      }).failure();
        } else if (command == "window save") {
            const PartyState asLoaded = party;
            party.block[S(3)].Level = 44;
            outcome = SaveChanges(path, context, asLoaded, party, false);
        } else {
            outcome = RestoreState(path, context, context.backupFolder, 1);
        }
        QCOMPARE(flips, 1);
        // The name holds a link again, as the other program left it: that is an answer.
        QCOMPARE(outcome.kind(), ErrorKind::NotAState);
        QVERIFY2(outcome.message().contains("symbolic link"), qPrintable(outcome.message()));
        QCOMPARE(ReadBytes(victim), victimBytes);
        QVERIFY(QFileInfo(path).isSymLink());
        QVERIFY(QFileInfo(link).isFile() && !QFileInfo(link).isSymLink());
    }

    void aNameFlippedAllTheTimeNeverReachesTheOtherFile()
    {
        // The same without a seam: another process flips the name as fast as it can while
        // set, the window's Save and restore run again and again.
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QTemporaryDir states, elsewhere;
        const QString path = states.filePath("flipped.000");
        const QString victim = elsewhere.filePath("shadow");
        const QByteArray victimBytes = QByteArray("root:$6$secret:19000:0:99999:7:::\n");
        WriteBytes(victim, victimBytes);
        const ino_t victimInode = StatOf(victim).st_ino;
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        QVERIFY(SaveWholeParty(path, context, party, true).ok());
        const QString link = states.filePath(".flip");
        QVERIFY(QFile::link(victim, link));
        // The folder of a state shared with another user, who may write it.
        QVERIFY(QFile::setPermissions(states.path(), QFileDevice::Permissions(0x7777)));

        int succeeded = 0;
        for (int run = 0; run < 24; ++run) {
            NameFlipper flipper(path, link);
            QVERIFY(flipper.running());
            switch (run % 3) {
            case 0:
                succeeded +=
                    EditState(path, context, false, [&](const StateContents&, PartyState& now) {
                        now.block[S(1)].Luck = std::uint8_t(run);
                    }).ok();
                break;
            case 1: {
                PartyState shown = party;
                shown.block[S(2)].Level = std::uint8_t(run);
                succeeded += SaveChanges(path, context, party, shown, false).ok();
                break;
            }
            default: succeeded += RestoreState(path, context, context.backupFolder, 1).ok();
            }
            flipper.stop();
            // Whichever way the names were left, the state is back under its own name.
            if (QFileInfo(path).isSymLink())
                QVERIFY(Exchange(path, link));
            QCOMPARE(ReadBytes(victim), victimBytes);
            QCOMPARE(StatOf(victim).st_ino, victimInode);
            QCOMPARE(StatOf(victim).st_nlink, nlink_t(1));
        }
        qInfo("%d of 24 edits went through while the name was flipped", succeeded);
    }

    void aSaveRenamedIntoPlaceInTheLastMomentIsKept_data()
    {
        QTest::addColumn<QString>("command");
        for (const char* command : {"load", "set", "window save", "restore"})
            QTest::newRow(command) << QString(command);
    }
    void aSaveRenamedIntoPlaceInTheLastMomentIsKept()
    {
        BeforeRename beforeRename;
        // The emulator writes its save to a file of its own and renames it over the state in
        // the moment before our replace: the locked old file never changes, so only what the
        // replace itself takes out of the state's place can tell.
        QFETCH(QString, command);
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("renamed.000");
        WriteBytes(path, m_gzip);
        PartyState party;
        if (command != "load") {
            QVERIFY(LoadState(path, context, party).ok());
            party.block[S(1)].Str = 200;
            QVERIFY(SaveWholeParty(path, context, party, false).ok());
        }
        int writes = 0;
        beforeRename = [&] {
            if (writes++ == 0) {
                WriteBytes(path + ".emulator", m_newerGzip);
                QVERIFY(QFile::rename(path + ".emulator", path) ||
                        (QFile::remove(path) && QFile::rename(path + ".emulator", path)));
            }
        };
        QByteArray expected = m_newer;
        if (command == "load") {
            QVERIFY(LoadState(path, context, party).ok());
        } else if (command == "set") {
            const Result<StateContents> edited =
                EditState(path, context, false,
                          [](const StateContents&, PartyState& now) { now.block[S(2)].Luck = 3; });
            QVERIFY(edited.ok());
            QCOMPARE(edited.value().gold, 777u);  // what the edit stood on
            expected[72992 + 28] = char(3);
        } else if (command == "window save") {
            const PartyState asLoaded = party;
            party.block[S(3)].Level = 61;
            QVERIFY(SaveChanges(path, context, asLoaded, party, false).ok());
            expected[73152 + 10] = char(61);
        } else {
            QVERIFY(RestoreState(path, context, context.backupFolder, 1).ok());
            expected = m_image;
        }
        QVERIFY(writes >= 2);  // done again, on the renamed save
        QVERIFY(ReadBytes(path) == expected);
        // The emulator's save is in a backup: what the edit replaced.
        QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
        QCOMPARE(HiddenFiles(states.path()), QStringList());
    }

    void aKillBetweenTheSwapAndThePutBackLosesNoSave_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("savedAgain");  // the emulator saved once more after the kill
        for (const char* command : {"load", "set", "restore"})
            QTest::newRow(command) << QString(command) << false;
        QTest::newRow("set, saved again since") << QStringLiteral("set") << true;
    }
    void aKillBetweenTheSwapAndThePutBackLosesNoSave()
    {
        // A run swaps its new file into the state's place just after the emulator renamed a
        // save there, and is killed before it can put that save back: the next run, whatever
        // its command, finds the save under the temporary name and puts it back first.
        QFETCH(QString, command);
        QFETCH(bool, savedAgain);
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("killed.000");
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        party.block[S(1)].Str = 202;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());  // the unpacked image, backed up

        const pid_t run = ::fork();
        if (run == 0) {
            const CheckedState state = CheckStatePath(path, folder.path()).value();
            platform::NewFileBeside file(*state.folder, state.name);
            const QByteArray ours = MakeImage(StateRecipe{.gold = 1, .seed = 9});
            if (!file.valid() || file.file().writeAll(ours.constData(), std::size_t(ours.size())) ||
                file.name())
                ::_exit(1);
            WriteBytes(path + ".emulator", m_newerGzip);
            if (::rename(QFile::encodeName(path + ".emulator").constData(),
                         QFile::encodeName(path).constData()) != 0 ||
                file.exchangeWithTarget())
                ::_exit(2);
            ::_exit(0);  // killed here: nothing of ours runs any more
        }
        int status = 0;
        QCOMPARE(::waitpid(run, &status, 0), run);
        QCOMPARE(status, 0);
        QCOMPARE(HiddenFiles(states.path()).size(), 1);
        QVERIFY(ReadBytes(path) != m_newerGzip);
        if (savedAgain) {
            // By then the state has moved on: what came out of the swap stays where it is.
            WriteBytes(path + ".emulator", m_gzip);
            QVERIFY(QFile::remove(path) && QFile::rename(path + ".emulator", path));
        }

        if (command == "load") {
            QVERIFY(LoadState(path, context, party).ok());
            QCOMPARE(ReadBytes(path), m_newer);  // the emulator's save, unpacked
        } else if (command == "set") {
            const Result<StateContents> edited =
                EditState(path, context, false,
                          [](const StateContents&, PartyState& now) { now.block[S(2)].Luck = 3; });
            QVERIFY(edited.ok());
            QCOMPARE(edited.value().gold, savedAgain ? StateRecipe().gold : 777u);
        } else {
            QVERIFY(RestoreState(path, context, context.backupFolder, 1).ok());
            QCOMPARE(ReadBytes(path), m_image);
            QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
        }
        if (savedAgain) {
            const QStringList left = HiddenFiles(states.path());
            QCOMPARE(left.size(), 1);
            QCOMPARE(ReadBytes(states.filePath(left.first())), m_newerGzip);
        } else {
            QCOMPARE(HiddenFiles(states.path()), QStringList());
        }
    }

    void theBackupIsNamedBeforeTheStateIsReplaced()
    {
        BeforeRename beforeRename;
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("named.000");
        WriteBytes(path, m_gzip);
        QStringList listed;
        beforeRename = [&] {
            // Looked at, not opened: a linked backup is the state's file, which nobody opens
            // unnoticed in this moment.
            const Result<QList<Backup>> backups = ListBackups(context.backupFolder, path);
            for (const Backup& backup : backups.value())
                listed << QString::fromLatin1(backup.size == m_gzip.size() ? "old" : "other");
        };
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        // In the last moment before the replace, the bytes it replaces are a listed backup.
        QCOMPARE(listed, QStringList{"old"});

        // A replace that then does not go through removes it again.
        beforeRename = [&] { WriteBytes(path, m_newer); };
        party.block[S(1)].Int = 77;
        const Outcome saved = SaveWholeParty(path, context, party, false);
        QCOMPARE(saved.kind(), ErrorKind::ChangedByAnotherProgram);
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 1);
        QCOMPARE(ReadBytes(backups.first().path), m_gzip);
    }

    void whatALiveRunKeepsIsLeftAlone()
    {
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("two-runs.000");
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const QString group = BackupGroupFolder(context.backupFolder, path);

        // Another run's pending backup, locked by it, and one a killed run left.
        WriteBytes(group + "/.pending-live", "another run's backup in the making");
        WriteBytes(group + "/.pending-killed", "left by a killed run");
        platform::File live =
            platform::File::open(ToNative(group + "/.pending-live"), platform::Access::Read);
        QVERIFY(!platform::LockOpenFile(live));
        // The same beside the state: temporary files of a live and of a killed run.
        const CheckedState checked = CheckStatePath(path, folder.path()).value();
        platform::NewFileBeside inFlight(*checked.folder, checked.name);
        QVERIFY(inFlight.valid() && !inFlight.name());
        const QStringList inFlightNames = HiddenFiles(states.path());
        QCOMPARE(inFlightNames.size(), 1);
        QString killedName;
        {
            platform::NewFileBeside killed(*checked.folder, checked.name);
            QVERIFY(!killed.name());
            for (const QString& name : HiddenFiles(states.path()))
                if (!inFlightNames.contains(name))
                    killedName = name;
            // Linked aside, it stays as a killed run leaves it: named, and locked by nobody.
            QCOMPARE(::link(QFile::encodeName(states.filePath(killedName)).constData(),
                            QFile::encodeName(states.filePath("aside")).constData()),
                     0);
        }
        QVERIFY(QFile::rename(states.filePath("aside"), states.filePath(killedName)));
        QCOMPARE(HiddenFiles(states.path()).size(), 2);

        party.block[S(1)].Int = 7;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());
        QVERIFY(QFile::exists(group + "/.pending-live"));
        QVERIFY(!QFile::exists(group + "/.pending-killed"));
        QCOMPARE(HiddenFiles(states.path()),
                 inFlightNames);  // the live run's, not the killed one's
    }

    void backupNumbersAndDatesOutOfTheUsualRange()
    {
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("numbers.000");
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const QString group = BackupGroupFolder(context.backupFolder, path);
        // A number no count of ours reaches, and a backup taken with the clock past 9999.
        WriteBytes(group + "/9223372036854775807-20200101-000000-000-numbers.000", "huge");
        WriteBytes(group + "/000002-100230101-120000-000-numbers.000", m_newerGzip);
        QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 3);
        QCOMPARE(backups[0].sequence, 2);
        QCOMPARE(backups[0].time.toUTC().date(), QDate(10023, 1, 1));

        party.block[S(1)].Int = 8;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());
        backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 4);
        QCOMPARE(backups[0].sequence, 3);  // after 2, not after the huge one
        QCOMPARE(ReadBytes(backups[0].path), m_image);
        QVERIFY(RestoreState(path, context, context.backupFolder, 2).ok());
        QCOMPARE(ReadBytes(path), m_newerGzip);
    }

    void aRestoreOntoAMissingStateNeverOverwritesANewSave()
    {
        BeforeRename beforeRename;
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("gone.000");
        WriteBytes(path, m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        QVERIFY(QFile::remove(path));
        // The emulator saves the state in the moment the restore puts the backup there.
        int saves = 0;
        beforeRename = [&] {
            if (saves++ == 0)
                WriteBytes(path, m_newerGzip);
        };
        QVERIFY(RestoreState(path, context, context.backupFolder, 1).ok());
        QCOMPARE(ReadBytes(path), m_gzip);
        QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
    }

    void aStateCutAtABlockBoundaryIsRefused()
    {
        // A plain state that ends right after its SND block: each block whole, the last ones
        // missing. Set must not save it without them.
        ProgramFolder folder;
        QTemporaryDir states;
        const QString path = states.filePath("cut.000");
        const qsizetype ctl = m_image.indexOf("CTL:000044:");
        QVERIFY(ctl > 0);
        const QByteArray cut = m_image.left(ctl);
        WriteBytes(path, cut);
        const Result<StateContents> edited =
            EditState(path, folder.context(), true, [](const StateContents&, PartyState&) {});
        QCOMPARE(edited.failure().kind(), ErrorKind::NotAState);
        QVERIFY2(edited.failure().message().contains("CTL TIM"),
                 qPrintable(edited.failure().message()));
        QCOMPARE(ReadBytes(path), cut);
    }
};

QTEST_GUILESS_MAIN(TestReplaceSafety)
#include "tst_replacesafety.moc"
