#include "Container.h"
#include "Decompress.h"
#include "FileLock.h"
#include "ProgramFolder.h"
#include "RunningProgram.h"
#include "Snapshot.h"
#include "SnapshotGenerator.h"
#include "StatePath.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <zlib.h>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

using namespace testsupport;

namespace {

std::span<const std::uint8_t> Span(const QByteArray& b)
{
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), std::size_t(b.size())};
}

QByteArray Gzip(const QByteArray& data)
{
    return Pack(data, Packing::Gzip);
}

// An image whose blocks are given by hand, to break the walk in chosen ways.
QByteArray Snapshot(const QList<QPair<QByteArray, int>>& blocks,
                    const QByteArray& signature = "#!s9xsnp:0011\n")
{
    QByteArray image = signature;
    for (const auto& [name, size] : blocks)
        image += BlockHeader(name.constData(), size) + QByteArray(size, '\0');
    return image;
}

}  // namespace

class TestUnvell : public QObject
{
    Q_OBJECT

private slots:
    void acceptsEveryLayoutAndPacking_data() { AddEveryLayoutAndPacking(); }
    void acceptsEveryLayoutAndPacking()
    {
        QFETCH(Layout, layout);
        QFETCH(Packing, packing);
        StateRecipe recipe;
        recipe.layout = layout;
        const QByteArray image = MakeImage(recipe);
        const QByteArray packed = Pack(image, packing);
        const auto result = unvell::InflateContainer(Span(packed));
        QVERIFY2(result.ok(), result.status.cause().c_str());
        QVERIFY(QByteArray(reinterpret_cast<const char*>(result.image.data()),
                           qsizetype(result.image.size())) == image);
        QCOMPARE(unvell::CheckSnapshot(result.image).cause(), std::string());
    }

