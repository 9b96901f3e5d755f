// Another program writing the state while this one edits it, as the emulator does when it saves
// in place (open, truncate, write the same file) and ignores every lock of ours: whatever it
// wrote is never lost, and an edit reported as done stands on the newest bytes.

#include "Backups.h"
#include "ProgramFolder.h"
#include "ReplaceSeam.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>
#include <utility>

using namespace Process;
using namespace testsupport;

namespace {

// Writes the file in place, keeping its inode, as an emulator's save does.
void WriteInPlace(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Windows keeps other programs from opening the state to write while an edit holds it: a save
// they start then fails on their side, so the writes these suites make in that moment cannot
// happen there (aSaveDuringAnEditFailsLoudly shows what does).
constexpr bool kWritersKeptOut =
#if defined(Q_OS_WIN)
    true;
#else
    false;
#endif

}  // namespace

class TestOtherWriters : public QObject
{
    Q_OBJECT

    QTemporaryDir m_states;
    QByteArray m_image = MakeImage(StateRecipe());
    QByteArray m_gzip = Pack(m_image, Packing::Gzip);
    // The emulator's newer game: another party, other gold, other bytes everywhere.
    StateRecipe m_newerRecipe = [] {
        StateRecipe recipe;
        recipe.party = StateRecipe::SampleParty(99);
        recipe.gold = 777;
        recipe.seed = 5;
        return recipe;
    }();
    QByteArray m_newer = MakeImage(m_newerRecipe);
    QByteArray m_newerGzip = Pack(m_newer, Packing::Gzip);

private slots:
    void writeInTheLastMomentIsKept_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("backupsElsewhere");
        for (const char* command : {"load", "set", "window save", "restore"}) {
            QTest::addRow("%s, backups beside", command) << QString(command) << false;
            QTest::addRow("%s, backups on another disk", command) << QString(command) << true;
        }
    }
    void writeInTheLastMomentIsKept()
    {
        BeforeRename beforeRename;
        if (kWritersKeptOut)
            QSKIP("Windows keeps writers out while an edit holds the state");
        QFETCH(QString, command);
        QFETCH(bool, backupsElsewhere);
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/cindral-backups-XXXXXX"));
        if (backupsElsewhere) {
            if (!elsewhere.isValid() || QStorageInfo(elsewhere.path()).rootPath() ==
                                            QStorageInfo(m_states.path()).rootPath())
                QSKIP("no second file system for the backups");
            context.backupFolder = elsewhere.path();
        }
        QTemporaryDir states;
        const QString path = states.filePath(command + ".000");
        WriteBytes(path, m_gzip);
        PartyState party;
        if (command != "load") {
            const Outcome loaded = LoadState(path, context, party);
            QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
            party.block[S(1)].Str = 200;
            QVERIFY(SaveWholeParty(path, context, party, false).ok());  // a backup to restore
        }
        // The emulator saves between the replace's last look and its rename, once.
        int writes = 0;
        beforeRename = [&] {
            if (writes++ == 0)
                WriteInPlace(path, m_newerGzip);
        };

        QByteArray expected = m_newer;
        if (command == "load") {
            const Outcome loaded = LoadState(path, context, party);
            QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
            QVERIFY(party.block == m_newerRecipe.party);
        } else if (command == "set") {
            const Result<StateContents> edited =
                EditState(path, context, true,
                          [](const StateContents&, PartyState& now) { now.block[S(2)].Luck = 3; });
            QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
            QCOMPARE(edited.value().gold, 777u);  // what the edit stood on
            expected[72992 + 28] = char(3);
            expected.replace(89184, 3, QByteArray("\x3F\x42\x0F", 3));
        } else if (command == "window save") {
            const PartyState asLoaded = party;
            party.block[S(3)].Level = 61;
            const Outcome saved = SaveChanges(path, context, asLoaded, party, false);
            QVERIFY2(saved.ok(), qPrintable(saved.message()));
            expected[73152 + 10] = char(61);
            QCOMPARE(party.block[S(1)].Str, m_newerRecipe.party[S(1)].Str);  // what is shown
        } else {
            const Outcome restored = RestoreState(path, context, context.backupFolder, 1);
            QVERIFY2(restored.ok(), qPrintable(restored.message()));
            expected = m_image;  // what the save replaced
        }
        QVERIFY(writes >= 2);  // the edit was done again
        QVERIFY(ReadBytes(path) == expected);
        // What the other program wrote is kept: under the edit, and as a backup.
        QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
        QVERIFY(!folder.hasLeftovers());
        QCOMPARE(QDir(states.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(path).fileName()});
    }

