#include "Centring.h"
#include "EditorLayout.h"
#include "GoldCaption.h"
#include "Host.h"
#include "Look.h"
#include "MemberFields.h"
#include "NameCodec.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"
#include "frmAbout.h"
#include "frmEditor.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QXmlStreamReader>

#include <algorithm>

using forms::BoxName;
using namespace Process;
using namespace testsupport;
using forms::frmEditor;

class TestEditor : public QObject
{
    Q_OBJECT

    QTemporaryDir m_states;
    std::unique_ptr<ProgramFolder> m_folder;
    std::unique_ptr<PartyState> m_party;
    std::unique_ptr<frmEditor> m_editor;
    QStringList m_answers;  // what the open dialog returns, one per use
    int m_dialogs = 0;
    QStringList m_errors;

    template <class T> T* w(const QString& name) const
    {
        T* widget = m_editor->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    QLineEdit* box(const QString& name) const { return w<QLineEdit>(name); }
    QAction* action(const QString& name) const { return w<QAction>(name); }

    QString writeState(const QString& name, const StateRecipe& recipe = StateRecipe(),
                       Packing packing = Packing::Gzip)
    {
        const QString path = m_states.filePath(name);
        WriteBytes(path, Pack(MakeImage(recipe), packing));
        return path;
    }

    // Loads and saves run beside the window: these wait until the one they start has ended.
    void load(const QString& path)
    {
        m_answers << path;
        action("mnuFileLoad")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!m_editor->busy(), 60000);
    }
    void save()
    {
        action("mnuFileSave")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!m_editor->busy(), 60000);
    }

    void selectTab(int index)
    {
        QTabBar* bar = w<QTabWidget>("tbsOptions")->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }

    // Replaces the box's text the way a user does: select all, delete, type.
    void retype(QLineEdit* edit, const QString& keys)
    {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, keys);
    }

    // Asks the platform for the keyboard focus: without a window manager nobody else gives it
    // (an X server then takes the request itself; offscreen grants it at once).
    void activateEditor()
    {
        m_editor->activateWindow();
        if (!QTest::qWaitForWindowActive(m_editor.get())) {
            // The platform would not: Qt's own, deprecated since Qt 6.5 for programs, which
            // have the platform to ask.
            QT_WARNING_PUSH
            QT_WARNING_DISABLE_DEPRECATED
            QApplication::setActiveWindow(m_editor.get());
            QT_WARNING_POP
        }
    }

