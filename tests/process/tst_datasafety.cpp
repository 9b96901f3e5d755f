// The edges where a user's data could be lost or silently undone: states named like working
// files, a decompressor run on its own, odd lock files, paths that are not text, ownership,
// and the backups kept before every replacement.

#include "Backups.h"
#include "FileLock.h"
#include "Host.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StagingFolder.h"
#include "StagingNames.h"
#include "StateFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

using namespace Process;
using namespace testsupport;

Q_DECLARE_METATYPE(Process::ErrorKind)

namespace {

#if defined(Q_OS_UNIX)
struct stat StatOf(const QString& path)
{
    struct stat st {
    };
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}
#endif

}  // namespace

class TestDataSafety : public QObject
{
    Q_OBJECT

    QTemporaryDir m_states;
    QByteArray m_image = MakeImage(StateRecipe());
    QByteArray m_gzip = Pack(m_image, Packing::Gzip);

    QString writeState(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_states.filePath(name);
        WriteBytes(path, bytes);
        return path;
    }

private slots:
    void ownFilesAreRefusedBeforeAnythingIsRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("throughLink");
        for (const QString& name : {QStringLiteral("newstate.dec"),
                                    QStringLiteral("newstate.dec.part"), QStringLiteral("flag.unv"),
                                    QStringLiteral("cindral-editor.lock"), kDecompressorFileName}) {
            QTest::newRow(qPrintable(name)) << name << false;
            QTest::newRow(qPrintable(name + " by a link")) << name << true;
        }
    }
    void ownFilesAreRefusedBeforeAnythingIsRemoved()
    {
        QFETCH(QString, name);
        QFETCH(bool, throughLink);
        ProgramFolder folder;
        const QString own = folder.file(name);
        if (name != kDecompressorFileName)
            WriteBytes(own, m_gzip);  // what a killed run leaves, and a user may open
        const QByteArray before = ReadBytes(own);
        QString path = own;
        if (throughLink) {
#if !defined(Q_OS_UNIX)
            QSKIP("QFile::link makes a shortcut on Windows, a file of its own");
#endif
            path = m_states.filePath(name + ".000");
            QFile::remove(path);
            QVERIFY(QFile::link(own, path));
        }
        PartyState party;
        const Outcome loaded = LoadState(path, folder.context(), party);
        QCOMPARE(loaded.kind(), ErrorKind::NotAState);
        QVERIFY2(loaded.message().contains("editor's own file " + name),
                 qPrintable(loaded.message()));
        QVERIFY(ReadBytes(own) == before);
    }

    void standaloneDecompressorWaitsForTheFrame()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("started through a POSIX shell");
#else
        // A frame holds the folder; a decompressor that a person runs there (its parent is a
        // shell, not the frame's program) must not write into it until the frame is over.
        ProgramFolder folder;
        const QString other = writeState("other.000", Pack(MakeImage({.seed = 9}), Packing::Gzip));
        platform::FileLock frame;
        QVERIFY(!frame.lockFolderFile(QFile::encodeName(folder.file(kFolderLockName)).toStdString(),
                                      std::chrono::milliseconds(0)));
        QProcess shell;
        shell.start("/bin/sh", {"-c", "\"$0\" -dec \"$1\"; exit $?", folder.file("Unvell"), other});
        QVERIFY(shell.waitForStarted());
        QTest::qWait(500);
        QVERIFY(!QFile::exists(folder.file(kWorkingCopyName)));
        QVERIFY(!QFile::exists(folder.file(kCompletionFlagName)));
        frame.release();
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 0);  // then it does its work, as asked
        QVERIFY(QFile::exists(folder.file(kCompletionFlagName)));
#endif
    }

    void standaloneDecompressorNeverFeedsAnotherState()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("started through a POSIX shell");
