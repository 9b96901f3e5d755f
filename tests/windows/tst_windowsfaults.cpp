// What the user gets, and that nothing is lost, when a Windows call fails in the middle of a
// save: errors a test machine never produces by itself (a scanner holding the new file while
// ReplaceFileW moves it, a full disk, a lock taken by another program), made at the seam.

#include "FaultyCalls.h"
#include "Host.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Process;
using namespace testsupport;

Q_DECLARE_METATYPE(std::vector<faults::Fault>)

namespace {

enum class Left { New, Old, OldAfterNextLoad };

// `call` fails with `error` from its first use on, `times` uses in a row; with `after`, counted
// from the moment that call's fault fired.
faults::Fault Fail(const char* call, DWORD error, int times = 1, const char* after = "")
{
    return {call, 1, error, times, after};
}

// The files in the state's folder besides the state itself.
QStringList Beside(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(QStringLiteral("edit.000"));
    return names;
}

}  // namespace

class TestWindowsFaults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { faults::Disarm(); }

    void aFailedCallLosesNothing_data()
    {
        QTest::addColumn<std::vector<faults::Fault>>("armed");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("says");
        QTest::addColumn<Left>("left");

        // The new file held by a scanner throughout: it can be neither moved in nor, with
        // the old file back, removed.
        const faults::Fault heldAfterReplace =
            Fail("MoveFileExW", ERROR_SHARING_VIOLATION, 20, "ReplaceFileW");
        const faults::Fault everyMoveRefused =
            Fail("MoveFileExW", ERROR_ACCESS_DENIED, 1000, "ReplaceFileW");

        QTest::newRow("state open elsewhere for a moment")
            << std::vector{Fail("ReplaceFileW", ERROR_SHARING_VIOLATION)} << true << QString()
            << Left::New;
        QTest::newRow("new file held while it was to move in (1176)")
            << std::vector{Fail("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT)} << true
            << QString() << Left::New;
        QTest::newRow("old file moved aside, new one held (1177)")
            << std::vector{Fail("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)} << true
            << QString() << Left::New;
        QTest::newRow("1177, new file held throughout: the old one goes back")
            << std::vector{Fail("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2),
                           heldAfterReplace}
            << false << QStringLiteral("could not be replaced") << Left::Old;
        QTest::newRow("1177, every move refused: both kept, put back at the next load")
            << std::vector{Fail("ReplaceFileW", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2),
                           everyMoveRefused}
            << false << QStringLiteral("goes back in its place") << Left::OldAfterNextLoad;
        QTest::newRow("replace refused for good")
            << std::vector{Fail("ReplaceFileW", ERROR_ACCESS_DENIED, 1000)} << false
            << QStringLiteral("could not be replaced") << Left::Old;
        QTest::newRow("disk full when the new file is flushed")
            << std::vector{Fail("FlushFileBuffers", ERROR_DISK_FULL, 1000)} << false
            << QStringLiteral("the disk is full") << Left::Old;
        QTest::newRow("state locked by another program")
            << std::vector{Fail("LockFileEx", ERROR_LOCK_VIOLATION, 100000)} << false
            << QStringLiteral("Another program is loading or saving") << Left::Old;
        // Names in an open folder are reached through its path: never the current folder's.
        QTest::newRow("the folder's path cannot be told")
            << std::vector{Fail("GetFinalPathNameByHandleW", ERROR_ACCESS_DENIED, 100000)} << false
            << QString() << Left::Old;
        QTest::newRow("files to remove held for a moment")
            << std::vector{Fail("DeleteFileW", ERROR_SHARING_VIOLATION, 3)} << true << QString()
            << Left::New;
        QTest::newRow("no link for the backup: it is copied")
            << std::vector{Fail("CreateHardLinkW", ERROR_ACCESS_DENIED, 1000)} << true << QString()
            << Left::New;
    }
    void aFailedCallLosesNothing()
    {
        QFETCH(std::vector<faults::Fault>, armed);
        QFETCH(bool, saved);
        QFETCH(QString, says);
        QFETCH(Left, left);

        QTemporaryDir states;
        const QString path = states.filePath(QStringLiteral("edit.000"));
        WriteBytes(path, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        ProgramFolder folder;
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());
        const QByteArray old = ReadBytes(path);  // plain since the load
        const int before = party.block[S(1)].Level;
        party.block[S(1)].Level = 77;

        const QStringList here = QDir::current().entryList(QDir::AllEntries | QDir::Hidden);
        faults::Arm(armed);
        const Outcome outcome = SaveWholeParty(path, folder.context(), party, false);
        QVERIFY2(faults::Fired() > 0, "the fault was never reached");
        faults::Disarm();
        QVERIFY2(outcome.ok() == saved, qPrintable(outcome.message()));
        QVERIFY2(outcome.message().contains(says), qPrintable(outcome.message()));
        QCOMPARE(QDir::current().entryList(QDir::AllEntries | QDir::Hidden), here);

        if (left == Left::OldAfterNextLoad) {
            // The state's name is empty for now; the old bytes are in a backup, and beside it.
            QVERIFY(!QFile::exists(path));
            QVERIFY(AnyBackupHolds(folder.backupFolder(), path, old));
            // Asked for in another case, as Windows allows: the same state.
            PartyState again;
            QVERIFY2(LoadState(states.filePath(QStringLiteral("EDIT.000")), folder.context(), again)
                         .ok(),
                     "the next load put it back");
        }
        PartyState now;
        QVERIFY(LoadState(path, folder.context(), now).ok());
        QCOMPARE(int(now.block[S(1)].Level), left == Left::New ? 77 : before);
        if (left != Left::New)
            QVERIFY(ReadBytes(path) == old);
        QVERIFY2(Beside(states.path()).isEmpty(), qPrintable(Beside(states.path()).join(", ")));
    }
};

QTEST_GUILESS_MAIN(TestWindowsFaults)
#include "tst_windowsfaults.moc"
