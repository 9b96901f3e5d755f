#include "BackgroundJob.h"
#include "BackupListing.h"
#include "BackupNames.h"
#include "Host.h"
#include "MemberFields.h"
#include "NameCodec.h"
#include "PartyImage.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <optional>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

using namespace Process;
using namespace testsupport;

Q_DECLARE_METATYPE(Process::ErrorKind)

namespace {
// A party the load must replace; anything left of it shows a load that was not all or nothing.
PartyState Sentinel()
{
    PartyState party;
    party.block = StateRecipe::SampleParty(99);
    party.experience[S(1)] = 4242;
    party.selectedSlot = 3;
    return party;
}

// The permission bits themselves, without Qt's "user" bits, which depend on who runs the test.
QFile::Permissions ModeBits(const QString& path)
{
    return QFile::permissions(path) & QFile::Permissions(0x7000 | 0x0077);
}

void ExpectSameParty(const PartyState& a, const PartyState& b)
{
    QVERIFY(a.block == b.block);
    QVERIFY(a.experience == b.experience);
    QCOMPARE(a.selectedSlot, b.selectedSlot);
}

}  // namespace

class TestStateFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_states;

    QString writeState(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_states.filePath(name);
        WriteBytes(path, bytes);
        return path;
    }

private slots:
    void loadThenSaveGivesBackTheImage_data() { AddEveryLayoutAndPacking(); }
    void loadThenSaveGivesBackTheImage()
    {
        QFETCH(Layout, layout);
        QFETCH(Packing, packing);
        StateRecipe recipe;
        recipe.layout = layout;
        // Carried bytes with every value, so none is lost on the way.
        for (Slot s : Slot::all())
            for (std::size_t i = 0; i < recipe.party[s].Carry3.size(); ++i)
                recipe.party[s].Carry3[i] = std::uint8_t(i * 2 + s.index() * 124);
        const QByteArray image = MakeImage(recipe);
        const QString path = writeState("round trip.000", Pack(image, packing));
        ProgramFolder folder;

        PartyState party;
        party.selectedSlot = 2;
        const Outcome loaded = LoadState(path, folder.context(), party);
        QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
        QVERIFY(party.block == recipe.party);
        QCOMPARE(party.experience[S(2)], 24345);
        QCOMPARE(party.selectedSlot, 2);   // a load leaves the selection alone
        QCOMPARE(ReadBytes(path), image);  // the state file is now the plain image
        QVERIFY(!folder.hasLeftovers());

        QVERIFY(SaveWholeParty(path, folder.context(), party, false).ok());
        QCOMPARE(ReadBytes(path), image);
        QVERIFY(!folder.hasLeftovers());
    }

    void saveWritesBlockGoldAndExperience_data()
    {
        QTest::addColumn<bool>("goldMaxOut");
        QTest::newRow("gold on") << true;
        QTest::newRow("gold off") << false;
    }
    void saveWritesBlockGoldAndExperience()
    {
        QFETCH(bool, goldMaxOut);
        const QByteArray image = MakeImage(StateRecipe());
        const QString path = writeState("edit.000", Pack(image, Packing::Gzip));
        ProgramFolder folder;
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());

        party.block[S(1)].Str = 250;
        party.block[S(4)].Def = -1;
        party.block[S(3)].Name = NameFieldFromText("Elf/");
        party.experience[S(2)] = 99999;  // the record's ExpLow/ExpHigh still hold the old value
        QVERIFY(SaveWholeParty(path, folder.context(), party, goldMaxOut).ok());

        QByteArray expected = image;
        expected[72832 + 23] = char(250);
        expected[73312 + 31] = char(0xFF);
        expected[73312 + 32] = char(0xFF);
        expected.replace(73152, 4, QByteArray("\xC5\x8C\x86\xBE", 4));
        expected.replace(73012, 3, QByteArray("\x9F\x86\x01", 3));
        if (goldMaxOut)
            expected.replace(89184, 3, QByteArray("\x3F\x42\x0F", 3));
        const QByteArray saved = ReadBytes(path);
        QCOMPARE(saved.size(), expected.size());
        QVERIFY(saved == expected);

        // Saving again without edits writes the same bytes.
        QVERIFY(SaveWholeParty(path, folder.context(), party, goldMaxOut).ok());
        QVERIFY(ReadBytes(path) == expected);
    }

    void emptyPathDoesNothing()
    {
        ProgramFolder folder;
        PartyState party = Sentinel();
        QVERIFY(LoadState(QString(), folder.context(), party).ok());
        const PartyState asLoaded = party;
        QVERIFY(SaveChanges(QString(), folder.context(), asLoaded, party, true).ok());
        ExpectSameParty(party, Sentinel());
        QVERIFY(!folder.hasLeftovers());
    }

    void staleFilesNeverEndTheWaitEarly()
    {
        StateRecipe other;
        other.party = StateRecipe::SampleParty(1234);
        ProgramFolder folder;
        WriteBytes(folder.file(kWorkingCopyName), MakeImage(other));
        WriteBytes(folder.file(kCompletionFlagName), QByteArray());
        const QString path = writeState("fresh.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());
        QVERIFY(party.block == StateRecipe().party);
        QVERIFY(!folder.hasLeftovers());
    }

    void pathsReachTheDecompressorIntact_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << "my  states/slot 1.000";
#if defined(Q_OS_WIN)
        QTest::newRow("quotes") << "it's 'quoted'.000";  // Windows takes no '"' in a name
#else
        QTest::newRow("quotes") << "it's \"quoted\".000";
#endif
        QTest::newRow("leading blank") << " lead.001";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Spielstände/Ünïcødé ✓.002");
        QTest::newRow("Japanese") << QString::fromUtf8("セーブ/パーティー 1.004");
        // Past Windows' old limit of 260 characters, which the extended form lifts.
        QTest::newRow("past 260 characters")
            << "deep" + ("/" + QString(50, 'x')).repeated(6) + "/deep.005";
#if defined(Q_OS_WIN)
        QTest::newRow("shell characters") << "a;b&c$(d)^e%PATH%.003";
#else
        QTest::newRow("shell characters") << "a;b&c$(d)|e.003";
#endif
    }
    void pathsReachTheDecompressorIntact()
    {
        QFETCH(QString, name);
        if (name.size() > 260 && RunningUnderWine())
            QSKIP("Wine's ReplaceFileW moves the old file aside through a buffer of MAX_PATH "
                  "characters");
        QDir(m_states.path()).mkpath(QFileInfo(m_states.filePath(name)).path());
        const QByteArray image = MakeImage(StateRecipe());
        const QString path = writeState(name, Pack(image, Packing::Gzip));
        ProgramFolder folder;
        PartyState party;
        const Outcome loaded = LoadState(path, folder.context(), party);
        QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
        QCOMPARE(ReadBytes(path), image);

        // And back: the decompressor's refusal names the state once, in its own characters.
        WriteBytes(path, "just some text\n");
        const QString said = LoadState(path, folder.context(), party).message();
        QVERIFY2(said.startsWith(ShownPath(path) + " is not a state") &&
                     said.count(QFileInfo(path).fileName()) == 1 && !said.contains("Unvell"),
                 qPrintable(said));
    }

    void namesThatDifferInCaseAreOneStateOnWindows()
    {
#if !defined(Q_OS_WIN)
        QSKIP("names that differ in case are different files here");
#else
        QTemporaryDir states;
        const QString own = states.filePath("Game.000");
        WriteBytes(own, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const QString upper = states.filePath("GAME.000"), lower = states.filePath("game.000");
        ProgramFolder folder;
        PartyState party;
        QVERIFY(LoadState(upper, folder.context(), party).ok());
        party.block[S(1)].Level = 60;
        QVERIFY(SaveWholeParty(upper, folder.context(), party, false).ok());
        QVERIFY(LoadState(lower, folder.context(), party).ok());
        QCOMPARE(party.block[S(1)].Level, 60);
        party.block[S(1)].Level = 61;
        QVERIFY(SaveWholeParty(lower, folder.context(), party, false).ok());

        // The file keeps its own name, with nothing left beside it.
        QCOMPARE(QDir(states.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"Game.000"});
        // One group of backups, whichever name is asked for.
        QCOMPARE(QDir(folder.backupFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
                 1);
        const Result<QList<Backup>> byOwn = ListBackups(folder.backupFolder(), own);
        QVERIFY(byOwn && byOwn.value().size() >= 2);
        for (const QString& name : {upper, lower}) {
            const Result<QList<Backup>> listed = ListBackups(folder.backupFolder(), name);
            QVERIFY(listed);
            QCOMPARE(listed.value().size(), byOwn.value().size());
            QCOMPARE(listed.value().first().path, byOwn.value().first().path);
        }
        // Groups were once named from the path as typed, hashed in the code page: such a group
        // is listed too.
        QDir backups(folder.backupFolder());
        const QString group = backups.entryList(QDir::Dirs | QDir::NoDotAndDotDot).first();
        QVERIFY(backups.rename(group, EarlierBackupGroupNames(upper).last()));
        const Result<QList<Backup>> typed = ListBackups(folder.backupFolder(), upper);
        QVERIFY(typed);
        QCOMPARE(typed.value().size(), byOwn.value().size());
#endif
    }

    void namesWindowsKeepsGetAClearMessage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("said");
        QTest::newRow("con.000") << "con.000"
                                 << "the device CON";
        QTest::newRow("aux.000") << "aux.000"
                                 << "the device AUX";
        QTest::newRow("LPT1 with a space") << "LPT1 .sav"
                                           << "the device LPT";
        QTest::newRow("nul") << "Nul"
                             << "the device NUL";
        QTest::newRow("network folder") << "\\\\nohost.invalid\\saves\\state.000"
                                        << "network folder";
    }
    void namesWindowsKeepsGetAClearMessage()
    {
#if !defined(Q_OS_WIN)
        QSKIP("names and network paths Windows treats apart");
#else
        QFETCH(QString, name);
        QFETCH(QString, said);
        const QString path = name.startsWith("\\\\") ? name : m_states.filePath(name);
        ProgramFolder folder;
        PartyState party = Sentinel();
        const Outcome loaded = LoadState(path, folder.context(), party);
        QVERIFY(!loaded.ok());
        QVERIFY2(loaded.message().contains(said) && !loaded.message().contains('\n'),
                 qPrintable(loaded.message()));
        ExpectSameParty(party, Sentinel());
        QVERIFY(!folder.hasLeftovers());
#endif
    }

    void stateHeldOpenWithoutDeleteSharingGetsAPlainAnswer()
    {
#if !defined(Q_OS_WIN)
        QSKIP("sharing modes are Windows'");
#else
        const QString path = writeState("held.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const QByteArray before = ReadBytes(path);
        // As an emulator that opens the state for reading and writing, and shares no delete.
        const HANDLE held =
            ::CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(),
                          GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        auto close = qScopeGuard([&] { ::CloseHandle(held); });
        ProgramFolder folder;
        PartyState party = Sentinel();
        QElapsedTimer timer;
        timer.start();
        const Outcome loaded = LoadState(path, folder.context(), party);
        QVERIFY(!loaded.ok());
        QVERIFY2(loaded.message().contains(QDir::toNativeSeparators(path)) &&
                     loaded.message().contains("Another program keeps the state file") &&
                     !loaded.message().contains('\n'),
                 qPrintable(loaded.message()));
        QVERIFY(timer.elapsed() < 60000);  // bounded: the wait for the lock, five seconds
        close.dismiss();
        ::CloseHandle(held);
        QCOMPARE(ReadBytes(path), before);
        ExpectSameParty(party, Sentinel());
        QVERIFY(!folder.hasLeftovers());
#endif
    }

    void failuresChangeNothing_data()
    {
        QTest::addColumn<QString>("fakeMode");  // empty: the real decompressor
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("cause");
        const QByteArray gz = Pack(MakeImage(StateRecipe()), Packing::Gzip);
        QTest::newRow("not a state")
            << "" << QByteArray("just some text\n") << ErrorKind::NotAState << "not a save state";
        QTest::newRow("cut short")
            << "" << gz.left(gz.size() / 2) << ErrorKind::NotAState << "cut short";
        // Damage that leaves the party readable must still be refused: saving would make it whole.
        const QByteArray image = MakeImage(StateRecipe());
        const qsizetype ramEnd = image.indexOf("RAM:131072:") + 11 + 131072;
        QTest::newRow("plain cut after RAM") << "" << image.left(ramEnd) << ErrorKind::NotAState
                                             << "ends without blocks SRA FIL SND";
        const QByteArray members = Pack(image, Packing::GzipNamedMembers);
        const qsizetype second = members.indexOf(QByteArray("\x1f\x8b", 2), 10);
        QTest::newRow("gzip cut at its member boundary")
            << "" << members.left(second) << ErrorKind::NotAState << "cut short inside block";
        QTest::newRow("exits without flag")
            << "fail" << gz << ErrorKind::DecompressorFailed << "simulated failure";
        QTest::newRow("crashes") << "crash" << gz << ErrorKind::DecompressorFailed
                                 << "stopped unexpectedly";
        QTest::newRow("image but no flag")
            << "noflag" << gz << ErrorKind::DecompressorFailed << "exit code 0";
        QTest::newRow("short image") << "short" << gz << ErrorKind::NotAState << "1000 bytes";
        QTest::newRow("garbage image")
            << "garbage" << gz << ErrorKind::NotAState << "not an emulator snapshot";
        QTest::newRow("hangs") << "hang" << gz << ErrorKind::DecompressorTimedOut
                               << "within 0.4 seconds";
    }
    void failuresChangeNothing()
    {
        QFETCH(QString, fakeMode);
        QFETCH(QByteArray, content);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, cause);
        qputenv("CINDRAL_FAKE_UNVELL", fakeMode.toUtf8());
        ProgramFolder folder(fakeMode.isEmpty() ? RealUnvell() : FakeUnvell());
        const QString path = writeState("victim.000", content);
        auto context = folder.context();
        context.waitBound = std::chrono::milliseconds(400);

        for (bool save : {false, true}) {
            PartyState party = Sentinel();
            QElapsedTimer timer;
            timer.start();
            const Outcome outcome =
                save ? SaveWholeParty(path, context, party, true) : LoadState(path, context, party);
            // The default bound is 20 s; ending far below it proves the 0.4 s bound is kept,
            // with room for a slow, busy machine.
            QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(outcome.kind(), kind);
            QVERIFY2(outcome.message().contains(cause), qPrintable(outcome.message()));
            QVERIFY2(outcome.message().contains(QDir::toNativeSeparators(path)),
                     qPrintable(outcome.message()));
            ExpectSameParty(party, Sentinel());
            QCOMPARE(ReadBytes(path), content);
            QVERIFY(!folder.hasLeftovers());
        }
    }

    void waitingSpendsNoCpu()
    {
        // CPU time against wall time: a polling loop would use most of a core for the whole
        // wait (at least half of one on a busy machine); an idle wait uses a few per cent.
        qputenv("CINDRAL_FAKE_UNVELL", "hang");
        ProgramFolder folder(FakeUnvell());
        const QString path = writeState("slow.000", QByteArray("anything"));
        auto context = folder.context();
        context.waitBound = std::chrono::milliseconds(2000);
        PartyState party;
        QElapsedTimer wall;
        const double before = ProcessCpuMs();
        wall.start();
        QCOMPARE(LoadState(path, context, party).kind(), ErrorKind::DecompressorTimedOut);
        const double wallMs = double(wall.elapsed());
        const double cpu = ProcessCpuMs() - before;
        qInfo("a %.0f ms wait cost %.1f ms of CPU", wallMs, cpu);
        QVERIFY(wallMs >= 1500);  // a coarse timer may end a little early
        QVERIFY2(cpu < 0.15 * wallMs, qPrintable(QString::number(cpu)));
    }

    void lingeringDecompressorIsWaitedFor()
    {
        qputenv("CINDRAL_FAKE_UNVELL", "lateexit");
        ProgramFolder folder(FakeUnvell());
        const QString path = writeState("late.000", QByteArray("anything"));
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());
        QCOMPARE(ReadBytes(path), QByteArray("#!s9xsnp:0011\n") + QByteArray(100000 - 14, 'x'));
        QVERIFY(!folder.hasLeftovers());
    }

    void missingOrUnusableFiles_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<ErrorKind>("kind");
        QTest::newRow("no state file") << "nostate" << ErrorKind::NotFound;
        QTest::newRow("state is a folder") << "folder" << ErrorKind::NotAState;
        QTest::newRow("no decompressor") << "nodecompressor" << ErrorKind::DecompressorMissing;
        QTest::newRow("decompressor not executable") << "noexec" << ErrorKind::DecompressorMissing;
        QTest::newRow("no program folder") << "nofolder" << ErrorKind::FolderNotWritable;
    }
    void missingOrUnusableFiles()
    {
        QFETCH(QString, setup);
        QFETCH(ErrorKind, kind);
        ProgramFolder folder;
        auto context = folder.context();
        QString path = writeState("present.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        if (setup == "nostate")
            path = m_states.filePath("absent.000");
        if (setup == "folder") {
            path = m_states.filePath("dir.000");
            QDir().mkpath(path);
        }
        if (setup == "nodecompressor")
            QFile::remove(DecompressorPath(folder.path()));
        if (setup == "noexec") {
#if defined(Q_OS_WIN)
            // Windows runs whatever a program's bytes are: these are no program's.
            QFile decompressor(DecompressorPath(folder.path()));
            QVERIFY(decompressor.open(QIODevice::WriteOnly | QIODevice::Truncate));
            decompressor.write("not a program\n");
#else
            QFile::setPermissions(DecompressorPath(folder.path()),
                                  QFile::ReadOwner | QFile::WriteOwner);
#endif
        }
        if (setup == "nofolder")
            context.programFolder = folder.file("gone");
        const QByteArray before = ReadBytes(path);
        PartyState party = Sentinel();
        const Outcome outcome = LoadState(path, context, party);
        QCOMPARE(outcome.kind(), kind);
        QVERIFY(!outcome.message().isEmpty());
        ExpectSameParty(party, Sentinel());
        QCOMPARE(ReadBytes(path), before);
        QVERIFY(!folder.hasLeftovers());
    }

    void readOnlyStateFileIsLeftIntact()
    {
        const QByteArray packed = Pack(MakeImage(StateRecipe()), Packing::Gzip);
        const QString path = writeState("locked.000", packed);
        const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(path, readOnly));
        ProgramFolder folder;
        PartyState party = Sentinel();
        for (bool save : {false, true}) {
            const Outcome outcome = save ? SaveWholeParty(path, folder.context(), party, true)
                                         : LoadState(path, folder.context(), party);
            QCOMPARE(outcome.kind(), ErrorKind::PermissionDenied);
            QVERIFY(outcome.message().contains("read-only"));
            QCOMPARE(ReadBytes(path), packed);
            QCOMPARE(ModeBits(path), readOnly);
            ExpectSameParty(party, Sentinel());
            QVERIFY(!folder.hasLeftovers());
        }
        QFile::setPermissions(path, readOnly | QFile::WriteOwner);
    }

    void permissionsAreKept()
    {
        const QString path = writeState("perm.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
#if defined(Q_OS_WIN)
        // Windows has attributes where POSIX has mode bits: the state's stay, ours never show.
        const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
        QVERIFY(::SetFileAttributesW(native.c_str(), kept));
#else
        const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(path, perms));
#endif
        ProgramFolder folder;
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());
        QVERIFY(SaveWholeParty(path, folder.context(), party, true).ok());