#else
        ProgramFolder folder;
        const QString other = writeState("x.000", Pack(MakeImage({.seed = 9}), Packing::Gzip));
        const QString mine = writeState("y.000", m_gzip);
        for (int round = 0; round < 15; ++round) {
            QProcess shell;
            shell.start("/bin/sh", {"-c", "\"$0\" -dec \"$1\"", folder.file("Unvell"), other});
            QVERIFY(shell.waitForStarted());
            const Result<StateContents> edited = EditState(
                mine, folder.context(), false,
                [](const StateContents&, PartyState& party) { party.block[S(1)].Luck = 77; });
            // (The shell may have ended already.)
            QVERIFY(shell.state() == QProcess::NotRunning || shell.waitForFinished(60000));
            QVERIFY2(edited.ok(), qPrintable(edited.failure().message()));
            QByteArray expected = m_image;
            expected[72832 + 28] = 77;
            QVERIFY2(ReadBytes(mine) == expected, qPrintable(QString("round %1").arg(round)));
        }
#endif
    }

    void decompressorReachedByALinkWritesBesideTheLink()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("symbolic links need privileges on Windows");
#else
        ProgramFolder real;
        QTemporaryDir linked;
        QVERIFY(QFile::link(real.file("Unvell"), QDir(linked.path()).filePath("Unvell")));
        StagingContext context = real.context();
        context.programFolder = linked.path();
        context.waitBound = std::chrono::milliseconds(20000);
        PartyState party;
        const Outcome loaded = LoadState(writeState("linked.000", m_gzip), context, party);
        QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
        QCOMPARE(party.block[S(3)].Str, 23);
        QVERIFY(!real.hasLeftovers());
#endif
    }

    void oddLockFilesGetAnAnswerInTime_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("cleared");  // else refused with a message naming the lock file
        QTest::newRow("named pipe") << "fifo" << false;
        QTest::newRow("link to /dev/zero") << "zero" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("stale lock of another user") << "foreign" << true;
    }
    void oddLockFilesGetAnAnswerInTime()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("FIFOs, /dev/zero and dangling links are POSIX's");
#else
        QFETCH(QString, kind);
        QFETCH(bool, cleared);
        ProgramFolder folder;
        const QString lock = folder.file(kFolderLockName);
        const QByteArray encoded = QFile::encodeName(lock);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(encoded.constData(), 0644), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", lock));
        else if (kind == "folder")
            QVERIFY(QDir().mkdir(lock));
        else if (kind == "dangling")
            QVERIFY(QFile::link(folder.file("nowhere"), lock));
        else {
            WriteBytes(lock, "4000000\nsomeone\n");
            QFile::setPermissions(lock, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            // Another user's where this runs as root; this user's own elsewhere, which does too.
            if (::chown(encoded.constData(), 65534, 65534) != 0)
                QVERIFY(::geteuid() != 0);
        }
        const QString path = writeState("lock.000", m_gzip);
        PartyState party;
        QElapsedTimer wall;
        wall.start();
        const double cpuBefore = ProcessCpuMs();
        const Outcome loaded = LoadState(path, folder.context(), party);
        const double cpu = ProcessCpuMs() - cpuBefore;
        QVERIFY2(wall.elapsed() < 20000, "no answer within four times the lock's bound");
        QVERIFY2(cpu < 0.5 * double(wall.elapsed()) + 200, qPrintable(QString::number(cpu)));
        if (cleared) {
            QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
        } else {
            QCOMPARE(loaded.kind(), ErrorKind::Busy);
            QVERIFY2(loaded.message().contains(lock) && loaded.message().contains("remove it"),
                     qPrintable(loaded.message()));
            QCOMPARE(ReadBytes(path), m_gzip);
        }
#endif
    }

    void pathsThatAreNotTextAreRefused()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("Windows names are UTF-16 text, always");
