#include "CommandLine.h"
#include "Commands.h"
#include "MemberFields.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace testsupport;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// A patch of the expected image: bytes at an offset.
struct Patch {
    qint64 offset;
    QByteArray bytes;
};

}  // namespace

Q_DECLARE_METATYPE(QList<Patch>)

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_states;
    QTemporaryDir m_userData;  // backups land here, not in the user's own data folder
    std::unique_ptr<ProgramFolder> m_folder;
    QString m_party;

    // cindral-party's own Run, in this process, with the decompressor of the test's folder.
    Run run(const QStringList& args)
    {
        Run result;
        QTextStream out(&result.out), err(&result.err);
        result.exitCode = cli::Run(args, m_folder->path(), out, err);
        return result;
    }

    // The program itself, for what only a process shows: its exit status.
    Run runProgram(const QStringList& args)
    {
        QProcess p;
        p.start(m_party, args);
        if (!p.waitForFinished(30000))
            qFatal("cindral-party did not finish");
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QString writeState(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_states.filePath(name);
        WriteBytes(path, bytes);
        return path;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_userData.path()));
        m_folder = std::make_unique<ProgramFolder>();
        m_party = m_folder->addProgram(QStringLiteral(CINDRAL_PARTY_BINARY));
    }

    void showLeavesTheStateAlone_data() { AddEveryLayoutAndPacking(); }
    void showLeavesTheStateAlone()
    {
        QFETCH(Layout, layout);
        QFETCH(Packing, packing);
        StateRecipe recipe;
        recipe.layout = layout;
        recipe.gold = 31337;
        const QByteArray packed = Pack(MakeImage(recipe), packing);
        const QString path = writeState("show me.000", packed);

        const Run text = run({"show", path});
        QCOMPARE(text.exitCode, 0);
        QVERIFY(text.out.contains("Gold: 31337"));
        QVERIFY(text.out.contains("Slot 3: Kael"));
        QVERIFY(text.out.contains("Status 4 (No Ailments: no)"));

        const Run json = run({"show", path, "--json"});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(root.value("file").toString(), path);
        QCOMPARE(root.value("gold").toInt(), 31337);
        const QJsonArray members = root.value("members").toArray();
        QCOMPARE(members.size(), 4);
        const QJsonObject sif = members[3].toObject();
        QCOMPARE(sif.value("slot").toInt(), 4);
        QCOMPARE(sif.value("name").toString(), QStringLiteral("Sif/"));
        QCOMPARE(sif.value("exp").toInt(), 48345);
        QCOMPARE(sif.value("hpl").toInt(), 544);
        QCOMPARE(sif.value("hpr").toInt(), 584);
        QCOMPARE(sif.value("def").toInt(), 126);
        QCOMPARE(members[2].toObject().value("status").toInt(), 4);
        QCOMPARE(ReadBytes(path), packed);
        QVERIFY(!m_folder->hasLeftovers());
    }

    void setWritesExactlyTheEdits_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<Patch>>("patches");
        QTest::addColumn<QStringList>("report");
        const qint64 r1 = 72832, r2 = 72992, r3 = 73152, r4 = 73312;
        QTest::newRow("in range") << QStringList{"--slot", "1", "level=42", "str=200", "hpl=999"}
                                  << QList<Patch>{{r1 + 10, "\x2A"},
                                                  {r1 + 23, "\xC8"},
                                                  {r1 + 14, QByteArray("\xE7\x03", 2)}}
                                  << QStringList{"slot 1 level: 17 -> 42", "slot 1 str: 21 -> 200"};
        QTest::newRow("beyond limits")
            << QStringList{"--slot", "2", "level=300", "exp=100000", "atk=5000"}
            << QList<Patch>{{r2 + 10, "\xFF"},
                            {r2 + 20, "\x9F\x86\x01"},
                            {r2 + 29, QByteArray("\xE7\x03", 2)}}
            << QStringList{"slot 2 level: 24 -> 255 (clamped from \"300\")"};
        QTest::newRow("negative") << QStringList{"--slot", "3", "def=-5"}
                                  << QList<Patch>{{r3 + 31, QByteArray("\0\0", 2)}}
                                  << QStringList{"slot 3 def: 117 -> 0 (clamped from \"-5\")"};
        QTest::newRow("fractions to even")
            << QStringList{"--slot", "4", "vig=2.5", "wis=3.5", "luck=254.5"}
            << QList<Patch>{{r4 + 24, "\x02"}, {r4 + 25, "\x04"}, {r4 + 28, "\xFE"}}
            << QStringList{"slot 4 wis: 26 -> 4"};
        QTest::newRow("blanks around numbers")
            << QStringList{"--slot", "1", "str= 5", "vig=6 ", "wis=\t7\t"}
            << QList<Patch>{{r1 + 23, "\x05"}, {r1 + 24, "\x06"}, {r1 + 25, "\x07"}}
            << QStringList{"slot 1 str: 21 -> 5\n"};
        QTest::newRow("gold alone")
            << QStringList{"--max-gold"} << QList<Patch>{{89184, "\x3F\x42\x0F"}}
            << QStringList{"gold: 12345 -> 999999"};
        QTest::newRow("sign and point") << QStringList{"--slot", "1", "mag=+20", "int=15."}
                                        << QList<Patch>{{r1 + 27, "\x14"}, {r1 + 33, "\x0F"}}
                                        << QStringList{"slot 1 mag: 25 -> 20"};
        QTest::newRow("lower case and slash")
            << QStringList{"--slot", "2", "name=al/x"} << QList<Patch>{{r2, "\x81\x8C\xBE\x98"}}
            << QStringList{"slot 2 name: Orin -> al/x"};
        QTest::newRow("space and short")
            << QStringList{"--slot", "3", "name=A B"}
            << QList<Patch>{{r3, QByteArray("\xC1\0\xC2\0", 4)}} << QStringList{};
        QTest::newRow("long name cut to four")
            << QStringList{"--slot", "1", "name=Zachary"} << QList<Patch>{{r1, "\xDA\x81\x83\x88"}}
            << QStringList{"(clamped from \"Zachary\")"};
        QTest::newRow("ailments") << QStringList{"--slot", "3", "noailments=1",
                                                 "--slot", "1", "noailments=0"}
                                  << QList<Patch>{{r3 + 9, QByteArray("\0", 1)}, {r1 + 9, "\x20"}}
                                  << QStringList{};
        QTest::newRow("several slots and gold")
            << QStringList{"--slot", "1", "act=9", "--slot", "4", "fate=8", "--max-gold"}
            << QList<Patch>{{r1 + 34, "\x09"}, {r4 + 35, "\x08"}, {89184, "\x3F\x42\x0F"}}
            << QStringList{"gold: 12345 -> 999999"};
    }
    void setWritesExactlyTheEdits()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<Patch>, patches);
        QFETCH(QStringList, report);
        const QByteArray image = MakeImage(StateRecipe());
        const QString path = writeState("set.000", Pack(image, Packing::Gzip));
        const Run result = run(QStringList{"set", path} + args);
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        for (const QString& line : report)
            QVERIFY2(result.out.contains(line), qPrintable(result.out));
        QByteArray expected = image;
        for (const Patch& patch : patches)
            expected.replace(patch.offset, patch.bytes.size(), patch.bytes);
        QVERIFY(ReadBytes(path) == expected);
        QVERIFY(!m_folder->hasLeftovers());
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("file");  // "missing", "garbage", "readonly" or a normal state
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file")
            << QStringList{"show", "@"} << "missing" << 1 << "does not exist";
        QTest::newRow("not a state") << QStringList{"show", "@"} << "garbage" << 1 << "not a state";
        QTest::newRow("unknown field") << QStringList{"set", "@", "--slot", "1", "gold=5"} << ""
                                       << 2 << "unknown field \"gold\"";
        QTest::newRow("slot 0") << QStringList{"set", "@", "--slot", "0", "str=5"} << "" << 2
                                << "no slot \"0\"";
        QTest::newRow("slot 5") << QStringList{"set", "@", "--slot", "5", "str=5"} << "" << 2
                                << "no slot \"5\"";
        QTest::newRow("field before slot")
            << QStringList{"set", "@", "str=5"} << "" << 2 << "before any --slot";
        QTest::newRow("no edits") << QStringList{"set", "@"} << "" << 2 << "at least one --slot";
        QTest::newRow("non-Latin-1 name")
            << QStringList{"set", "@", "--slot", "1", QString::fromUtf8("name=\u20AC")} << "" << 2
            << "cannot store";
        QTest::newRow("bad flag") << QStringList{"set", "@", "--slot", "1", "noailments=maybe"}
                                  << "" << 2 << "takes 1 or 0";
        QTest::newRow("no command") << QStringList{} << "" << 2 << "no command";
        QTest::newRow("unknown command") << QStringList{"frob"} << "" << 2 << "unknown command";
        QTest::newRow("letters for a number") << QStringList{"set", "@", "--slot", "1", "exp=abc"}
                                              << "" << 2 << "exp takes a number, not \"abc\"";
        QTest::newRow("empty number") << QStringList{"set", "@", "--slot", "1", "level="} << "" << 2
                                      << "level takes a number";
        QTest::newRow("exponent") << QStringList{"set", "@", "--slot", "1", "int=1e2"} << "" << 2
                                  << "int takes a number";
        QTest::newRow("number with letters") << QStringList{"set", "@", "--slot", "1", "int=12abc"}
                                             << "" << 2 << "int takes a number";
        QTest::newRow("one close field") << QStringList{"set", "@", "--slot", "1", "levle=5"} << ""
                                         << 2 << "unknown field \"levle\"; did you mean \"level\"?";
        QTest::newRow("one letter off") << QStringList{"set", "@", "--slot", "1", "agi=5"} << ""
                                        << 2 << "did you mean \"agl\"?";
        QTest::newRow("two as close") << QStringList{"set", "@", "--slot", "1", "hp=5"} << "" << 2
                                      << "unknown field \"hp\"; the fields are: ";
        QTest::newRow("options after --")
            << QStringList{"show", "--", "@", "--json"} << "" << 2 << "unexpected \"--json\"";
        QTest::newRow("unknown option")
            << QStringList{"show", "@", "--frob"} << "" << 2 << "unknown option \"--frob\"";
        QTest::newRow("no state") << QStringList{"show", "--json"} << "" << 2
                                  << "show needs the path";
        QTest::newRow("read-only state")
            << QStringList{"set", "@", "--slot", "1", "str=5"} << "readonly" << 1 << "read-only";
    }
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, file);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QByteArray content = Pack(MakeImage(StateRecipe()), Packing::Gzip);
        if (file == "garbage")
            content = "nothing to see";
        QString path = writeState("bad.000", content);
        if (file == "missing")
            path = m_states.filePath("nowhere.000");
        if (file == "readonly")
            QFile::setPermissions(path, QFile::ReadOwner);
        args.replaceInStrings(QRegularExpression("^@$"), path);
        const Run result = run(args);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(result.err.startsWith("cindral-party: "));
        if (exitCode == 2)
            QVERIFY(result.err.endsWith("\nTry 'cindral-party --help' for more information.\n"));
        QCOMPARE(result.err.count('\n'), exitCode == 2 ? 2 : 1);
        if (file != "missing")
            QCOMPARE(ReadBytes(path), content);
        QVERIFY(result.out.isEmpty());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!m_folder->hasLeftovers());
    }

    void backupsListAndRestore_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain name") << QStringLiteral("kept.000");
        // The backup's name holds the state's: opened by that name on every system.
        QTest::newRow("name beyond ASCII") << QStringLiteral("gardée été.000");
    }
    void backupsListAndRestore()
    {
        QFETCH(QString, name);
        const QString path = writeState(name, Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const QByteArray original = ReadBytes(path);
        QCOMPARE(run({"backups", path}).out, "No backups of " + path + " yet.\n");
        QCOMPARE(run({"set", path, "--slot", "1", "str=1"}).exitCode, 0);
        QCOMPARE(run({"set", path, "--slot", "1", "str=2", "--no-backup"}).exitCode, 0);
        QCOMPARE(run({"set", path, "--slot", "1", "str=3"}).exitCode, 0);

        const QStringList lines = run({"backups", path}).out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);  // the set with --no-backup kept none
        QVERIFY2(lines[0].startsWith("  1  ") && lines[1].startsWith("  2  "),
                 qPrintable(lines.join('\n')));
        QVERIFY(lines[1].contains(QString::number(original.size()) + " bytes"));
        QVERIFY(lines[1].contains(
            QDir::toNativeSeparators(m_userData.path() + "/cindral-editor/backups/" + name + "-")));

        const Run restored = run({"restore", path, "2"});
        QVERIFY2(restored.exitCode == 0, qPrintable(restored.err));
        QCOMPARE(ReadBytes(path), original);
        QCOMPARE(run({"backups", path}).out.count('\n'), 3);  // what it replaced is kept too
        QCOMPARE(run({"restore", path, "--no-backup"}).exitCode, 0);
        QCOMPARE(ReadBytes(path).at(72832 + 23), char(3));  // the newest: what the restore replaced
        QCOMPARE(run({"backups", path}).out.count('\n'), 3);
        const Run missing = run({"restore", path, "9"});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.contains("no backup 9"), qPrintable(missing.err));
    }

    void parsesOnceIntoTypedEdits()
    {
        const cli::Parsed parsed = cli::ParseCommandLine(
            {"set", "s.000", "--slot", "2", "NAME=Ab", "noailments=Yes", "--slot", "4", "luck=7",
             "noailments=false", "--max-gold", "--no-backup"});
        QVERIFY2(parsed, qPrintable(parsed.failure().message()));
        const cli::Request& r = parsed.value();
        QCOMPARE(r.verb, cli::Verb::Set);
        QCOMPARE(r.statePath, QStringLiteral("s.000"));
        QVERIFY(r.maxGold && !r.backup);
        QCOMPARE(r.groups.size(), 2);
        QCOMPARE(r.groups[0].slot.number(), 2);
        QCOMPARE(r.groups[0].edits[0].kind, cli::FieldEdit::Kind::Name);
        QCOMPARE(r.groups[0].edits[0].value, QStringLiteral("Ab"));
        QCOMPARE(r.groups[0].edits[1].kind, cli::FieldEdit::Kind::NoAilments);
        QVERIFY(r.groups[0].edits[1].noAilments);
        QCOMPARE(r.groups[1].edits[0].kind, cli::FieldEdit::Kind::Numeric);
        QCOMPARE(r.groups[1].edits[0].numeric->field, Process::NumericField::Luck);
        QVERIFY(!r.groups[1].edits[1].noAilments);

        const cli::Parsed restore = cli::ParseCommandLine({"restore", "s.000", "3"});
        QVERIFY(restore && restore.value().verb == cli::Verb::Restore);
        QCOMPARE(restore.value().backupNumber, 3);
        QVERIFY(!cli::ParseCommandLine({"restore", "s.000", "0"}));
        QVERIFY(!cli::ParseCommandLine({"backups", "s.000", "extra"}));

        // After -- every word is an operand; options and --slot come before it.
        const cli::Parsed dashed =
            cli::ParseCommandLine({"set", "--slot", "3", "--", "-s.000", "--x=1"});
        QVERIFY(!dashed);
        QVERIFY2(dashed.failure().message().contains("unknown field \"--x\""),
                 qPrintable(dashed.failure().message()));
        const cli::Parsed gold = cli::ParseCommandLine({"set", "--", "-s.000", "--max-gold"});
        QVERIFY(!gold);
        const cli::Parsed goldAlone = cli::ParseCommandLine({"set", "s.000", "--max-gold"});
        QVERIFY2(goldAlone && goldAlone.value().groups.isEmpty(),
                 qPrintable(goldAlone.failure().message()));
    }

    void dashPathDryRunAndJson()
    {
        const QByteArray packed = Pack(MakeImage(StateRecipe()), Packing::Gzip);
        const QString path = writeState("-dash.000", packed);
        QDir::setCurrent(m_states.path());
        const Run shown = run({"show", "--json", "--", "-dash.000"});
        QVERIFY2(shown.exitCode == 0, qPrintable(shown.err));
        QCOMPARE(QJsonDocument::fromJson(shown.out.toUtf8()).object().value("schema").toInt(), 1);

        const Run dry =
            run({"set", "--dry-run", "--max-gold", "--slot", "2", "--", "-dash.000", "level=300"});
        QVERIFY2(dry.exitCode == 0, qPrintable(dry.err));
        QVERIFY2(dry.out.contains("slot 2 level: 24 -> 255 (clamped from \"300\")") &&
                     dry.out.contains("Nothing was written"),
                 qPrintable(dry.out));
        QCOMPARE(ReadBytes(path), packed);  // not even turned into the plain image

        const Run json = run({"set", "--json", "--max-gold", "--slot", "2", "--", "-dash.000",
                              "level=300", "noailments=1", "name=Al"});
        QVERIFY2(json.exitCode == 0, qPrintable(json.err));
        QVERIFY2(json.err.isEmpty(), qPrintable(json.err));
        const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(root.value("schema").toInt(), 2);
        QVERIFY(root.value("saved").toBool());
        const QJsonArray changes = root.value("changes").toArray();
        const QJsonObject change = changes.at(0).toObject();
        QCOMPARE(change.value("slot").toInt(), 2);
        QCOMPARE(change.value("field").toString(), QStringLiteral("level"));
        QCOMPARE(change.value("before"), QJsonValue(24));
        QCOMPARE(change.value("after"), QJsonValue(255));
        QVERIFY(change.value("clamped").toBool());
        QVERIFY(change.value("changed").toBool());
        const QJsonObject ailments = changes.at(1).toObject();
        QCOMPARE(ailments.value("before"), QJsonValue(true));  // slot 2's Status is 0
        QCOMPARE(ailments.value("after"), QJsonValue(true));
        QCOMPARE(ailments.value("changed"), QJsonValue(false));
        const QJsonObject name = changes.at(2).toObject();
        QCOMPARE(name.value("before"), QJsonValue("Orin"));
        QCOMPARE(name.value("after"), QJsonValue("Al"));
        QCOMPARE(name.value("changed"), QJsonValue(false));
        QCOMPARE(root.value("gold").toObject().value("after").toInt(), 999999);
        QCOMPARE(std::uint8_t(ReadBytes(path).at(72992 + 10)), 255);
    }

    void nameNotes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");  // as show prints it
        QTest::addColumn<QString>("note");    // empty: none
        QTest::newRow("the game's letters") << "Al/x"
                                            << "Al/x"
                                            << "";
        QTest::newRow("short") << "Bo"
                               << "Bo"
                               << "";
        QTest::newRow("space inside")
            << "A B"
            << "A"
            << "name \"A B\" is stored as \"A\" (bytes C1 00 C2 00): a space ends";
        QTest::newRow("five letters")
            << "Zacha"
            << "Zach"
            << "is stored as \"Zach\" (bytes DA 81 83 88): a name has four";
        QTest::newRow("digit") << "Ab1"
                               << "Ab1"
                               << "\"1\" is not among the game's letters";
        QTest::newRow("accent") << QString::fromUtf8("R\u00e9a") << QString::fromUtf8("R\u00e9a")
                                << "(bytes D2 E9 81 00)";
    }
    void nameNotes()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, note);
        const QString path = writeState("names.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const Run result = run({"set", path, "--slot", "1", "name=" + typed, "--json"});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        const QJsonObject change = QJsonDocument::fromJson(result.out.toUtf8())
                                       .object()
                                       .value("changes")
                                       .toArray()
                                       .at(0)
                                       .toObject();
        QCOMPARE(change.value("after").toString(), stored);
        QCOMPARE(change.value("changed").toBool(), !note.isEmpty());
        if (note.isEmpty()) {
            QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
        } else {
            QVERIFY2(result.err.startsWith("cindral-party: note: slot 1 name \"" + typed + "\""),
                     qPrintable(result.err));
            QVERIFY2(result.err.contains(note), qPrintable(result.err));
            QCOMPARE(result.err.count('\n'), 1);
        }
        QVERIFY(run({"show", path}).out.contains("Slot 1: " + stored + "\n"));
    }

    void everyFieldShowsInTextAndJson()
    {
        // Each field of the table gets a value of its own; show prints every one, both ways.
        const QString path =
            writeState("fields.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        QStringList args{"set", path, "--slot", "3"};
        QMap<QString, int> values;
        int next = 100;
        for (const Process::NumericFieldInfo& info : Process::NumericFields()) {
            values.insert(QLatin1String(info.key), next);
            args << QStringLiteral("%1=%2").arg(QLatin1String(info.key)).arg(next);
            next += 7;
        }
        QVERIFY(next - 7 <= Process::kByteLimit);
        QCOMPARE(run(args).exitCode, 0);
        const QString text = run({"show", path}).out;
        const QString slot3 = text.section("Slot 3:", 1).section("Slot 4:", 0, 0);
        const QJsonObject member =
            QJsonDocument::fromJson(run({"show", "--json", path}).out.toUtf8())
                .object()
                .value("members")
                .toArray()
                .at(2)
                .toObject();
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QVERIFY2(slot3.contains(QStringLiteral(" %1").arg(it.value())),
                     qPrintable(it.key() + " missing from\n" + slot3));
            QCOMPARE(member.value(it.key()).toInt(), it.value());
        }
    }

    void backupsAsJson()
    {
        const QString path =
            writeState("listed.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        const QByteArray packed = ReadBytes(path);
        QCOMPARE(run({"set", path, "--slot", "1", "str=1"}).exitCode, 0);
        QCOMPARE(run({"set", path, "--slot", "1", "str=2"}).exitCode, 0);
        const Run listed = run({"backups", "--json", path});
        QVERIFY2(listed.exitCode == 0, qPrintable(listed.err));
        const QJsonObject root = QJsonDocument::fromJson(listed.out.toUtf8()).object();
        QCOMPARE(root.value("schema"), QJsonValue(1));
        QCOMPARE(root.value("file").toString(), path);
        const QJsonArray backups = root.value("backups").toArray();
        QCOMPARE(backups.size(), 2);
        const QJsonObject oldest = backups.at(1).toObject();
        QCOMPARE(oldest.value("number"), QJsonValue(2));
        QVERIFY(backups.at(0).toObject().value("sequence").toInteger() >
                oldest.value("sequence").toInteger());
        QCOMPARE(oldest.value("size"), QJsonValue(packed.size()));
        QCOMPARE(ReadBytes(oldest.value("path").toString()), packed);
        QVERIFY(QDateTime::fromString(oldest.value("time").toString(), Qt::ISODate).isValid());
        const Run none = run({"backups", "--json", m_states.filePath("never.000")});
        QCOMPARE(QJsonDocument::fromJson(none.out.toUtf8()).object().value("backups"),
                 QJsonValue(QJsonArray()));
    }

    void outputThatCannotBeWritten_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("closedPipe");  // else a full disk
        QTest::addColumn<QString>("reason");
        QTest::newRow("show, full disk") << QStringList{"show", "@"} << false << "No space left";
        QTest::newRow("help, full disk") << QStringList{"--help"} << false << "No space left";
        QTest::newRow("help, closed pipe") << QStringList{"--help"} << true << "Broken pipe";
        QTest::newRow("version, closed pipe") << QStringList{"-V"} << true << "Broken pipe";
    }
    void outputThatCannotBeWritten()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("/dev/full and a pipe closed in the child are POSIX's");