    void refusesDamagedContainers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("cause");
        const QByteArray image = MakeImage(StateRecipe());
        const QByteArray gz = Gzip(image);
        const QByteArray rz = Pack(image, Packing::Rzip);
        QTest::newRow("empty") << QByteArray() << "not a save state";
        QTest::newRow("random text") << QByteArray("hello world") << "not a save state";
        QTest::newRow("gzip cut short") << gz.left(gz.size() - 100) << "ends early";
        QTest::newRow("gzip header only") << gz.left(10) << "ends early";
        QByteArray flipped = gz;
        flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x55);
        QTest::newRow("gzip damaged") << flipped << "damaged";
        QTest::newRow("gzip trailing junk") << gz + "junk"
                                            << "unexpected data";
        QTest::newRow("gzip zero padding is fine") << gz + QByteArray(16, '\0') << "";
        QByteArray rzTotal = rz;
        rzTotal[12] = char(rzTotal[12] + 1);
        QTest::newRow("rzip total mismatch") << rzTotal << "instead of";
        QTest::newRow("rzip chunk cut") << rz.left(rz.size() - 10) << "cut short";
        QTest::newRow("rzip header cut") << rz.left(12) << "header is cut short";
        const qsizetype firstChunk = qsizetype(quint8(rz[20])) | qsizetype(quint8(rz[21])) << 8 |
                                     qsizetype(quint8(rz[22])) << 16;
        QByteArray rzTrailing = rz.left(24 + firstChunk) + "abc" + rz.mid(24 + firstChunk);
        rzTrailing[20] = char((firstChunk + 3) & 0xFF);
        rzTrailing[21] = char(((firstChunk + 3) >> 8) & 0xFF);
        rzTrailing[22] = char((firstChunk + 3) >> 16);
        QByteArray rzChunk = rz;
        rzChunk[11] = char(0x7F);  // a chunk size of about 2 GiB, with an ordinary chunk
        QTest::newRow("rzip chunk size beyond any state") << rzChunk << "which no state has";
        QTest::newRow("rzip chunk with bytes after its stream")
            << rzTrailing << "after a compressed chunk";
        QByteArray rzVersion = rz;
        rzVersion[6] = 2;
        QTest::newRow("rzip version 2") << rzVersion << "unsupported RZIP version";
        QByteArray rzHuge = rz;
        rzHuge[19] = 1;
        QTest::newRow("rzip claims 2^56 bytes") << rzHuge << "more than 16 MiB";
        QTest::newRow("gzip bomb")
            << Gzip(QByteArray(17 * 1024 * 1024, '\0')) << "more than 16 MiB";
        QTest::newRow("plain too large")
            << "#!" + QByteArray(17 * 1024 * 1024, 'x') << "more than 16 MiB";
    }
    void refusesDamagedContainers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, cause);
        const auto result = unvell::InflateContainer(Span(input));
        const std::string& error = result.status.cause();
        QVERIFY2(QString::fromStdString(error).contains(cause), error.c_str());
        QCOMPARE(result.ok(), cause.isEmpty());
        if (!result.ok())
            QVERIFY(result.image.empty());
    }

    // An RZIP chunk larger than the read buffer is gathered whole, keeping the bytes already
    // read, whatever the size of each read.
    void inflatesAChunkLargerThanTheBuffer()
    {
        constexpr int kChunk = 1024 * 1024;  // random bytes, so its stream is as large
        QByteArray data(kChunk, '\0');
        std::uint32_t x = 2463534242u;
        for (char& c : data)
            x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = char(x >> 24);
        uLongf size = compressBound(kChunk);
        QByteArray stream(qsizetype(size), '\0');
        QVERIFY(compress(reinterpret_cast<Bytef*>(stream.data()), &size,
                         reinterpret_cast<const Bytef*>(data.constData()), kChunk) == Z_OK);
        stream.truncate(qsizetype(size));
        QVERIFY(stream.size() > 256 * 1024);
        QByteArray input("#RZIPv\x01#", 8);
        for (auto [value, bytes] : {std::pair<std::uint64_t, int>{kChunk, 4},
                                    {kChunk, 8},
                                    {std::uint64_t(stream.size()), 4}})
            for (int i = 0; i < bytes; ++i)
                input += char((value >> (8 * i)) & 0xFF);
        input += stream;
        for (const qsizetype piece : {7, 4099, 1 << 20}) {
            qsizetype offered = 0;
            QByteArray out;
            const unvell::Status status = unvell::InflateInto(
                [&](std::span<std::uint8_t> buffer) {
                    const qsizetype n =
                        std::min({qsizetype(buffer.size()), piece, input.size() - offered});
                    std::memcpy(buffer.data(), input.constData() + offered, std::size_t(n));
                    offered += n;
                    return std::ptrdiff_t(n);
                },
                [&](std::span<const std::uint8_t> bytes) {
                    out.append(reinterpret_cast<const char*>(bytes.data()),
                               qsizetype(bytes.size()));
                    return true;
                });
            QVERIFY2(status.ok(), status.cause().c_str());
            QVERIFY2(out == data, qPrintable(QStringLiteral("pieces of %1").arg(piece)));
        }
    }

    void checksTheSnapshot_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("cause");
        const QPair<QByteArray, int> vra{"VRA", 65536}, ram{"RAM", 131072}, sra{"SRA", 4096},
            fil{"FIL", 64}, snd{"SND", 512}, ctl{"CTL", 44}, tim{"TIM", 52};
        const QByteArray good = Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd, ctl, tim});
        QTest::newRow("good") << good << "";
        QTest::newRow("a screenshot and a chip's block after TIM")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd, ctl, tim, {"SA1", 64}, {"SHO", 0}})
            << "";
        QTest::newRow("old header")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd}, "#!snes9x:0001\n") << "";
        QTest::newRow("old header, sound by other names")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, {"APU", 8}, {"SOU", 8}}, "#!snes9x:0001\n")
            << "";
        QTest::newRow("old header without FIL")
            << Snapshot({{"NAM", 8}, vra, ram, sra}, "#!snes9x:0001\n") << "ends without block FIL";
        QTest::newRow("wrong header")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd}, "#!zsnes:0001\n")
            << "not an emulator snapshot";
        QTest::newRow("no newline")
            << Snapshot({{"NAM", 8}, vra, ram}, "#!s9xsnp:0011") << "not an emulator snapshot";
        QTest::newRow("no RAM") << Snapshot({{"NAM", 8}, vra, sra, fil, snd}) << "no RAM block";
        QTest::newRow("two RAM blocks")
            << Snapshot({{"NAM", 8}, vra, ram, ram, sra, fil, snd}) << "two RAM blocks";
        QTest::newRow("RAM of wrong size")
            << Snapshot({{"NAM", 8}, vra, {"RAM", 65536}}) << "instead of 131072";
        QTest::newRow("RAM after the party offset")
            << Snapshot({{"NAM", 8000}, vra, ram}) << "does not lie where";
        // A state cut exactly between two blocks (as at a gzip member's end) lacks the later ones.
        QTest::newRow("ends after RAM")
            << Snapshot({{"NAM", 8}, vra, ram}) << "ends without blocks SRA FIL SND CTL TIM";
        QTest::newRow("ends before SND")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil}) << "ends without blocks SND CTL TIM";
        QTest::newRow("ends after SND")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd}) << "ends without blocks CTL TIM";
        QTest::newRow("ends after CTL")
            << Snapshot({{"NAM", 8}, vra, ram, sra, fil, snd, ctl}) << "ends without block TIM";
        QTest::newRow("SND before RAM only")
            << Snapshot({{"NAM", 8}, snd, vra, ram, sra, fil, ctl, tim}) << "without block SND";
        QTest::newRow("cut inside the last block")
            << good.left(good.size() - 1) << "cut short inside block TIM";
        QTest::newRow("cut inside RAM")
            << good.left(14 + 19 + 65547 + 11 + 1000) << "cut short inside block RAM";
        QTest::newRow("a stray byte at the end") << good + "x"
                                                 << "inside a block header";
        QTest::newRow("garbage after the last block")
            << good + QByteArray(64, '\xff') << "no proper name";
        QByteArray badLength = good;
        badLength[14 + 4] = 'x';
        QTest::newRow("bad length digits") << badLength << "no proper length";
        QTest::newRow("cut inside a header") << Snapshot({{"NAM", 8}}) + "VRA:00"
                                             << "inside a block header";
    }
    void checksTheSnapshot()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, cause);
        const unvell::Status checked = unvell::CheckSnapshot(Span(image));
        QVERIFY2(QString::fromStdString(checked.cause()).contains(cause), checked.cause().c_str());
        QCOMPARE(checked.ok(), cause.isEmpty());
    }

    void programWritesImageThenFlag()
    {
        ProgramFolder folder;
        QTemporaryDir states;
        const QByteArray image = MakeImage(StateRecipe());
        const QString path = states.filePath("a  b c.000");
        WriteBytes(path, Pack(image, Packing::Rzip));
        QProcess unvell;
        unvell.start(folder.file("Unvell"), {"-dec", path});
        QVERIFY(unvell.waitForFinished());
        QCOMPARE(unvell.exitCode(), 0);
        QVERIFY(ReadBytes(folder.file("newstate.dec")) == image);
        QVERIFY(QFile::exists(folder.file("flag.unv")));
        QVERIFY(!QFile::exists(folder.file("newstate.dec.part")));
    }

    // On Windows a scanner or an indexer opens a new file for a moment, with no sharing: the
    // decompressor waits that out instead of failing the load.
    void aFileHeldForAMomentIsWaitedFor_data()
    {
        QTest::addColumn<QString>("held");
        QTest::newRow("the state") << QStringLiteral("state.000");
        QTest::newRow("the last run's image") << QStringLiteral("newstate.dec");
        QTest::newRow("the last run's flag") << QStringLiteral("flag.unv");
    }
    void aFileHeldForAMomentIsWaitedFor()
    {
#if defined(Q_OS_WIN)
        QFETCH(QString, held);
        QTemporaryDir folder;
        const QByteArray image = MakeImage(StateRecipe());
        const QString state = folder.filePath("state.000");
        WriteBytes(state, Pack(image, Packing::Gzip));
        WriteBytes(folder.filePath("newstate.dec"), "an image of an earlier run");
        WriteBytes(folder.filePath("flag.unv"), "");
        const HANDLE holder = ::CreateFileW(
            reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(folder.filePath(held)).utf16()),
            GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(holder != INVALID_HANDLE_VALUE);
        std::thread release([holder] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            ::CloseHandle(holder);
        });
        const unvell::Status status = unvell::DecompressToFolder(
            state.toStdWString(), QDir::toNativeSeparators(folder.path()).toStdWString());
        release.join();
        QVERIFY2(status.ok(), status.cause().c_str());
        QVERIFY(ReadBytes(folder.filePath("newstate.dec")) == image);
        QVERIFY(QFile::exists(folder.filePath("flag.unv")));