#else
        // "caf\xe9.000" is Latin-1, not UTF-8: its name reads back with a replacement character,
        // and a file whose name really holds that character must not be edited instead.
        const QByteArray raw = QFile::encodeName(m_states.path()) + "/caf\xe9.000";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, m_gzip.constData(), size_t(m_gzip.size())), ssize_t(m_gzip.size()));
        ::close(fd);
        const QString decoded = QFile::decodeName(raw);
        const QString twin = writeState(QString::fromUtf8("caf\uFFFD.000"), m_gzip);
        QCOMPARE(decoded, twin);
        ProgramFolder folder;
        PartyState party;
        const Outcome loaded = LoadState(decoded, folder.context(), party);
        ::unlink(raw.constData());  // a name the temporary folder's clean-up cannot spell
        QVERIFY2(loaded.message().contains("rename the file"), qPrintable(loaded.message()));
        QCOMPARE(ReadBytes(twin), m_gzip);
#endif
    }

    void messagesStayOnOneLine()
    {
#if defined(Q_OS_WIN)
        QSKIP("Windows names take no line breaks");
#endif
        ProgramFolder folder;
        const QString path = writeState("two\nlines.000", "no state at all");
        PartyState party;
        const Outcome loaded = LoadState(path, folder.context(), party);
        QCOMPARE(loaded.kind(), ErrorKind::NotAState);
        QVERIFY2(!loaded.message().contains('\n'), qPrintable(loaded.message()));
        QVERIFY(loaded.message().contains("two\\nlines.000"));
    }

    void pathsAtTheSystemsLimit_data()
    {
        QTest::addColumn<int>("folderLength");  // 0: the usual temporary folder
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<bool>("works");
        // Temporary names are short whatever the state's name, so a name of up to 255 bytes,
        // and a path of 4095, still leave room for them unless the folder alone nearly fills
        // the limit.
        QTest::newRow("name of 248 bytes") << 0 << 248 << true;
        QTest::newRow("name of 255 bytes") << 0 << 255 << true;
        QTest::newRow("path of 4095 bytes") << 3845 << 249 << true;
        QTest::newRow("folder near the limit") << 4000 << 94 << false;
    }
    void pathsAtTheSystemsLimit()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("limits of POSIX file systems; the long Windows path is tested in tst_statefile");
#else
        QFETCH(int, folderLength);
        QFETCH(int, nameLength);
        QFETCH(bool, works);
        QTemporaryDir root;
        QString folder = root.path();
        while (folder.size() < folderLength - 201)
            folder += QLatin1Char('/') + QString(200, QLatin1Char('d'));
        if (folderLength > 0)
            folder +=
                QLatin1Char('/') + QString(folderLength - folder.size() - 1, QLatin1Char('e'));
        QVERIFY(QDir().mkpath(folder));
        const QString path =
            folder + QLatin1Char('/') + QString(nameLength - 4, QLatin1Char('s')) + ".000";
        if (folderLength > 0)
            QCOMPARE(path.size(), 4095);
        WriteBytes(path, m_gzip);
        ProgramFolder programs;
        PartyState party;
        const Outcome loaded = LoadState(path, programs.context(), party);
        if (works) {
            QVERIFY2(loaded.ok(), qPrintable(loaded.message()));
            QCOMPARE(ReadBytes(path), m_image);
            QCOMPARE(ListBackups(programs.backupFolder(), path).value().size(), 1);
            party.block[S(1)].Str = 99;
            const Outcome saved = SaveWholeParty(path, programs.context(), party, false);
            QVERIFY2(saved.ok(), qPrintable(saved.message()));
            QCOMPARE(ListBackups(programs.backupFolder(), path).value().size(), 2);
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
        } else {
            QVERIFY2(loaded.message().contains("path is too long"), qPrintable(loaded.message()));
            QCOMPARE(ReadBytes(path), m_gzip);
            QCOMPARE(ListBackups(programs.backupFolder(), path).value().size(), 0);
        }
#endif
    }

    void folderWithoutSearchPermissionIsNamedSo()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("setpriv and search permission are POSIX's");
