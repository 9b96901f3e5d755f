#include "MemberFields.h"
#include "PartyImage.h"
#include "SnapshotGenerator.h"

#include <QTest>

using namespace Process;
using testsupport::S;

namespace {
QByteArray PatternImage(qsizetype size = kMinimumImageSize + 100)
{
    QByteArray image(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    return image;
}

std::uint8_t At(const QByteArray& image, qint64 offset)
{
    return std::uint8_t(image.at(qsizetype(offset)));
}

}  // namespace

class TestPartyFormat : public QObject
{
    Q_OBJECT

private slots:
    void fieldsReadFromTheirOffsets_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("field");
        QTest::newRow("HpRight FF FF is -1") << 12 << QByteArray("\xFF\xFF", 2) << -1 << "HpRight";
        QTest::newRow("HpRight E7 03 is 999")
            << 12 << QByteArray("\xE7\x03", 2) << 999 << "HpRight";
        QTest::newRow("HpLeft 7FFF") << 14 << QByteArray("\xFF\x7F", 2) << 32767 << "HpLeft";
        QTest::newRow("ApLeft 8000") << 18 << QByteArray("\x00\x80", 2) << -32768 << "ApLeft";
        QTest::newRow("Atk at odd 29") << 29 << QByteArray("\x34\x12", 2) << 0x1234 << "Atk";
        QTest::newRow("Def at odd 31") << 31 << QByteArray("\xFE\xFF", 2) << -2 << "Def";
        QTest::newRow("Level unsigned") << 10 << QByteArray("\xFF", 1) << 255 << "Level";
        QTest::newRow("Fate last field") << 35 << QByteArray("\x80", 1) << 128 << "Fate";
    }
    void fieldsReadFromTheirOffsets()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QFETCH(QString, field);
        std::array<std::uint8_t, kRecordSize> raw{};
        std::copy(bytes.begin(), bytes.end(), raw.begin() + offset);
        const CharacterRecord r = CharacterRecord::fromBytes(raw);
        const std::map<QString, int> values{
            {"HpRight", r.HpRight}, {"HpLeft", r.HpLeft}, {"ApLeft", r.ApLeft}, {"Atk", r.Atk},
            {"Def", r.Def},         {"Level", r.Level},   {"Fate", r.Fate}};
        QCOMPARE(values.at(field), expected);
    }

    void everyByteValueRoundTripsInEveryPosition_data()
    {
        QTest::addColumn<int>("value");
        for (int v = 0; v < 256; ++v)
            QTest::newRow(qPrintable(QString::number(v))) << v;
    }
    void everyByteValueRoundTripsInEveryPosition()
    {
        // Each of the 160 positions gets a value derived from `value`, so over the table every
        // position, the carried bytes among them, sees all 256 values.
        QFETCH(int, value);
        std::array<std::uint8_t, kRecordSize> in{};
        for (int i = 0; i < kRecordSize; ++i)
            in[i] = std::uint8_t((value + i * 37) & 0xFF);
        std::array<std::uint8_t, kRecordSize> out{};
        CharacterRecord::fromBytes(in).toBytes(out);
        QVERIFY(in == out);
    }

    void blockWriteTouchesOnlyTheBlock()
    {
        const QByteArray before = PatternImage();
        QByteArray image = before;
        PartyBlock block;
        for (Slot s : Slot::all())
            block[s].Carry3.fill(0xEE);
        WritePartyBlock(image, block);
        QCOMPARE(image.left(kPartyBlockOffset), before.left(kPartyBlockOffset));
        QCOMPARE(image.mid(kPartyBlockEnd), before.mid(kPartyBlockEnd));
        QCOMPARE(At(image, kPartyBlockEnd - 1), 0xEE);  // slot 4 ends at 73471
        QCOMPARE(ReadPartyBlock(image), block);
    }

    void slotRecordsFollowTheStride()
    {
        QByteArray image = PatternImage();
        image[72832 + 160 * 3 + 29] = char(0x39);  // slot 4, Atk low byte
        image[72832 + 160 * 3 + 30] = char(0x05);
        QCOMPARE(ReadPartyBlock(image)[S(4)].Atk, std::int16_t(0x0539));
    }

    void composeExperience_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("expected");
        QTest::newRow("8ABC") << 0x8ABC << 0 << 35516;
        QTest::newRow("10001") << 0x0001 << 0x01 << 65537;
        QTest::newRow("max") << 0xFFFF << 0xFF << 16777215;
        QTest::newRow("zero") << 0 << 0 << 0;
        QTest::newRow("high bit of high") << 0 << 0x80 << 8388608;
    }
    void composeExperience()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(int, expected);
        QCOMPARE(ComposeExperience(std::uint16_t(low), std::uint8_t(high)), expected);
    }

    void experienceBytesComeFromPartyExperience_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("value");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("99999 slot 1")
            << 1 << 99999 << qint64(72852) << QByteArray("\x9F\x86\x01", 3);
        QTest::newRow("0 slot 4") << 4 << 0 << qint64(73332) << QByteArray("\0\0\0", 3);
        QTest::newRow("max slot 4")
            << 4 << 16777215 << qint64(73332) << QByteArray("\xFF\xFF\xFF", 3);
        QTest::newRow("slot 2") << 2 << 0x123456 << qint64(73012) << QByteArray("\x56\x34\x12", 3);
        QTest::newRow("slot 3") << 3 << 1 << qint64(73172) << QByteArray("\x01\0\0", 3);
    }
    void experienceBytesComeFromPartyExperience()
    {
        QFETCH(int, slot);
        QFETCH(int, value);
        QFETCH(qint64, offset);
        QFETCH(QByteArray, bytes);
        QByteArray image = PatternImage();
        PartyBlock block = ReadPartyBlock(image);
        PartyExperience experience = ComposePartyExperience(block);
        experience[S(slot)] = value;  // the record's own ExpLow/ExpHigh stay stale
        ApplyParty(image, block, experience, false);
        QCOMPARE(image.mid(offset, 3), bytes);
        QCOMPARE(ExperienceOffset(slot), offset);
    }

    void goldIsWrittenOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("goldMaxOut");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void goldIsWrittenOnlyWhenAsked()
    {
        QFETCH(bool, goldMaxOut);
        const QByteArray before = PatternImage();
        QByteArray image = before;
        const PartyBlock block = ReadPartyBlock(image);
        ApplyParty(image, block, ComposePartyExperience(block), goldMaxOut);
        if (goldMaxOut) {
            QCOMPARE(image.mid(kGoldOffset, 3), QByteArray("\x3F\x42\x0F", 3));
            QCOMPARE(ReadGold(image), 999999u);
        } else {
            QCOMPARE(image.mid(kGoldOffset, 3), before.mid(kGoldOffset, 3));
        }
        // Apart from the gold, a save with no edits writes back what it read.
        image.replace(kGoldOffset, 3, before.mid(kGoldOffset, 3));
        QCOMPARE(image, before);
    }

    void slotsOutsideThePartyAreErrors_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("valid");
        QTest::newRow("0") << 0 << false;
        QTest::newRow("1") << 1 << true;
        QTest::newRow("4") << 4 << true;
        QTest::newRow("5") << 5 << false;
        QTest::newRow("-1") << -1 << false;
        QTest::newRow("255") << 255 << false;
    }
    void slotsOutsideThePartyAreErrors()
    {
        QFETCH(int, number);
        QFETCH(bool, valid);
        const Result<Slot> slot = Slot::fromNumber(number);
        QCOMPARE(slot.ok(), valid);
        if (!valid) {
            QCOMPARE(slot.failure().kind(), ErrorKind::InvalidSlot);
            QVERIFY(slot.failure().message().contains(QString::number(number)));
        }
        PartyState party;
        party.selectedSlot = std::uint8_t(number);
        QCOMPARE(party.selected().ok(), valid);
    }

    void fieldTableReachesEachFieldOfOnlyItsSlot()
    {
        for (const NumericFieldInfo& info : NumericFields()) {
            PartyState party;
            SetFieldValue(party, S(2), info.field, info.limit);
            QCOMPARE(FieldValue(party, S(2), info.field), info.limit);
            for (int other : {1, 3, 4})
                QCOMPARE(FieldValue(party, S(other), info.field), 0);
            // Exactly one byte range of slot 2 changed, or only the experience entry.
            std::array<std::uint8_t, kRecordSize> bytes{};
            party.block[S(2)].toBytes(bytes);
            const auto nonZero =
                std::count_if(bytes.begin(), bytes.end(), [](auto b) { return b; });
            if (info.field == NumericField::Exp)
                QCOMPARE(nonZero, 0);
            else
                QVERIFY2(nonZero >= 1 && nonZero <= 2, info.key);
        }
        QCOMPARE(FindNumericField(u"luck")->field, NumericField::Luck);
        QVERIFY(FindNumericField(u"gold") == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestPartyFormat)
#include "tst_partyformat.moc"