#else
        QFETCH(QStringList, args);
        QFETCH(bool, closedPipe);
        QFETCH(QString, reason);
        const QString path = writeState("out.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        args.replaceInStrings(QRegularExpression("^@$"), path);
        QProcess p;
        if (closedPipe) {
            // Standard output is a pipe whose reader is gone before the program writes.
            p.setChildProcessModifier([] {
                int ends[2];
                if (::pipe(ends) == 0) {
                    ::close(ends[0]);
                    ::dup2(ends[1], STDOUT_FILENO);
                    ::close(ends[1]);
                }
            });
        } else {
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
        }
        p.start(m_party, args);
        QVERIFY(p.waitForFinished(30000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // not killed by SIGPIPE
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.startsWith("cindral-party: cannot write the output: " + reason),
                 qPrintable(err));
        QCOMPARE(err.count('\n'), 1);
#endif
    }

    void outputThatCannotBeWrittenInProcess()
    {
        QBuffer readOnly;
        readOnly.open(QIODevice::ReadOnly);
        QTextStream out(&readOnly);
        QString errText;
        QTextStream err(&errText);
        QCOMPARE(cli::Run({"--version"}, m_folder->path(), out, err), 1);
        QVERIFY2(errText.startsWith("cindral-party: cannot write the output"), qPrintable(errText));
    }

    void exitStatusesAsAProgram()
    {
        const QString path =
            writeState("status.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        QCOMPARE(runProgram({"show", path}).exitCode, 0);
        QCOMPARE(runProgram({"show", m_states.filePath("missing.000")}).exitCode, 1);
        const Run usage = runProgram({"frob"});
        QCOMPARE(usage.exitCode, 2);
        QVERIFY(usage.err.startsWith("cindral-party: unknown command"));
    }

    void fewDescriptorsGiveOneLine()
    {
        // However few files it may open, the program says what failed in one line (or works).
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' own runtime needs descriptors of its own");
#elif !defined(Q_OS_UNIX)
        QSKIP("a limit on open files is a POSIX resource limit");
#else
        const QString path = writeState("fds.000", Pack(MakeImage(StateRecipe()), Packing::Gzip));
        for (int limit = 4; limit <= 16; ++limit) {
            QProcess p;
            p.setChildProcessModifier([limit] {
                const rlimit r{rlim_t(limit), rlim_t(limit)};
                ::setrlimit(RLIMIT_NOFILE, &r);
            });
            p.start(m_party, {"set", path, "--slot", "1", "level=5"});
            QVERIFY(p.waitForFinished(30000));
            const QString err = QString::fromUtf8(p.readAllStandardError());
            if (p.exitCode() == 0)
                QVERIFY2(err.isEmpty(), qPrintable(err));
            else
                QVERIFY2(err.count('\n') == 1 && err.endsWith('\n'),
                         qPrintable(QString("%1 files: %2").arg(limit).arg(err)));
        }
#endif
    }

    void helpAndVersion()
    {
        const Run help = run({"--help"});
        QCOMPARE(help.exitCode, 0);
        // Each way the usage shows set is taken as shown, with a state whose name starts with
        // a dash wherever "--" allows one: the words are right (status 1, the state is missing),
        // never wrong (status 2).
        int forms = 0;
        for (QString line : help.out.split('\n')) {
            line = line.trimmed();
            if (!line.startsWith("cindral-party set "))
                continue;
            ++forms;
            const bool ended = line.contains("[--]");
            line.replace("[--]", "--").replace("[OPTIONS]", "--dry-run");
            line.remove(QRegularExpression(R"(\[[^\]]*\])"));
            line.replace("STATE", ended ? "-missing.000" : "missing.000")
                .replace("--slot N", "--slot 2")
                .replace("FIELD=VALUE...", "level=5");
            const Run set = run(line.split(' ', Qt::SkipEmptyParts).mid(1));
            QVERIFY2(set.exitCode == 1 && set.err.contains("missing.000"),
                     qPrintable(line + ": " + set.err));
        }
        QCOMPARE(forms, 2);
        QCOMPARE(run({"-h"}).out, help.out);
        QCOMPARE(run({"set", "--help"}).out, help.out);
        QCOMPARE(run({"-V"}).out, run({"--version"}).out);
        const Run version = run({"--version"});
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("cindral-party 1."));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