#else
        if (!RunningAsRoot() || QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("running as another user needs root and setpriv");
        QTemporaryDir closed;  // made 0700 for root: nobody may not search it
        const QString path = QDir(closed.path()).filePath("inside.000");
        WriteBytes(path, m_gzip);
        QProcess asNobody;
        asNobody.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                   QStringLiteral(CINDRAL_PARTY_BINARY), "show", path});
        QVERIFY(asNobody.waitForFinished(60000));
        const QString err = QString::fromUtf8(asNobody.readAllStandardError());
        if (asNobody.exitCode() != 1 || !err.startsWith("cindral-party:"))
            QSKIP(qPrintable("nobody cannot run the program here: " + err));
        QVERIFY2(err.contains("cannot be reached") && err.contains("permission denied"),
                 qPrintable(err));
#endif
    }

    void replaceKeepsOwnerGroupAndAttributes()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("owners, mode bits and extended attributes are POSIX's");
#else
        if (!RunningAsRoot())
            QSKIP("giving a file to another user needs root");
        const QString path = writeState("owned.000", m_gzip);
        const QByteArray encoded = QFile::encodeName(path);
        QCOMPARE(::chown(encoded.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(encoded.constData(), 0600), 0);
        const bool attributes = ::setxattr(encoded.constData(), "user.note", "mine", 4, 0) == 0;
        ProgramFolder folder;
        PartyState party;
        QVERIFY(LoadState(path, folder.context(), party).ok());
        QCOMPARE(ReadBytes(path), m_image);  // it was replaced
        const struct stat st = StatOf(path);
        QCOMPARE(st.st_uid, uid_t(65534));
        QCOMPARE(st.st_gid, gid_t(65534));
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        if (attributes) {
            char value[8] = {};
            QCOMPARE(::getxattr(encoded.constData(), "user.note", value, sizeof value), ssize_t(4));
            QCOMPARE(QByteArray(value), QByteArray("mine"));
        }
#endif
    }

    void backupIsAHardLinkOnTheSameDisk()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("inode numbers are POSIX's");
#else
        ProgramFolder folder;
        StagingContext context = folder.context();
        context.backupFolder = m_states.filePath("backups");
        const QString path = writeState("linked.000", m_gzip);
        const ino_t original = StatOf(path).st_ino;
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 1);
        QCOMPARE(ReadBytes(backups[0].path), m_gzip);
        QCOMPARE(StatOf(backups[0].path).st_ino, original);  // the old file itself, no copy
        QVERIFY(backups[0].path.endsWith("-linked.000"));
        // A load of the plain image changes nothing, so it keeps no backup.
        QVERIFY(LoadState(path, context, party).ok());
        QCOMPARE(ListBackups(context.backupFolder, path).value().size(), 1);
#endif
    }

    void backupIsACopyOnAnotherDisk()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("needs /dev/shm");
#else
        if (StatOf("/dev/shm").st_dev == StatOf(m_states.path()).st_dev)
            QSKIP("no second file system to copy to");
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/cindral-backups-XXXXXX"));
        QVERIFY(elsewhere.isValid());
        ProgramFolder folder;
        StagingContext context = folder.context();
        context.backupFolder = elsewhere.path();
        const QString path = writeState("copied.000", m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 1);
        QCOMPARE(ReadBytes(backups[0].path), m_gzip);
        QCOMPARE(StatOf(backups[0].path).st_nlink, nlink_t(1));