    void aSaveWrittenAcrossTheRenameIsKeptWhole()
    {
        BeforeRename beforeRename;
        if (kWritersKeptOut)
            QSKIP("Windows keeps writers out while an edit holds the state");
        // The emulator opens the state (truncating it) in the moment before the rename and
        // writes its save in two parts, the second after the rename.
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("parts.000");
        WriteBytes(path, m_gzip);
        const qsizetype half = m_newerGzip.size() / 2;
        QFile emulator(path);
        bool saved = false;
        std::thread rest;
        beforeRename = [&] {
            if (std::exchange(saved, true))
                return;
            QVERIFY(emulator.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(emulator.write(m_newerGzip.left(half)), half);
            QVERIFY(emulator.flush());
            rest = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                emulator.write(m_newerGzip.mid(half));
                emulator.close();
            });
        };
        const Result<StateContents> edited =
            EditState(path, context, false,
                      [](const StateContents&, PartyState& now) { now.block[S(2)].Luck = 3; });
        rest.join();
        QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
        QByteArray expected = m_newer;
        expected[72992 + 28] = char(3);
        QVERIFY(ReadBytes(path) == expected);
        QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
    }

    void aSaveWrittenWithPausesIsKeptWhole_data()
    {
        QTest::addColumn<bool>("backups");
        QTest::newRow("with backups") << true;
        QTest::newRow("without backups") << false;
    }
    void aSaveWrittenWithPausesIsKeptWhole()
    {
        BeforeRename beforeRename;
        if (kWritersKeptOut)
            QSKIP("Windows keeps writers out while an edit holds the state");
        // The emulator truncates the state in the moment before the replace and writes its
        // save after a pause longer than any "it has rested, so it has finished" guess: what
        // goes back in place and is edited is its whole save, never the empty or half file.
        QFETCH(bool, backups);
        ProgramFolder folder;
        StagingContext context = folder.context();
        if (!backups)
            context.backupFolder.clear();
        QTemporaryDir states;
        const QString path = states.filePath("pauses.000");
        WriteBytes(path, m_gzip);
        const qsizetype half = m_newerGzip.size() / 2;
        QFile emulator(path);
        std::thread rest;
        int writes = 0;
        beforeRename = [&] {
            if (writes++ != 0)
                return;
            QVERIFY(emulator.open(QIODevice::WriteOnly | QIODevice::Truncate));
            rest = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                emulator.write(m_newerGzip.left(half));
                emulator.flush();
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                emulator.write(m_newerGzip.mid(half));
                emulator.close();
            });
        };
        const Result<StateContents> edited =
            EditState(path, context, false,
                      [](const StateContents&, PartyState& now) { now.block[S(2)].Luck = 4; });
        rest.join();
        QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
        QCOMPARE(edited.value().gold, 777u);
        QByteArray expected = m_newer;
        expected[72992 + 28] = char(4);
        QVERIFY(ReadBytes(path) == expected);
        if (backups)
            QVERIFY(AnyBackupHolds(context.backupFolder, path, m_newerGzip));
    }

    void anEditWaitsForASaveInProgress()
    {
        // The emulator is halfway through writing its save in place when `set` starts: the
        // edit reads it only once it is whole, and no backup takes the rest of it.
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QTemporaryDir states;
        const QString path = states.filePath("in-progress.000");
        WriteBytes(path, m_image);
        QCOMPARE(m_newer.size(), m_image.size());
        const qsizetype half = m_newer.size() / 2;
        QFile emulator(path);
        QVERIFY(emulator.open(QIODevice::ReadWrite));  // in place, no truncation
        QCOMPARE(emulator.write(m_newer.left(half)), half);
        QVERIFY(emulator.flush());
        std::thread rest([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            emulator.write(m_newer.mid(half));
            emulator.close();
        });
        const Result<StateContents> edited =
            EditState(path, context, false,
                      [](const StateContents&, PartyState& now) { now.block[S(1)].Fate = 9; });
        rest.join();
        QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
        QCOMPARE(edited.value().gold, 777u);  // the whole new save, not a mix
        QByteArray expected = m_newer;
        expected[72832 + 35] = char(9);
        QVERIFY(ReadBytes(path) == expected);
        const Result<QList<Backup>> kept = ListBackups(context.backupFolder, path);
        QCOMPARE(kept.value().size(), 1);
        QVERIFY(ReadBytes(kept.value().first().path) == m_newer);
    }

    void writeDuringTheEditIsKept()
    {
        if (kWritersKeptOut)
            QSKIP("Windows keeps writers out while an edit holds the state");
        // The emulator saves after the state was staged, long before the replace.
        ProgramFolder folder;
        const QString path = m_states.filePath("during.000");
        WriteBytes(path, m_gzip);
        int edits = 0;
        const Result<StateContents> edited =
            EditState(path, folder.context(), false, [&](const StateContents&, PartyState& now) {
                if (edits++ == 0)
                    WriteInPlace(path, m_newerGzip);
                now.block[S(4)].Atk = 300;
            });
        QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
        QCOMPARE(edits, 2);
        QByteArray expected = m_newer;
        expected.replace(73312 + 29, 2, QByteArray("\x2C\x01", 2));
        QVERIFY(ReadBytes(path) == expected);
    }

    void aSaveDuringAnEditFailsLoudly_data()
    {
        QTest::addColumn<bool>("lastMoment");
        QTest::newRow("while the state is edited") << false;
        QTest::newRow("in the moment before the replace") << true;
    }
    void aSaveDuringAnEditFailsLoudly()
    {
        BeforeRename beforeRename;
        // Windows: the emulator saving while an edit holds the state cannot open it to write
        // (it says it could not save) instead of having its save undone unseen; once the edit
        // is done it saves as usual.
        if (!kWritersKeptOut)
            QSKIP(
                "where writers are not kept out, their saves are kept: writeInTheLastMomentIsKept");
        QFETCH(bool, lastMoment);
        ProgramFolder folder;
        StagingContext context = folder.context();
        const QString path = m_states.filePath(lastMoment ? "moment.000" : "edit.000");
        WriteBytes(path, m_gzip);
        int refused = 0;
        auto tryToSave = [&] {
            QFile emulator(path);
            if (!emulator.open(QIODevice::WriteOnly | QIODevice::Truncate))
                ++refused;
        };
        if (lastMoment)
            beforeRename = tryToSave;
        const Result<StateContents> edited =
            EditState(path, context, false, [&](const StateContents&, PartyState& now) {
                if (!lastMoment)
                    tryToSave();
                now.block[S(2)].Luck = 3;
            });
        QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
        QCOMPARE(refused, 1);
        QByteArray expected = m_image;
        expected[72992 + 28] = char(3);
        QVERIFY(ReadBytes(path) == expected);
        WriteInPlace(path, m_newerGzip);
        QVERIFY(ReadBytes(path) == m_newerGzip);
    }

    void anEmulatorThatNeverStopsGetsAPlainAnswer()
    {
        BeforeRename beforeRename;
        if (kWritersKeptOut)
            QSKIP("Windows keeps writers out while an edit holds the state");
        ProgramFolder folder;
        StagingContext context = folder.context();
        const QString path = m_states.filePath("busy.000");
        WriteBytes(path, m_gzip);
        QByteArray last;
        int writes = 0;
        beforeRename = [&] {
            last =
                Pack(MakeImage(StateRecipe{.gold = std::uint32_t(100 + ++writes)}), Packing::Gzip);
            WriteInPlace(path, last);
        };
        PartyState party;
        const Outcome loaded = LoadState(path, context, party);
        QCOMPARE(loaded.kind(), ErrorKind::ChangedByAnotherProgram);
        QVERIFY2(loaded.message().contains(QDir::toNativeSeparators(path)) &&
                     !loaded.message().contains('\n'),
                 qPrintable(loaded.message()));
        QVERIFY(writes >= 2 && writes <= 8);  // bounded
        QVERIFY(ReadBytes(path) == last);     // the other program's newest save stands
        QVERIFY(party.block == PartyBlock());
    }
};

QTEST_GUILESS_MAIN(TestOtherWriters)
#include "tst_otherwriters.moc"