#if defined(Q_OS_WIN)
        const DWORD shown = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY;
        QCOMPARE(::GetFileAttributesW(native.c_str()) & shown, kept);
#else
        QCOMPARE(ModeBits(path), perms);
#endif
    }

    void secondFrameOnOneFolderWaitsThenFails()
    {
        ProgramFolder folder;
        QLockFile other(folder.file(kFolderLockName));
        QVERIFY(other.tryLock());
        auto context = folder.context();
        context.lockWait = std::chrono::milliseconds(300);
        const QString path = writeState("busy.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const QByteArray before = ReadBytes(path);
        PartyState party = Sentinel();
        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = LoadState(path, context, party);
        QVERIFY(timer.elapsed() >= 250);
        QCOMPARE(outcome.kind(), ErrorKind::Busy);
        QVERIFY(outcome.message().contains(QDir::toNativeSeparators(folder.path())));
        ExpectSameParty(party, Sentinel());
        QCOMPARE(ReadBytes(path), before);
        other.unlock();
        QVERIFY(LoadState(path, context, party).ok());
    }

    void ownerlessLockIsClearedAfterTheWait()
    {
        // What a program killed between creating its lock file and filling it leaves behind.
        ProgramFolder folder;
        QFile lock(folder.file(kFolderLockName));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.setFileTime(QDateTime::currentDateTime().addSecs(-10),
                         QFileDevice::FileModificationTime);
        lock.close();
        auto context = folder.context();
        context.lockWait = std::chrono::milliseconds(200);
        const QString path =
            writeState("after-kill.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        PartyState party;
        const Outcome loaded = LoadState(path, context, party);
        QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
        QVERIFY(!folder.hasLeftovers());
    }

    void jobRunsAwayFromTheCallerAndReportsBack()
    {
        ProgramFolder folder;
        const QString path = m_states.filePath("job.000");
        WriteBytes(path, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        PartyState loaded;
        QThread* workThread = nullptr;
        QThread* doneThread = nullptr;
        std::optional<Outcome> result;
        BackgroundJob job;
        QVERIFY(job.start(
            [&] {
                workThread = QThread::currentThread();
                return LoadState(path, folder.context(), loaded);
            },
            [&](const Outcome& outcome) {
                doneThread = QThread::currentThread();
                result = outcome;
            }));
        QVERIFY(job.running());
        QVERIFY(!job.start([] { return Outcome::success(); }, {}));  // one at a time
        QTRY_VERIFY_WITH_TIMEOUT(!job.running(), 60000);
        QVERIFY(result && result->ok());
        QVERIFY(workThread != QThread::currentThread());
        QCOMPARE(doneThread, QThread::currentThread());
        QVERIFY(loaded.block == StateRecipe().party);

        // Destroyed while it works, a job waits for the work to end: the state is whole.
        WriteBytes(path, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        bool ended = false;
        {
            BackgroundJob leaving;
            QVERIFY(leaving.start(
                [&] {
                    PartyState party = loaded;
                    party.block[S(1)].Str = 77;
                    const Outcome saved = SaveWholeParty(path, folder.context(), party, false);
                    ended = true;
                    return saved;
                },
                {}));
        }
        QVERIFY(ended);
        QCOMPARE(std::uint8_t(ReadBytes(path).at(72832 + 23)), 77);
    }

    void inspectLeavesTheStateFileAlone()
    {
        StateRecipe recipe;
        recipe.gold = 654321;
        const QByteArray packed = Pack(MakeImage(recipe), Packing::Rzip);
        const QString path = writeState("peek.000", packed);
        ProgramFolder folder;
        const Result<StateContents> contents = InspectState(path, folder.context());
        QVERIFY(contents.ok());
        QCOMPARE(contents.value().gold, 654321u);
        QVERIFY(contents.value().party.block == recipe.party);
        QCOMPARE(contents.value().party.experience[S(4)], 48345);
        QCOMPARE(ReadBytes(path), packed);
        QVERIFY(!folder.hasLeftovers());
    }
};

QTEST_GUILESS_MAIN(TestStateFile)
#include "tst_statefile.moc"