#endif
    }

    void newestTwentyAreKeptAndRestoreBringsOneBack()
    {
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString path = writeState("many.000", m_gzip);
        QList<QByteArray> states{m_gzip};
        for (int i = 0; i < 24; ++i) {
            const Result<StateContents> edited =
                EditState(path, context, false, [i](const StateContents&, PartyState& party) {
                    party.block[S(2)].Luck = std::uint8_t(i);
                });
            QVERIFY(edited.ok());
            states << ReadBytes(path);
        }
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), kKeptBackups);
        for (int n = 1; n <= kKeptBackups; ++n) {
            QCOMPARE(backups[n - 1].number, n);
            QVERIFY(ReadBytes(backups[n - 1].path) == states[states.size() - 1 - n]);
        }
        QVERIFY(backups.first().time >= backups.last().time);

        QVERIFY(RestoreState(path, context, context.backupFolder, 3).ok());
        QVERIFY(ReadBytes(path) == states[states.size() - 4]);
        // What the restore replaced became the newest backup.
        QVERIFY(ReadBytes(ListBackups(context.backupFolder, path).value().first().path) ==
                states.last());
        QCOMPARE(RestoreState(path, context, context.backupFolder, 21).kind(), ErrorKind::NotFound);
    }

    void backupNeverSharesAFileThatCanStillBeWritten()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("link counts and inodes are POSIX's");
#else
        // A state with a second name: a hard link as its backup would change with every
        // in-place save through that name.
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString path = writeState("twice.000", m_gzip);
        const QString second = m_states.filePath("twice-other-name.000");
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(second).constData()),
                 0);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const Backup backup = ListBackups(context.backupFolder, path).value().first();
        QCOMPARE(ReadBytes(backup.path), m_gzip);
        QCOMPARE(StatOf(backup.path).st_nlink, nlink_t(1));
        WriteBytes(second, "written through the other name");
        QCOMPARE(ReadBytes(backup.path), m_gzip);
        QFile::remove(second);

        // A program killed between taking a backup and the rename leaves a pending link to the
        // live state: never listed, and cleared by the next backup.
        const QString group = BackupGroupFolder(context.backupFolder, path);
        QCOMPARE(::link(QFile::encodeName(path).constData(),
                        QFile::encodeName(group + "/.pending-killed").constData()),
                 0);
        QCOMPARE(ListBackups(context.backupFolder, path).value().size(), 1);
        party.block[S(1)].Int = 9;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());
        QVERIFY(!QFile::exists(group + "/.pending-killed"));
        const QList<Backup> now = ListBackups(context.backupFolder, path).value();
        QCOMPARE(now.size(), 2);
        QCOMPARE(ReadBytes(now.first().path), m_image);
        QCOMPARE(StatOf(now.first().path).st_nlink, nlink_t(1));
#endif
    }

    void copiedBackupKeepsThePermissions()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("mode bits are POSIX's");
#else
        if (StatOf("/dev/shm").st_dev == StatOf(m_states.path()).st_dev)
            QSKIP("no second file system to copy to");
        QTemporaryDir elsewhere(QStringLiteral("/dev/shm/cindral-backups-XXXXXX"));
        ProgramFolder folder;
        StagingContext context = folder.context();
        context.backupFolder = elsewhere.filePath("backups");
        const QString path = writeState("private.000", m_gzip);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const Backup backup = ListBackups(context.backupFolder, path).value().first();
        QCOMPARE(StatOf(backup.path).st_mode & 07777, mode_t(0600));
        QCOMPARE(StatOf(context.backupFolder).st_mode & 07777, mode_t(0700));
        QCOMPARE(StatOf(QFileInfo(backup.path).absolutePath()).st_mode & 07777, mode_t(0700));
#endif
    }

    void backupOfAnotherUsersStateIsOurs()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("owners are POSIX's");
#else
        // Root saving a state another user owns: a link would be that user's file, which
        // backups and restore refuse; a copy of our own is kept.
        if (!RunningAsRoot())
            QSKIP("giving a file to another user needs root");
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString path = writeState("theirs.000", m_gzip);
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        party.block[S(1)].Vig = 1;
        QVERIFY(SaveWholeParty(path, context, party, false).ok());
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 2);
        QCOMPARE(StatOf(backups[0].path).st_uid, uid_t(0));
        QVERIFY(backups[0].sequence > backups[1].sequence);
        QVERIFY(RestoreState(path, context, context.backupFolder, 2).ok());
        QCOMPARE(ReadBytes(path), m_gzip);