private slots:
    void initTestCase() { forms::InstallFontSubstitutions(); }

    void init()
    {
        m_folder = std::make_unique<ProgramFolder>();
        m_party = std::make_unique<PartyState>();
        m_answers.clear();
        m_errors.clear();
        m_dialogs = 0;
        forms::EditorSeams seams;
        seams.chooseStateFile = [this](QWidget*, const QString&) {
            ++m_dialogs;
            return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        };
        seams.showError = [this](QWidget*, const QString&, const QString& message) {
            m_errors << message;
        };
        m_editor = std::make_unique<frmEditor>(*m_party, m_folder->path(), seams);
        m_editor->stagingContext().backupFolder = m_folder->backupFolder();
        m_editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
        activateEditor();
    }

    void cleanup()
    {
        m_editor.reset();
        m_party.reset();
        m_folder.reset();
    }

    void startState()
    {
        QCOMPARE(m_editor->windowTitle(), QStringLiteral("Cindral I Editor Snes9x"));
        QCOMPARE(m_editor->centralWidget()->size(), QSize(323, 251));
        QCOMPARE(m_editor->minimumSize(), m_editor->maximumSize());
        QVERIFY(!(m_editor->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!action("mnuFileSave")->isEnabled());
        QVERIFY(!w<QWidget>("picOptions")->isEnabled());
        auto* tabs = w<QTabWidget>("tbsOptions");
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->currentIndex(), 0);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(tabs->tabText(i), QStringLiteral("P.%1").arg(i + 1));
        for (const NumericFieldInfo& info : NumericFields())
            QVERIFY(box(BoxName(info.field))->text().isEmpty());
        QVERIFY(box("txtName")->text().isEmpty());
        QVERIFY(!w<QCheckBox>("chkAilments")->isChecked());
        QCOMPARE(w<QCheckBox>("chkAilments")->text(), QStringLiteral("No Ailments"));
        QCOMPARE(w<QPushButton>("cmdGold")->text(), QStringLiteral("&Max Out Gold - NO"));
        QCOMPARE(w<QLabel>("Label1_0")->text(), QStringLiteral("Level:"));
        QCOMPARE(w<QLabel>("Label1_15")->text(), QStringLiteral("Exp:"));
        QCOMPARE(w<QLabel>("Label1_9")->text(), QStringLiteral("Lck:"));
        QVERIFY(w<QWidget>("Line1_2"));
        QCOMPARE(w<QWidget>("txtExp")->geometry(), QRect(240, 128, 41, 17));
        QCOMPARE(w<QWidget>("picOptions")->geometry(), QRect(16, 40, 281, 193));
        QCOMPARE(box("txtName")->maxLength(), 4);
        QVERIFY(tabs->hasFocus());
        QCOMPARE(m_party->selectedSlot, 0);
    }

    void beforeLoadOnlyTheStripAndLoadRespond()
    {
        selectTab(2);
        QCOMPARE(w<QTabWidget>("tbsOptions")->currentIndex(), 2);
        QCOMPARE(m_party->selectedSlot, 0);
        QVERIFY(box("txtLevel")->text().isEmpty());
        QTest::keyClick(m_editor.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_dialogs, 0);
        QTest::keyClick(m_editor.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_dialogs, 1);  // cancelled: nothing else happens
        QVERIFY(!action("mnuFileSave")->isEnabled());
        QVERIFY(!w<QWidget>("picOptions")->isEnabled());
    }

    void loadShowsTheSelectedMember()
    {
        selectTab(1);
        load(writeState("show.000"));
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
        QVERIFY(action("mnuFileSave")->isEnabled());
        QVERIFY(w<QWidget>("picOptions")->isEnabled());
        QCOMPARE(m_party->selectedSlot, 2);
        QCOMPARE(box("txtName")->text(), QStringLiteral("Orin"));
        QCOMPARE(box("txtExp")->text(), QStringLiteral("24345"));
        QCOMPARE(box("txtLevel")->text(), QStringLiteral("24"));
        QCOMPARE(box("txtHPL")->text(), QStringLiteral("422"));
        QCOMPARE(box("txtHPR")->text(), QStringLiteral("462"));
        QCOMPARE(box("txtAtk")->text(), QStringLiteral("122"));
        QVERIFY(w<QCheckBox>("chkAilments")->isChecked());
        selectTab(2);  // slot 3 has Status 4
        QCOMPARE(box("txtName")->text(), QStringLiteral("Kael"));
        QVERIFY(!w<QCheckBox>("chkAilments")->isChecked());
        QCOMPARE(m_party->block[S(3)].Status, 4);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void typingIsClampedAndStored_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        QTest::newRow("300 level") << "txtLevel"
                                   << "300"
                                   << "255" << 255;
        QTest::newRow("-5 level") << "txtLevel"
                                  << "-5"
                                  << "0" << 0;
        QTest::newRow("lone minus") << "txtAtk"
                                    << "-"
                                    << "-" << 0;
        QTest::newRow("12abc") << "txtStr"
                               << "12abc"
                               << "12abc" << 12;
        QTest::newRow("letters only") << "txtVig"
                                      << "abc"
                                      << "abc" << 0;
        QTest::newRow("254.5 to even") << "txtWis"
                                       << "254.5"
                                       << "254.5" << 254;
        QTest::newRow("1.5 to even") << "txtAgl"
                                     << "1.5"
                                     << "1.5" << 2;
        QTest::newRow("255.4") << "txtMag"
                               << "255.4"
                               << "255" << 255;
        QTest::newRow("1000 hp") << "txtHPL"
                                 << "1000"
                                 << "999" << 999;
        QTest::newRow("999 hp") << "txtHPR"
                                << "999"
                                << "999" << 999;
        QTest::newRow("exp over limit") << "txtExp"
                                        << "100000"
                                        << "99999" << 99999;
        QTest::newRow("cleared") << "txtDef"
                                 << ""
                                 << "" << 0;
        QTest::newRow("fate") << "txtFate"
                              << "77"
                              << "77" << 77;
    }
    void typingIsClampedAndStored()
    {
        QFETCH(QString, boxName);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(int, stored);
        load(writeState("type.000"));
        const PartyState before = *m_party;
        retype(box(boxName), keys);
        QCOMPARE(box(boxName)->text(), text);
        const NumericFieldInfo* info = nullptr;
        for (const NumericFieldInfo& candidate : NumericFields())
            if (boxName == BoxName(candidate.field))
                info = &candidate;
        QVERIFY(info);
        QCOMPARE(FieldValue(*m_party, S(1), info->field), stored);
        // Only that field of slot 1 changed.
        PartyState expected = before;
        SetFieldValue(expected, S(1), info->field, stored);
        QVERIFY(m_party->block == expected.block);
        QVERIFY(m_party->experience == expected.experience);
    }

    // Written out by hand, not through the field table, so that a table that ties a box to the
    // wrong field fails here.
    void everyBoxWritesItsOwnBytes_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("offset");  // within the record
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("level") << "txtLevel"
                               << "200" << 10 << QByteArray("\xC8");
        QTest::newRow("hp right") << "txtHPR"
                                  << "777" << 12 << QByteArray("\x09\x03");
        QTest::newRow("hp left") << "txtHPL"
                                 << "778" << 14 << QByteArray("\x0A\x03");
        QTest::newRow("ap right") << "txtAPR"
                                  << "779" << 16 << QByteArray("\x0B\x03");
        QTest::newRow("ap left") << "txtAPL"
                                 << "780" << 18 << QByteArray("\x0C\x03");
        QTest::newRow("exp") << "txtExp"
                             << "70000" << 20 << QByteArray("\x70\x11\x01");
        QTest::newRow("str") << "txtStr"
                             << "201" << 23 << QByteArray("\xC9");
        QTest::newRow("vig") << "txtVig"
                             << "202" << 24 << QByteArray("\xCA");
        QTest::newRow("wis") << "txtWis"
                             << "203" << 25 << QByteArray("\xCB");
        QTest::newRow("agl") << "txtAgl"
                             << "204" << 26 << QByteArray("\xCC");
        QTest::newRow("mag") << "txtMag"
                             << "205" << 27 << QByteArray("\xCD");
        QTest::newRow("luck") << "txtLuck"
                              << "206" << 28 << QByteArray("\xCE");
        QTest::newRow("atk") << "txtAtk"
                             << "781" << 29 << QByteArray("\x0D\x03");
        QTest::newRow("def") << "txtDef"
                             << "782" << 31 << QByteArray("\x0E\x03");
        QTest::newRow("int") << "txtInt"
                             << "207" << 33 << QByteArray("\xCF");
        QTest::newRow("act") << "txtAct"
                             << "208" << 34 << QByteArray("\xD0");
        QTest::newRow("fate") << "txtFate"
                              << "209" << 35 << QByteArray("\xD1");
    }
    void everyBoxWritesItsOwnBytes()
    {
        QFETCH(QString, boxName);
        QFETCH(QString, keys);
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        const QByteArray image = MakeImage(StateRecipe());
        const QString path = writeState("box.000");
        load(path);
        selectTab(1);
        retype(box(boxName), keys);
        save();
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
        QByteArray expected = image;
        expected.replace(72992 + offset, bytes.size(), bytes);
        QVERIFY(ReadBytes(path) == expected);
    }

    void levelStoresKeystrokeByKeystroke()
    {
        load(writeState("keys.000"));
        QLineEdit* level = box("txtLevel");
        retype(level, "");
        QList<int> seen;
        for (char c : QByteArray("300")) {
            QTest::keyClick(level, c);
            seen << m_party->block[S(1)].Level;
        }
        QCOMPARE(seen, (QList<int>{3, 30, 255}));
        QCOMPARE(level->text(), QStringLiteral("255"));
    }

    void nameBoxTakesFourLatin1Characters()
    {
        load(writeState("name.000"));
        QLineEdit* name = box("txtName");
        retype(name, "Abcde");
        QCOMPARE(name->text(), QStringLiteral("Abcd"));
        QCOMPARE(m_party->block[S(1)].Name, (NameField{193, 130, 131, 132}));
        retype(name, "O");
        QTest::sendKeyEvent(QTest::Click, name, Qt::Key_unknown, QString::fromUtf8("\u20AC"), {});
        QTest::keyClicks(name, "x");
        QCOMPARE(name->text(), QStringLiteral("Ox"));
        QCOMPARE(m_party->block[S(1)].Name, (NameField{207, 152, 0, 0}));
        retype(name, "A B");
        QCOMPARE(m_party->block[S(1)].Name, (NameField{193, 0, 194, 0}));
    }

    void editsStayWithTheirSlot()
    {
        load(writeState("slots.000"));
        retype(box("txtStr"), "201");
        selectTab(1);
        QCOMPARE(box("txtStr")->text(), QStringLiteral("22"));
        retype(box("txtStr"), "202");
        retype(box("txtExp"), "5");
        selectTab(0);
        QCOMPARE(box("txtStr")->text(), QStringLiteral("201"));
        QCOMPARE(m_party->block[S(1)].Str, 201);
        QCOMPARE(m_party->block[S(2)].Str, 202);
        QCOMPARE(m_party->experience[S(2)], 5);
        QCOMPARE(m_party->experience[S(1)], 12345);
        QCOMPARE(m_party->block[S(3)].Str, 23);
        QCOMPARE(m_party->block[S(4)].Str, 24);
    }

    void fillingStoresNothing()
    {
        StateRecipe recipe;
        recipe.party[S(2)].HpLeft = 1200;                            // beyond its box's limit
        recipe.party[S(2)].ExpLow = std::uint16_t(150000 & 0xFFFF);  // experience 150000
        recipe.party[S(2)].ExpHigh = std::uint8_t(150000 >> 16);
        recipe.party[S(2)].Name = {65, 32, 193, 255};  // shown "A A", stored otherwise
        load(writeState("fill.000", recipe));
        const PartyState loaded = *m_party;
        for (int tab : {1, 0, 1, 1, 3, 1}) {
            selectTab(tab);
            QVERIFY(m_party->block == loaded.block);
            QVERIFY(m_party->experience == loaded.experience);
        }
        QCOMPARE(box("txtHPL")->text(), QStringLiteral("1200"));
        QCOMPARE(box("txtExp")->text(), QStringLiteral("150000"));
        QCOMPARE(box("txtName")->text(), QStringLiteral("A A"));
    }

    void ailmentsStoreZeroOr32()
    {
        load(writeState("ail.000"));
        selectTab(2);  // Status 4, unchecked
        auto* chk = w<QCheckBox>("chkAilments");
        QTest::mouseClick(chk, Qt::LeftButton, {}, QPoint(5, chk->height() / 2));
        QVERIFY(chk->isChecked());
        QCOMPARE(m_party->block[S(3)].Status, 0);
        QTest::mouseClick(chk, Qt::LeftButton, {}, QPoint(5, chk->height() / 2));
        QCOMPARE(m_party->block[S(3)].Status, 32);
        selectTab(0);
        QCOMPARE(m_party->block[S(1)].Status, 0);
    }

    void goldCaptionCycles()
    {
        load(writeState("gold.000"));
        auto* gold = w<QPushButton>("cmdGold");
        const QStringList expected{"Max Out Gold - OK", "Max Out Gold - NO", "Max Out Gold - OK"};
        for (const QString& caption : expected) {
            QTest::mouseClick(gold, Qt::LeftButton);
            QCOMPARE(gold->text(), caption);
        }
    }

    void altMOnlyWithTheFirstCaption()
    {
        load(writeState("altm.000"));
        auto* gold = w<QPushButton>("cmdGold");
        // A mnemonic presses the button with a short animation, so the click comes a little later.
        QTest::keyClick(m_editor.get(), Qt::Key_M, Qt::AltModifier);
        QTRY_COMPARE(gold->text(), QStringLiteral("Max Out Gold - OK"));
        QTest::keyClick(m_editor.get(), Qt::Key_M, Qt::AltModifier);
        QTest::qWait(300);
        QCOMPARE(gold->text(), QStringLiteral("Max Out Gold - OK"));
    }

    void saveWritesGoldOnlyWhenOn_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::newRow("never clicked") << 0;
        QTest::newRow("on") << 1;
        QTest::newRow("off again") << 2;
    }
    void saveWritesGoldOnlyWhenOn()
    {
        QFETCH(int, clicks);
        const QString path = writeState("gsave.000");
        load(path);
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(w<QPushButton>("cmdGold"), Qt::LeftButton);
        save();
        QVERIFY(m_errors.isEmpty());
        const QByteArray gold = ReadBytes(path).mid(89184, 3);
        QCOMPARE(gold, clicks == 1 ? QByteArray("\x3F\x42\x0F", 3) : QByteArray("\x39\x30\x00", 3));
    }

    void saveWritesTheUsersChangesOntoTheStateAsItIsNow_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("set of other fields") << "set";
        QTest::newRow("set of the same field") << "same";
        QTest::newRow("emulator rewrites the file") << "emulator";
        QTest::newRow("nothing") << "nothing";
    }
    void saveWritesTheUsersChangesOntoTheStateAsItIsNow()
    {
        QFETCH(QString, meanwhile);
        const QString path = writeState("meanwhile.000");
        load(path);
        retype(box("txtLevel"), "42");
        selectTab(1);
        retype(box("txtExp"), "4321");
        QByteArray expected = ReadBytes(path);
        auto setByte = [&](qint64 at, int value) { expected[at] = char(value); };
        if (meanwhile == "set" || meanwhile == "same") {
            // Another program (cindral-party set) edits the state between Load and Save.
            StagingContext other = m_folder->context();
            const Result<StateContents> edited =
                EditState(path, other, false, [&](const StateContents&, PartyState& now) {
                    now.block[S(2)].Luck = 77;
                    now.block[S(1)].Str = 5;
                    if (meanwhile == "same")
                        now.block[S(1)].Level = 10;
                });
            QVERIFY(edited.ok());
            setByte(72992 + 28, 77);
            setByte(72832 + 23, 5);
        } else if (meanwhile == "emulator") {
            StateRecipe newer;
            newer.party = StateRecipe::SampleParty(31);
            newer.gold = 4242;
            newer.seed = 9;
            expected = MakeImage(newer);
            WriteBytes(path, Pack(expected, Packing::Gzip));
        }
        setByte(72832 + 10, 42);                                         // the user's level wins
        expected.replace(72992 + 20, 3, QByteArray("\xE1\x10\x00", 3));  // 4321
        save();
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
        const QByteArray saved = ReadBytes(path);
        QCOMPARE(saved.size(), expected.size());
        for (qsizetype i = 0; i < saved.size(); ++i)
            if (saved[i] != expected[i])
                QFAIL(qPrintable(QStringLiteral("byte %1 differs").arg(i)));
        // The window shows what the file now holds, and a second save writes the same.
        selectTab(0);
        QCOMPARE(box("txtLevel")->text(), QStringLiteral("42"));
        QCOMPARE(box("txtStr")->text(), QString::number(std::uint8_t(expected[72832 + 23])));
        save();
        QVERIFY(ReadBytes(path) == saved);
    }

    void aLoadRunsBesideTheWindow()
    {
        // A 16 MB state keeps the decompressor busy long enough to watch the window meanwhile.
        QByteArray image = MakeImage(StateRecipe());
        while (image.size() < 16000000) {
            QByteArray shot(999999, '\0');
            for (qsizetype i = 0; i < shot.size(); ++i)
                shot[i] = char((i * 7) ^ (i >> 9) ^ (image.size() >> 12));
            image += BlockHeader("SHO", int(shot.size())) + shot;
        }
        const QString path = m_states.filePath("large.000");
        WriteBytes(path, Pack(image, Packing::Gzip));
        int ticksWhileBusy = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ticksWhileBusy += m_editor->busy(); });
        timer.start(5);
        m_answers << path;
        action("mnuFileLoad")->trigger();
        QVERIFY(m_editor->busy());  // the command returned while the load goes on
        QVERIFY(QApplication::overrideCursor() &&
                QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        m_answers << writeState("second.000");
        action("mnuFileLoad")->trigger();  // ignored: one at a time
        QCOMPARE(m_dialogs, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!m_editor->busy(), 120000);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
        QVERIFY(ticksWhileBusy > 0);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(m_editor->stateFileName(), path);
        QCOMPARE(box("txtName")->text(), QStringLiteral("Rhea"));
        QVERIFY(w<QWidget>("picOptions")->isEnabled());
    }

    void aWindowDestroyedDuringALoadLeavesNoBusyPointer()
    {
        m_answers << writeState("leaving.000");
        action("mnuFileLoad")->trigger();
        QVERIFY(m_editor->busy() && QApplication::overrideCursor());
        m_editor.reset();  // waits for the load
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void closeWaitsForTheSave()
    {
        const QString path = writeState("closing.000");
        load(path);
        retype(box("txtLevel"), "77");
        action("mnuFileSave")->trigger();
        QVERIFY(m_editor->busy());
        QVERIFY(!w<QWidget>("picOptions")->isEnabled());  // no edits the save would overwrite
        QVERIFY(!m_editor->close());                      // refused while the save runs
        QVERIFY(m_editor->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!m_editor->busy(), 60000);
        QTRY_VERIFY(!m_editor->isVisible());  // and closed once it has ended
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(std::uint8_t(ReadBytes(path).at(72832 + 10)), 77);
    }

    void failedLoadShowsWhyAndChangesNothing()
    {
        const QString good = writeState("good.000");
        load(good);
        retype(box("txtLuck"), "99");
        selectTab(3);
        const PartyState before = *m_party;
        const QString bad = m_states.filePath("bad.000");
        WriteBytes(bad, "this is not a state");
        load(bad);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors.first().contains(QDir::toNativeSeparators(bad)));
        QVERIFY(m_errors.first().contains("not a state"));
        QVERIFY(m_party->block == before.block);
        QCOMPARE(m_editor->stateFileName(), good);
        QCOMPARE(box("txtName")->text(), QStringLiteral("Sif/"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // Save still goes to the state that was loaded.
        save();
        QCOMPARE(std::uint8_t(ReadBytes(good).at(72832 + 28)), 99);
    }

    void cancelledLoadChangesNothing()
    {
        const QString path = writeState("keep.000");
        load(path);
        selectTab(1);
        const PartyState before = *m_party;
        action("mnuFileLoad")->trigger();  // no answer queued: cancelled
        QCOMPARE(m_dialogs, 2);
        QVERIFY(m_errors.isEmpty());
        QVERIFY(m_party->block == before.block);
        QCOMPARE(m_editor->stateFileName(), path);
        QCOMPARE(box("txtName")->text(), QStringLiteral("Orin"));
    }

    void failedSaveKeepsEditsAndTheFile()
    {
        const QString path = writeState("ro.000");
        load(path);
        retype(box("txtStr"), "199");
        const QByteArray before = ReadBytes(path);
        const auto perms = QFile::permissions(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
        save();
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors.first().contains("read-only"));
        QCOMPARE(ReadBytes(path), before);
        QCOMPARE(m_party->block[S(1)].Str, 199);
        QCOMPARE(box("txtStr")->text(), QStringLiteral("199"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QFile::setPermissions(path, perms);
        save();
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(std::uint8_t(ReadBytes(path).at(72832 + 23)), 199);
    }

    void failedBackupKeepsEditsAndTheFile()
    {
        const QString path = writeState("nobackup.000");
        load(path);
        retype(box("txtStr"), "188");
        const QByteArray before = ReadBytes(path);
        WriteBytes(m_states.filePath("plain file"), "x");
        m_editor->stagingContext().backupFolder = m_states.filePath("plain file/backups");
        save();
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.first().contains("No backup") &&
                     m_errors.first().contains("nothing was lost"),
                 qPrintable(m_errors.first()));
        QCOMPARE(ReadBytes(path), before);
        QCOMPARE(m_party->block[S(1)].Str, 188);
        QCOMPARE(box("txtStr")->text(), QStringLiteral("188"));
    }

    void endToEndThroughTheRealDecompressor()
    {
        const StateRecipe recipe;
        const QByteArray image = MakeImage(recipe);
        const QString path = writeState("e2e.000", recipe, Packing::Rzip);
        load(path);
        retype(box("txtName"), "Zed");
        retype(box("txtLevel"), "99");
        retype(box("txtExp"), "99999");
        selectTab(2);
        QTest::mouseClick(w<QCheckBox>("chkAilments"), Qt::LeftButton, {}, QPoint(5, 8));
        retype(box("txtDef"), "512");
        retype(box("txtAPR"), "1.5");
        selectTab(3);
        retype(box("txtHPL"), "-40");
        QTest::mouseClick(w<QPushButton>("cmdGold"), Qt::LeftButton);
        save();
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));

        QByteArray expected = image;
        expected.replace(72832, 4, QByteArray("\xDA\x85\x84\x00", 4));  // Zed
        expected[72832 + 10] = char(99);
        expected.replace(72852, 3, QByteArray("\x9F\x86\x01", 3));   // 99999
        expected[73152 + 9] = char(0);                               // No Ailments
        expected.replace(73152 + 31, 2, QByteArray("\x00\x02", 2));  // Def 512
        expected.replace(73152 + 16, 2, QByteArray("\x02\x00", 2));  // ApRight 2
        expected.replace(73312 + 14, 2, QByteArray("\x00\x00", 2));  // HpLeft 0
        expected.replace(89184, 3, QByteArray("\x3F\x42\x0F", 3));
        const QByteArray saved = ReadBytes(path);
        QCOMPARE(saved.size(), expected.size());
        for (qsizetype i = 0; i < saved.size(); ++i)
            if (saved[i] != expected[i])
                QFAIL(qPrintable(QStringLiteral("byte %1 differs").arg(i)));
        QVERIFY(!m_folder->hasLeftovers());
    }

    void everyFieldOfTheTableHasAPlacedLabelledBox()
    {
        QList<QWidget*> chain;
        for (QWidget* at = w<QWidget>("tbsOptions")->nextInFocusChain();
             at != w<QWidget>("tbsOptions"); at = at->nextInFocusChain())
            chain << at;
        const QList<QLabel*> labels = m_editor->findChildren<QLabel*>();
        for (const NumericFieldInfo& info : NumericFields()) {
            QLineEdit* edit = box(BoxName(info.field));
            QVERIFY(!edit->geometry().isEmpty());
            QVERIFY(w<QWidget>("picOptions")->rect().contains(edit->geometry()));
            QVERIFY(!edit->accessibleName().isEmpty());
            QVERIFY(chain.contains(edit));
            // HP and AP share one label, on their left box.
            if (!BoxName(info.field).endsWith('R'))
                QVERIFY2(std::any_of(labels.begin(), labels.end(),
                                     [&](QLabel* label) { return label->buddy() == edit; }),
                         qPrintable(BoxName(info.field)));
        }
    }

    void tabOrderRunsFromExpToTheStrip()
    {
        load(writeState("tab.000"));
        const QStringList order{"txtExp", "cmdGold", "txtFate",     "txtAct",  "txtInt",
                                "txtDef", "txtAtk",  "txtLuck",     "txtMag",  "txtAgl",
                                "txtWis", "txtVig",  "txtStr",      "txtAPR",  "txtAPL",
                                "txtHPR", "txtHPL",  "chkAilments", "txtName", "txtLevel"};
        w<QWidget>("txtExp")->setFocus();
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w<QTabWidget>("tbsOptions")->tabBar());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("txtExp"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), w<QTabWidget>("tbsOptions")->tabBar());
    }

    void aboutOpensModallyFromAltA()
    {
        for (int round = 0; round < 2; ++round) {
            // Without a window manager nobody hands activation back after the dialog closes.
            activateEditor();
            QVERIFY(m_editor->isActiveWindow());
            QString title, text;
            bool modal = false, readOnly = false, picture = false;
            QSize size;
            QTimer::singleShot(0, this, [&] {
                QWidget* about = QApplication::activeModalWidget();
                if (!about)
                    return;
                auto closeAbout = qScopeGuard([about] { about->close(); });
                title = about->windowTitle();
                modal = about->isModal();
                size = about->size();
                auto* txt = about->findChild<QPlainTextEdit*>("txtAbout");
                text = txt->toPlainText();
                readOnly = txt->isReadOnly();
                QTest::keyClicks(txt, "typing changes nothing");
                readOnly = readOnly && txt->toPlainText() == text;
                picture = about->findChild<QLabel*>("lblAbout")->text() == "Cindral I Editor" &&
                          !about->findChild<QLabel*>("imgAbout")->pixmap().isNull();
            });
            QTest::keyClick(m_editor.get(), Qt::Key_A, Qt::AltModifier);
            QCOMPARE(title, QStringLiteral("About Cindral I Editor 9x"));
            QVERIFY(modal && readOnly && picture);
            QCOMPARE(size, QSize(339, 250));
            const QStringList lines = forms::frmAbout::AboutText().split("\r\n");
            QCOMPARE(lines.size(), 14);  // thirteen lines, each ending in CR LF
            QVERIFY(lines.last().isEmpty());
            for (const QString& line : lines)
                QVERIFY(line.size() <= 48);
            QCOMPARE(lines.first(), QStringLiteral("Cindral I Editor Snes9x"));
        }
    }

    void escapeClosesAbout()
    {
        activateEditor();
        bool closed = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* about = QApplication::activeModalWidget();
            if (!about)
                return;
            QTest::keyClick(about, Qt::Key_Escape);
            closed = !about->isVisible();
            if (!closed)
                about->close();
        });
        action("mnuFileAbout")->trigger();
        QVERIFY(closed);
    }

    // A look at the windows as a user sees them: set CINDRAL_SCREENSHOT_DIR to keep pictures.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("CINDRAL_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("CINDRAL_SCREENSHOT_DIR is not set");
        load(writeState("look.000"));
        QVERIFY(m_editor->grab().save(dir + "/editor.png"));
        QTimer::singleShot(100, this, [dir] {
            if (QWidget* about = QApplication::activeModalWidget()) {
                about->grab().save(dir + "/about.png");
                about->close();
            }
        });
        action("mnuFileAbout")->trigger();
        QVERIFY(QFile::exists(dir + "/about.png"));
    }

    // The three rules are one pixel high: at a scale that puts them between device pixels they
    // must still be drawn. Qt takes its scale once per process, so each scale is a run of its
    // own (rulesAtThisScale, in a child).
    void rulesShowAtEveryScale()
    {
        if (qEnvironmentVariableIsSet("CINDRAL_RULES_CHILD"))
            QSKIP("this is the child's run");
        if (RunningUnderWine())
            QSKIP("under Wine a QtTest child's report reaches no pipe");
        for (const char* scale : {"1", "1.25", "1.5", "1.75", "2"}) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_SCALE_FACTOR", scale);
            env.insert("CINDRAL_RULES_CHILD", "1");
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {"rulesAtThisScale"});
            QVERIFY(child.waitForFinished(60000));
            const QByteArray output = child.readAllStandardOutput();
            QVERIFY2(child.exitCode() == 0 &&
                         output.contains("PASS   : TestEditor::rulesAtThisScale"),
                     qPrintable(QString("at %1x:\n%2").arg(scale, QString::fromLocal8Bit(output))));
        }
    }
    void rulesAtThisScale()
    {
        if (!qEnvironmentVariableIsSet("CINDRAL_RULES_CHILD"))
            QSKIP("run by rulesShowAtEveryScale with a scale set");
        load(writeState("rules.000"));
        // The whole window, as it is painted on the screen.
        const QImage image = m_editor->grab().toImage();
        const qreal scale = image.devicePixelRatio();
        for (int i = 0; i < 3; ++i) {
            QWidget* line = w<QWidget>(QStringLiteral("Line1_%1").arg(i));
            const QRect where(line->mapTo(m_editor.get(), QPoint(0, 0)), line->size());
            const int x = int(where.center().x() * scale);
            int dark = 0;
            for (int y = int((where.top() - 2) * scale); y <= int((where.bottom() + 2) * scale);
                 ++y)
                dark += qGray(image.pixel(x, qBound(0, y, image.height() - 1))) < 160;
            QVERIFY2(dark > 0,
                     qPrintable(QStringLiteral("rule %1 missing at %2x").arg(i).arg(scale)));
        }
    }

    // Whatever the scale (the run's QT_SCALE_FACTOR here; Windows' display scale under the
    // Windows plugin): no caption is cut, and the values of a loaded party show whole.
    void everyCaptionAndValueShowsWhole()
    {
        load(writeState("whole.000"));
        for (QLabel* label : m_editor->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(m_editor.get()) || label->text().isEmpty() ||
                !label->pixmap().isNull())
                continue;
            QVERIFY2(label->sizeHint().width() <= label->width() + 1 &&
                         label->fontMetrics().height() <= label->height(),
                     qPrintable(QStringLiteral("%1 (%2) cut: needs %3x%4, has %5x%6")
                                    .arg(label->objectName(), label->text())
                                    .arg(label->sizeHint().width())
                                    .arg(label->fontMetrics().height())
                                    .arg(label->width())
                                    .arg(label->height())));
        }
        for (QAbstractButton* button : m_editor->findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(m_editor.get()) || button->text().isEmpty())
                continue;
            const QString text = QString(button->text()).remove(QLatin1Char('&'));
            QVERIFY2(button->fontMetrics().horizontalAdvance(text) < button->width(),
                     qPrintable(button->objectName() + " cut"));
        }
        for (const NumericFieldInfo& info : NumericFields()) {
            QLineEdit* edit = box(BoxName(info.field));
            QVERIFY2(edit->fontMetrics().horizontalAdvance(edit->text()) <
                         edit->contentsRect().width(),
                     qPrintable(BoxName(info.field)));
            QVERIFY(edit->fontMetrics().height() <= edit->contentsRect().height());
        }
    }

    void everyControlHasASpokenName()
    {
        load(writeState("a11y.000"));
        QStringList unnamed;
        QMap<QString, QString> spoken;
        for (QWidget* widget : m_editor->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QLineEdit*>(widget) ||
                                 qobject_cast<QAbstractButton*>(widget) ||
                                 qobject_cast<QTabBar*>(widget);
            if (!control || !widget->isVisibleTo(m_editor.get()))
                continue;  // (the menu bar's hidden overflow button is Qt's, never shown)
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(reader);
            const QString name = reader->text(QAccessible::Name);
            if (name.trimmed().isEmpty())
                unnamed << widget->objectName();
            spoken[widget->objectName()] = name;
            if (qobject_cast<QTabBar*>(widget))
                for (int i = 0; i < reader->childCount(); ++i)
                    if (reader->child(i)->text(QAccessible::Name).isEmpty())
                        unnamed << QStringLiteral("tab %1").arg(i);
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable("unnamed: " + unnamed.join(", ")));
        QCOMPARE(spoken.value("txtHPL"), QStringLiteral("HP left"));
        QCOMPARE(spoken.value("txtAPR"), QStringLiteral("AP right"));
        QCOMPARE(spoken.value("txtExp"), QStringLiteral("Experience"));
        QCOMPARE(spoken.value("chkAilments"), QStringLiteral("No Ailments"));
        QCOMPARE(w<QLabel>("Label1_9")->buddy(), box("txtLuck"));
        QCOMPARE(w<QLabel>("Label1_9")->text(), QStringLiteral("Lck:"));  // the caption stays
        for (QAction* item : m_editor->findChild<QMenu*>("mnuFile")->actions())
            QVERIFY(item->isSeparator() || !item->text().isEmpty());
    }

    void enterOnTheFocusedGoldButtonPressesIt()
    {
        load(writeState("enter.000"));
        auto* gold = w<QPushButton>("cmdGold");
        gold->setFocus();
        QTest::keyClick(gold, Qt::Key_Return);
        QTRY_COMPARE(gold->text(), QStringLiteral("Max Out Gold - OK"));
        QTest::keyClick(gold, Qt::Key_Enter);
        QTRY_COMPARE(gold->text(), QStringLiteral("Max Out Gold - NO"));
    }

    void wideValuesShowFromTheirStart()
    {
        StateRecipe recipe;
        recipe.party[S(1)].HpLeft = 32767;
        recipe.party[S(1)].Atk = -32768;
        recipe.party[S(1)].ExpLow = 0xFFFF;
        recipe.party[S(1)].ExpHigh = 0xFF;
        load(writeState("wide.000", recipe));
        for (const char* name : {"txtHPL", "txtAtk", "txtExp", "txtName"}) {
            QCOMPARE(box(name)->cursorPosition(), 0);
            box(name)->setFocus();  // focus keeps the start in view too
            QCOMPARE(box(name)->cursorPosition(), 0);
        }
        QCOMPARE(box("txtExp")->text(), QStringLiteral("16777215"));
        QCOMPARE(box("txtAtk")->text(), QStringLiteral("-32768"));
    }

    void numericBoxesTakeAnyLength()
    {
        for (const NumericFieldInfo& info : NumericFields())
            QCOMPARE(box(BoxName(info.field))->maxLength(), std::numeric_limits<int>::max());
        QCOMPARE(box("txtName")->maxLength(), 4);
        load(writeState("long.000"));
        const QString tiny = "0." + QString(40000, '0') + "1";
        box("txtLevel")->setFocus();
        box("txtLevel")->setText(tiny);
        QCOMPARE(box("txtLevel")->text().size(), tiny.size());
    }

    void dropDownUsesTheWindowsFont()
    {
        QCOMPARE(m_editor->findChild<QMenu*>("mnuFile")->font(), m_editor->font());
        QCOMPARE(m_editor->menuBar()->font(), m_editor->font());
    }

    // What a file manager's drop delivers: a drag entering, then the drop.
    bool drop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at = m_editor->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_editor.get(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_editor.get(), &dropped);
        return dropped.isAccepted();
    }

    void dropLoadsOneLocalStateFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("message");  // empty: it loads
        QTest::newRow("one state") << "state"
                                   << "";
        QTest::newRow("two states") << "two"
                                    << "Drop one state file at a time (this drop holds 2)";
        QTest::newRow("a folder") << "folder"
                                  << "is a folder. Drop a state file from it instead.";
        QTest::newRow("not on this computer")
            << "remote"
            << "https://example.org/game.000 is not a file on this computer";
    }
    void dropLoadsOneLocalStateFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, message);
        const QString path = writeState("dropped.000");
        QList<QUrl> urls{QUrl::fromLocalFile(path)};
        if (what == "two")
            urls << QUrl::fromLocalFile(writeState("other.000"));
        if (what == "folder")
            urls = {QUrl::fromLocalFile(m_states.path())};
        if (what == "remote")
            urls = {QUrl("https://example.org/game.000")};
        QVERIFY(drop(urls));
        if (message.isEmpty()) {
            QTRY_COMPARE(m_editor->stateFileName(), path);
            QVERIFY(m_errors.isEmpty());
            QCOMPARE(box("txtName")->text(), QStringLiteral("Rhea"));
            QVERIFY(action("mnuFileSave")->isEnabled());
            // The gzip state's bytes are kept, as a load keeps them.
            QCOMPARE(
                QDir(m_folder->backupFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
                1);
        } else {
            QTRY_COMPARE(m_errors.size(), 1);
            QVERIFY2(m_errors.first().contains(message), qPrintable(m_errors.first()));
            QVERIFY(m_editor->stateFileName().isEmpty());
            QVERIFY(!action("mnuFileSave")->isEnabled());
        }
        QCOMPARE(m_dialogs, 0);
        // Text that is not a file is not taken at all.
        QMimeData text;
        text.setText("game.000");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_editor.get(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    // The program itself, with a state on its command line, loads it as File > Load does: a
    // compressed state becomes its plain image, with a backup of what it was.
    void stateOnTheCommandLineLoadsAtStart_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("full path") << false;
        QTest::newRow("relative to the working folder") << true;
    }
    void stateOnTheCommandLineLoadsAtStart()
    {
        QFETCH(bool, relative);
        const QString path = writeState("argument.000");
        const qint64 packedSize = QFileInfo(path).size();
        QTemporaryDir userData;
        QProcess editor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", userData.path());
#if !defined(Q_OS_WIN)
        env.insert("QT_QPA_PLATFORM", "offscreen");  // Windows' editor opens on the display
#endif
        editor.setProcessEnvironment(env);
        editor.setWorkingDirectory(m_states.path());
        editor.start(QStringLiteral(CINDRAL_EDITOR_BINARY),
                     {relative ? QStringLiteral("argument.000") : path});
        QVERIFY(editor.waitForStarted());
        auto stop = qScopeGuard([&] {
            editor.kill();
            editor.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() == MakeImage(StateRecipe()).size(), 60000);
        const QStringList kept = QDir(userData.filePath("cindral-editor/backups"))
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), 1);
        QVERIFY(packedSize < QFileInfo(path).size());
        QCOMPARE(editor.state(), QProcess::Running);  // the window stays open for editing
    }

    void ctrlQExitsAsFileExitDoes()
    {
        load(writeState("ctrlq.000"));
        retype(box("txtStr"), "1");
        QCOMPARE(action("mnuFileExit")->text(), QStringLiteral("&Exit"));
        QTest::keyClick(box("txtStr"), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!m_editor->isVisible());
        QVERIFY(m_errors.isEmpty());
    }

    void wideValuesCanBeReadWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("wide");
        QTest::newRow("level fits") << "txtLevel"
                                    << "255" << false;
        QTest::newRow("level with digits past its box") << "txtLevel"
                                                        << "254.99999" << true;
        QTest::newRow("experience fits") << "txtExp"
                                         << "99999" << false;
        QTest::newRow("a long fraction") << "txtExp"
                                         << "12.000000000001" << true;
        QTest::newRow("a name") << "txtName"
                                << "Sif/" << false;
    }
    void wideValuesCanBeReadWhole()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(bool, wide);
        load(writeState("tips.000"));
        QLineEdit* edit = box(name);
        const QSize size = edit->size();
        retype(edit, value);
        QCOMPARE(edit->text(), value);
        QCOMPARE(edit->size(), size);  // the box keeps its size
        QCOMPARE(edit->toolTip(), wide ? value : QString());
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(edit);
        QCOMPARE(reader->text(QAccessible::Description), wide ? value : QString());
        retype(edit, "1");
        QVERIFY(edit->toolTip().isEmpty());
    }

    void altLettersNeverTypeIntoABox()
    {
        load(writeState("alt.000"));
        QTest::mouseClick(w<QPushButton>("cmdGold"), Qt::LeftButton);  // Alt+M now names nothing
        for (const char* name : {"txtLevel", "txtName", "txtExp"}) {
            QLineEdit* edit = box(name);
            edit->setFocus();
            const QString before = edit->text();
            for (Qt::Key key : {Qt::Key_M, Qt::Key_Z, Qt::Key_5})
                QTest::keyClick(edit, key, Qt::AltModifier);
            QCOMPARE(edit->text(), before);
        }
        QCOMPARE(w<QPushButton>("cmdGold")->text(), QStringLiteral("Max Out Gold - OK"));
        // Typing without Alt still types.
        retype(box("txtLevel"), "7");
        QCOMPARE(box("txtLevel")->text(), QStringLiteral("7"));
    }

    void aboutNamesTheAuthorAndTheProjectsAddress()
    {
        QFile metainfo(QStringLiteral(CINDRAL_METAINFO));
        QVERIFY(metainfo.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&metainfo);
        QString homepage;
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.isStartElement() && xml.name() == QLatin1String("url") &&
                xml.attributes().value("type") == QLatin1String("homepage"))
                homepage = xml.readElementText();
            else if (xml.isStartElement() && xml.name() != QLatin1String("component"))
                xml.skipCurrentElement();
        }
        QVERIFY(!homepage.isEmpty());
        const QStringList lines = forms::frmAbout::AboutText().split("\r\n");
        QCOMPARE(lines.at(12), homepage);
        QCOMPARE(lines.at(11), QStringLiteral("The Cindral I Editor developers"));
    }

    void aboutSaysWhereTheReadmeIs()
    {
        QTemporaryDir portable;
        WriteBytes(portable.filePath("README.md"), "# Cindral I Editor\n");
        QCOMPARE(forms::frmAbout::readmePlace(portable.path()),
                 QStringLiteral("Help: README.md beside the program"));
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath("bin") &&
                QDir(prefix.path()).mkpath("share/doc/cindral-editor"));
        WriteBytes(prefix.filePath("share/doc/cindral-editor/README.md"), "# Cindral I Editor\n");
        const QString place = forms::frmAbout::readmePlace(prefix.filePath("bin"));
        QVERIFY2(place.endsWith("share/doc/cindral-editor/README.md"), qPrintable(place));
        QVERIFY(place.size() <= 48);
        const QStringList lines = forms::frmAbout::AboutText(place).split("\r\n");
        QCOMPARE(lines.size(), 14);
        QCOMPARE(lines.at(9), place);
    }

    // About's frame, title bar included, is centred on its owner's frame every time, also
    // under a window manager: tst_frmeditor_wm runs this on a bare X server under openbox
    // (CINDRAL_EXPECT_WINDOW_MANAGER set). Offscreen there are no frames and the client areas
    // are centred.
    void aboutCentredOnTheOwnersFrame()
    {
        const bool managed = qEnvironmentVariableIsSet("CINDRAL_EXPECT_WINDOW_MANAGER");
        // The frame as the window system has it now: a widget's own idea of it can lag behind.
        auto frameOf = [](const QWidget* window) { return forms::FrameRect(window); };
        auto offsetOf = [&](const QWidget* about) {
            return frameOf(about).center() - frameOf(m_editor.get()).center();
        };
        if (managed)
            QTRY_VERIFY_WITH_TIMEOUT(forms::KnownFrameMargins(m_editor.get()), 30000);
        // Away from where it was centred at start, then eight openings there.
        m_editor->move(60, 40);
        QTRY_VERIFY_WITH_TIMEOUT(frameOf(m_editor.get()).top() < 100, 10000);
        for (int round = 0; round < 8; ++round) {
            bool framed = false;
            QPoint offset(-999, -999);
            QTimer::singleShot(0, this, [&] {
                QWidget* about = QApplication::activeModalWidget();
                if (!about)
                    return;
                framed =
                    !managed ||
                    QTest::qWaitFor([&] { return !about->windowHandle()->frameMargins().isNull(); },
                                    30000);
                // Where it settles: the window manager's moves arrive a little after the frame.
                (void)QTest::qWaitFor([&] { return offsetOf(about).manhattanLength() <= 2; },
                                      10000);
                QTest::qWait(300);
                offset = offsetOf(about);
                about->close();
            });
            action("mnuFileAbout")->trigger();
            QVERIFY2(framed, "the window manager gave About no frame");
            QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
                     qPrintable(QStringLiteral("round %1: About's frame is off its owner's centre "
                                               "by %2, %3")
                                    .arg(round)
                                    .arg(offset.x())
                                    .arg(offset.y())));
        }
    }

    void exitClosesWithoutAsking()
    {
        load(writeState("exit.000"));
        retype(box("txtStr"), "1");
        action("mnuFileExit")->trigger();
        QVERIFY(!m_editor->isVisible());
        QVERIFY(m_errors.isEmpty());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_frmeditor.moc"