#else
        QSKIP("POSIX systems have no sharing modes: nobody can hold a file this way");
#endif
    }

    void programJoinsUnquotedWords()
    {
        ProgramFolder folder;
        QTemporaryDir states;
        const QString path = states.filePath("my state file.000");
        WriteBytes(path, Gzip(MakeImage(StateRecipe())));
        QProcess unvell;
        unvell.start(folder.file("Unvell"), QStringList{"-dec"} + path.split(' '));
        QVERIFY(unvell.waitForFinished());
        QCOMPARE(unvell.exitCode(), 0);
        QVERIFY(QFile::exists(folder.file("flag.unv")));
    }

    // An editor names itself in the decompressor's environment. Should it be killed before the
    // decompressor has looked (a moment no timing can rule out), the run must write nothing:
    // the editor's lock is gone, and a later frame may be using the folder.
    void aRunWhoseEditorHasGoneWritesNothing_data()
    {
        QTest::addColumn<QString>("editor");
        QTest::addColumn<bool>("folderHeld");
        QTest::addColumn<bool>("written");
        QTest::newRow("editor ended") << "ended" << true << false;
        QTest::newRow("editor alive, folder not held") << "alive" << false << false;
        QTest::newRow("editor alive, folder held") << "alive" << true << true;
    }
    void aRunWhoseEditorHasGoneWritesNothing()
    {
        QFETCH(QString, editor);
        QFETCH(bool, folderHeld);
        QFETCH(bool, written);
        ProgramFolder folder;
        QTemporaryDir states;
        const QString path = states.filePath("orphan.000");
        WriteBytes(path, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        qint64 pid = QCoreApplication::applicationPid();
        if (editor == "ended") {
            QProcess ended;  // a process that has come and gone: the editor killed meanwhile
            ended.start(folder.file(QString::fromStdString(platform::ProgramFileName("Unvell"))),
                        {"--help"});
            QVERIFY(ended.waitForStarted());
            pid = ended.processId();
            QVERIFY(ended.waitForFinished());
        }
        platform::FileLock frame;
        if (folderHeld)
            QVERIFY(!frame.lockFolderFile(Process::ToNative(folder.file("cindral-editor.lock")),
                                          std::chrono::milliseconds(0)));
        QProcess unvell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CINDRAL_EDITOR_PID", QString::number(pid));
        unvell.setProcessEnvironment(environment);
        unvell.start(folder.file(QString::fromStdString(platform::ProgramFileName("Unvell"))),
                     {"-dec", path});
        QVERIFY(unvell.waitForFinished());
        const QString err = QString::fromUtf8(unvell.readAllStandardError());
        QCOMPARE(unvell.exitCode(), written ? 0 : 1);
        QCOMPARE(QFile::exists(folder.file("flag.unv")), written);
        QCOMPARE(QFile::exists(folder.file("newstate.dec")), written);
        if (!written)
            QVERIFY2(err.contains("the editor that started it has ended"), qPrintable(err));
    }

    void programFailsWithoutWritingAnything_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing") << QByteArray() << false << 1 << "does not exist";
        QTest::newRow("not a state") << QByteArray("text") << true << 3 << "not a save state";
        QTest::newRow("bomb") << Gzip(QByteArray(17 * 1024 * 1024, '\0')) << true << 3 << "16 MiB";
    }
    void programFailsWithoutWritingAnything()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QFETCH(int, exitCode);
        QFETCH(QString, cause);
        ProgramFolder folder;
        QTemporaryDir states;
        const QString path = states.filePath("bad.000");
        if (exists)
            WriteBytes(path, content);
        QProcess unvell;
        unvell.start(folder.file("Unvell"), {"-dec", path});
        QVERIFY(unvell.waitForFinished());
        QCOMPARE(unvell.exitCode(), exitCode);
        const QString err = QString::fromLocal8Bit(unvell.readAllStandardError());
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.startsWith("Unvell: " + path + ": ") && err.contains(cause), qPrintable(err));
        QVERIFY(!folder.hasLeftovers());
    }

    void programUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("no args") << QStringList{} << 2;
        QTest::newRow("no path") << QStringList{"-dec"} << 2;
        QTest::newRow("wrong switch") << QStringList{"-enc", "x"} << 2;
    }
    void programUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess unvell;
        unvell.start(RealUnvell(), args);
        QVERIFY(unvell.waitForFinished());
        QCOMPARE(unvell.exitCode(), exitCode);
        const QByteArray text =
            exitCode == 0 ? unvell.readAllStandardOutput() : unvell.readAllStandardError();
        // The program's own name, "Unvell.exe" on Windows.
        QVERIFY(text.contains(
            "Usage: " + QByteArray::fromStdString(platform::ProgramFileName("Unvell")) +
            " -dec <state path>"));
    }
};

QTEST_GUILESS_MAIN(TestUnvell)
#include "tst_unvell.moc"