#endif
    }

    void backupsMadeBeforeNumberingStayListed()
    {
        // A long state name: its group keeps the last 60 characters, as it always did.
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString name = QString(76, QLatin1Char('r')) + ".000";
        const QString path = writeState(name, m_gzip);
        const QByteArray hash =
            QCryptographicHash::hash(QFile::encodeName(QFileInfo(path).canonicalFilePath()),
                                     QCryptographicHash::Sha256)
                .toHex()
                .left(16);
        const QString group = QDir(context.backupFolder).filePath(name.right(60) + '-' + hash);
        QCOMPARE(BackupGroupFolder(context.backupFolder, path), group);
        QVERIFY(QDir().mkpath(group));
        WriteBytes(group + "/20991231-235959-999-" + name.right(60), m_gzip);
        QCOMPARE(ListBackups(context.backupFolder, path).value().size(), 1);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), 2);
        QVERIFY(backups[0].sequence > 0 && backups[1].sequence == 0);  // newer, whatever the time
    }

    void restoreTrustsNothingInTheBackupsFolder_data()
    {
        QTest::addColumn<QString>("tampering");
        QTest::newRow("a link in place of the backup") << "link";
        QTest::newRow("a backup of another user") << "owner";
        QTest::newRow("a group folder others can write") << "group writable";
        QTest::newRow("a group folder that is a link") << "group link";
        QTest::newRow("a backups folder of another user") << "root owner";
        QTest::newRow("a truncated backup") << "truncated";
    }
    void restoreTrustsNothingInTheBackupsFolder()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("owners, mode bits and symbolic links are POSIX's");
#else
        QFETCH(QString, tampering);
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString path = writeState("trust.000", m_gzip);
        PartyState party;
        QVERIFY(LoadState(path, context, party).ok());  // backup 1: the gzip
        const QString backup = ListBackups(context.backupFolder, path).value().first().path;
        const QString group = QFileInfo(backup).absolutePath();
        const QString secret = writeState("secret", "the bytes of another user's file");
        const QByteArray b = QFile::encodeName(backup), g = QFile::encodeName(group);
        if (tampering == "link") {
            QFile::remove(backup);
            QVERIFY(QFile::link(secret, backup));
        } else if (tampering == "owner" || tampering == "root owner") {
            if (!RunningAsRoot())
                QSKIP("giving a file to another user needs root");
            const QString target = tampering == "owner" ? backup : context.backupFolder;
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
        } else if (tampering == "group writable") {
            QCOMPARE(::chmod(g.constData(), 0777), 0);
        } else if (tampering == "group link") {
            QVERIFY(QDir().rename(group, group + "-moved"));
            QVERIFY(QFile::link(group + "-moved", group));
        } else {
            QCOMPARE(::truncate(b.constData(), 1000), 0);
        }
        const Outcome restored = RestoreState(path, context, context.backupFolder, 1);
        QVERIFY(!restored.ok());
        QVERIFY2(!restored.message().contains('\n'), qPrintable(restored.message()));
        if (tampering == "truncated")
            QVERIFY2(restored.message().contains(backup) &&
                         restored.message().contains("not a whole state"),
                     qPrintable(restored.message()));
        if (tampering.startsWith("group") || tampering == "root owner")
            QCOMPARE(restored.kind(), ErrorKind::Untrusted);
        QCOMPARE(ReadBytes(path), m_image);
#endif
    }

    void statesOfOneNameInTwoFoldersKeepApart()
    {
        ProgramFolder folder;
        const StagingContext context = folder.context();
        QVERIFY(QDir(m_states.path()).mkpath("one") && QDir(m_states.path()).mkpath("two"));
        const QString first = writeState("one/slot.000", m_gzip);
        const QString second = writeState("two/slot.000", Pack(m_image, Packing::Rzip));
        PartyState party;
        QVERIFY(LoadState(first, context, party).ok() && LoadState(second, context, party).ok());
        QVERIFY(BackupGroupFolder(context.backupFolder, first) !=
                BackupGroupFolder(context.backupFolder, second));
        QCOMPARE(ReadBytes(ListBackups(context.backupFolder, first).value().first().path), m_gzip);
        QCOMPARE(ReadBytes(ListBackups(context.backupFolder, second).value().first().path),
                 Pack(m_image, Packing::Rzip));
    }

    void backupsAreOrderedByTheirSequenceNotTheClock()
    {
        ProgramFolder folder;
        const StagingContext context = folder.context();
        const QString path = writeState("clock.000", m_gzip);
        QList<QByteArray> states{m_gzip};
        auto edit = [&](int i) {
            QVERIFY(EditState(path, context, false, [i](const StateContents&, PartyState& party) {
                        party.block[S(3)].Mag = std::uint8_t(i);
                    }).ok());
            states << ReadBytes(path);
        };
        for (int i = 0; i < 12; ++i)
            edit(i);
        // As if the clock had been set back before each backup: the newer, the earlier its time.
        const QString group = BackupGroupFolder(context.backupFolder, path);
        for (const QString& name : QDir(group).entryList(QDir::Files)) {
            const qint64 sequence = name.section('-', 0, 0).toLongLong();
            const QString stamp = QDateTime(QDate(2030, 1, 1), QTime(0, 0))
                                      .addSecs(-sequence)
                                      .toString("yyyyMMdd-HHmmss-zzz");
            QVERIFY(QDir(group).rename(name, name.section('-', 0, 0) + '-' + stamp + "-clock.000"));
        }
        for (int i = 12; i < 30; ++i)
            edit(i);
        const QList<Backup> backups = ListBackups(context.backupFolder, path).value();
        QCOMPARE(backups.size(), kKeptBackups);
        for (int n = 1; n <= kKeptBackups; ++n) {
            QCOMPARE(backups[n - 1].number, n);
            QVERIFY2(ReadBytes(backups[n - 1].path) == states[states.size() - 1 - n],
                     qPrintable(QString("backup %1").arg(n)));
        }
        QVERIFY(RestoreState(path, context, context.backupFolder, 1).ok());
        QVERIFY(ReadBytes(path) == states[states.size() - 2]);
    }

    void theUsersFoldersFollowTheVariables_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("taken");
        const QByteArray absolute = QDir::rootPath().toUtf8() + "elsewhere/folder";
        for (const QByteArray variable : {"XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            QTest::newRow(variable + " absolute") << variable << absolute << true;
            QTest::newRow(variable + " relative") << variable << QByteArray("relative/f") << false;
            QTest::newRow(variable + " empty") << variable << QByteArray() << false;
        }
    }
    void theUsersFoldersFollowTheVariables()
    {
        // Backups under the data folder, working files under the cache folder: an absolute
        // variable is taken on every system, anything else gives the system's own place.
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(bool, taken);
        const bool data = variable == "XDG_DATA_HOME";
        const auto folder = [data] {
            return data ? DefaultBackupFolder() : UserStagingFolders().constLast();
        };
        const QString inFolder = data ? "cindral-editor/backups" : "cindral-editor";
        const QByteArray before = qgetenv(variable.constData());
        qputenv(variable.constData(), value);
        const QString chosen = folder();
        qputenv(variable.constData(), before);
#if defined(Q_OS_WIN)
        const QString system = QStandardPaths::writableLocation(
            data ? QStandardPaths::GenericDataLocation : QStandardPaths::GenericCacheLocation);
#else
        const QString system = QDir::home().filePath(data ? ".local/share" : ".cache");
#endif
        const QString expected = taken ? QString::fromUtf8(value) : system;
        QCOMPARE(QDir::cleanPath(chosen), QDir::cleanPath(QDir(expected).filePath(inFolder)));
    }

    void aMovedLockStillKnowsItsFile()
    {
        const QString path = writeState("moved.000", m_gzip);
        const std::string name = QFile::encodeName(path).toStdString();
        platform::FileLock first;
        QVERIFY(!first.lockExistingFile(name, std::chrono::milliseconds(0)));
        platform::FileLock second(std::move(first));
        platform::FileLock third;
        third = std::move(second);
        QVERIFY(!first.locked() && !second.locked() && third.locked());
        QVERIFY(third.stillAsLocked());  // no false "changed by another program"
        platform::FileLock other;
        QCOMPARE(other.lockExistingFile(name, std::chrono::milliseconds(0)),
                 std::error_code(platform::LockError::Busy));
        WriteBytes(path, m_image);
        QVERIFY(!third.stillAsLocked());
    }

    void aSaveOfTheSameSizeWithinOneTickIsNoticed_data()
    {
        QTest::addColumn<bool>("wholeSeconds");
        // Where the disk keeps whole seconds; and where the clock moves in steps (Linux's every
        // few milliseconds), for a file written in the last moments.
        QTest::newRow("whole seconds, long ago") << true;
        QTest::newRow("one clock step, just now") << false;
    }
    void aSaveOfTheSameSizeWithinOneTickIsNoticed()
    {
        // An in-place save of the same size can leave size and time as they were; no lease is
        // taken here, so only the stamp and the bytes can tell.
        QFETCH(bool, wholeSeconds);
        const QString path = writeState("coarse.000", m_image);
        const QByteArray encoded = QFile::encodeName(path);
        const QDateTime time = wholeSeconds ? QDateTime::fromSecsSinceEpoch(1700000000)
                                            : QDateTime::currentDateTimeUtc().addMSecs(-7);
        auto setTime = [&] {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        };
        setTime();
        platform::FileLock lock;
        QVERIFY(!lock.lockExistingFile(encoded.toStdString(), std::chrono::milliseconds(0)));
        QVERIFY(lock.stillAsLocked());
        QByteArray newer = m_image;
        newer[89184] = char(newer[89184] ^ 0x11);
        WriteBytes(path, newer);
        setTime();
        QVERIFY(!lock.unchangedSinceLocked());
        QVERIFY(!lock.stillAsLocked());
    }

    void noBackupNoReplacement_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("folder cannot be created") << "under a file";
        QTest::newRow("disk full") << "tiny disk";
    }
    void noBackupNoReplacement()
    {
        QFETCH(QString, where);
        ProgramFolder folder;
        StagingContext context = folder.context();
        QTemporaryDir mountPoint;
        bool mounted = false;
        if (where == "under a file") {
            WriteBytes(m_states.filePath("a file"), "x");
            context.backupFolder = m_states.filePath("a file/backups");
        } else {
            if (!RunningAsRoot())
                QSKIP("mounting a small file system needs root");
            QProcess mount;
            mount.start("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint.path()});
            mounted = mount.waitForFinished() && mount.exitCode() == 0;
            if (!mounted)
                QSKIP("this machine does not allow mounting a tmpfs");
            context.backupFolder = mountPoint.path();
        }
        const QString path = writeState("kept.000", m_gzip);
        PartyState party = {};
        const Outcome loaded = LoadState(path, context, party);
        if (mounted)
            QProcess::execute("umount", {mountPoint.path()});
        QCOMPARE(loaded.kind(), ErrorKind::BackupFailed);
        QVERIFY2(loaded.message().contains(QDir::toNativeSeparators(path)) &&
                     loaded.message().contains("left as it was"),
                 qPrintable(loaded.message()));
        QVERIFY(party.block == PartyBlock());
        QCOMPARE(ReadBytes(path), m_gzip);
        QVERIFY(!folder.hasLeftovers());
    }
};

QTEST_GUILESS_MAIN(TestDataSafety)
#include "tst_datasafety.moc"
