#include "NumericText.h"

#include <QTest>

#include <cmath>

using namespace Process;

class TestNumericText : public QObject
{
    Q_OBJECT

private slots:
    void valueOfText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "42" << 42.0;
        QTest::newRow("leading blanks") << "   7" << 7.0;
        QTest::newRow("leading tab") << "\t7" << 7.0;
        QTest::newRow("plus sign") << "+12" << 12.0;
        QTest::newRow("minus") << "-5" << -5.0;
        QTest::newRow("fraction") << "254.5" << 254.5;
        QTest::newRow("bare fraction") << ".5" << 0.5;
        QTest::newRow("trailing point") << "3." << 3.0;
        QTest::newRow("trailing letters") << "12abc" << 12.0;
        QTest::newRow("letters only") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("lone minus") << "-" << 0.0;
        QTest::newRow("comma is not a point") << "1,5" << 1.0;
        QTest::newRow("no exponent") << "1e3" << 1.0;
        QTest::newRow("blank inside stops") << "1 2" << 1.0;
        QTest::newRow("sign after blank") << " -0.25x" << -0.25;
        QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("\u0663") << 0.0;
    }
    void valueOfText()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(TextValue(text), value);
    }

    void hugeNumbersStayOrdered()
    {
        const QString huge = QString(400, QLatin1Char('9'));
        QVERIFY(std::isinf(TextValue(huge)) && TextValue(huge) > 0);
        QVERIFY(std::isinf(TextValue("-" + huge)) && TextValue("-" + huge) < 0);
        QCOMPARE(ApplyNumericText(huge, 255).text, QStringLiteral("255"));
        QCOMPARE(ApplyNumericText("-" + huge, 255).text, QStringLiteral("0"));
    }

    void clampAndStore_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("stored");
        QTest::newRow("3") << "3" << 255 << "3" << 3;
        QTest::newRow("30") << "30" << 255 << "30" << 30;
        QTest::newRow("300 to 255") << "300" << 255 << "255" << 255;
        QTest::newRow("limit itself stays") << "999" << 999 << "999" << 999;
        QTest::newRow("1000 to 999") << "1000" << 999 << "999" << 999;
        QTest::newRow("100000 to 99999") << "100000" << 99999 << "99999" << 99999;
        QTest::newRow("-5 to 0") << "-5" << 255 << "0" << 0;
        QTest::newRow("-0.3 to 0") << "-0.3" << 255 << "0" << 0;
        QTest::newRow("-0 stays") << "-0" << 255 << "-0" << 0;
        QTest::newRow("lone minus stays") << "-" << 255 << "-" << 0;
        QTest::newRow("cleared") << "" << 255 << "" << 0;
        QTest::newRow("12abc stays") << "12abc" << 255 << "12abc" << 12;
        QTest::newRow("300abc replaced") << "300abc" << 255 << "255" << 255;
        QTest::newRow("254.5 to even") << "254.5" << 255 << "254.5" << 254;
        QTest::newRow("254.6 up") << "254.6" << 255 << "254.6" << 255;
        QTest::newRow("255.4 clamped") << "255.4" << 255 << "255" << 255;
        QTest::newRow("0.5 to even") << "0.5" << 255 << "0.5" << 0;
        QTest::newRow("1.5 to even") << "1.5" << 255 << "1.5" << 2;
        QTest::newRow("2.5 to even") << "2.5" << 255 << "2.5" << 2;
        QTest::newRow("3.5 to even") << "3.5" << 255 << "3.5" << 4;
        QTest::newRow("99998.5 to even") << "99998.5" << 99999 << "99998.5" << 99998;
        QTest::newRow("99999.5 clamped") << "99999.5" << 99999 << "99999" << 99999;
        QTest::newRow("leading zeros kept") << "007" << 255 << "007" << 7;
        // Below a double's smallest value the number is zero as a double, not infinity.
        const QString tiny = "0." + QString(323, '0') + "1";
        QTest::newRow("tiny positive stays") << tiny << 255 << tiny << 0;
        QTest::newRow("tiny negative stays") << "-" + tiny << 255 << "-" + tiny << 0;
        QTest::newRow("tiny with zero integer digits") << "000" + tiny << 255 << "000" + tiny << 0;
        const QString huge = "1" + QString(400, '0');
        QTest::newRow("beyond a double clamped") << huge << 255 << "255" << 255;
        QTest::newRow("beyond a double after zeros") << "00" + huge + ".5" << 255 << "255" << 255;
    }
    void clampAndStore()
    {
        QFETCH(QString, typed);
        QFETCH(int, limit);
        QFETCH(QString, text);
        QFETCH(int, stored);
        const NumericEdit edit = ApplyNumericText(typed, limit);
        QCOMPARE(edit.text, text);
        QCOMPARE(edit.value, stored);
        QCOMPARE(edit.clamped, text != typed);
        QCOMPARE(ClampText(typed, limit), text);
    }

    void roundingSaturates()
    {
        QCOMPARE(RoundHalfEven(1e300), std::numeric_limits<std::int32_t>::max());
        QCOMPARE(RoundHalfEven(-1e300), std::numeric_limits<std::int32_t>::min());
        QCOMPARE(RoundHalfEven(std::nan("")), 0);
        QCOMPARE(RoundHalfEven(-2.5), -2);
        QCOMPARE(RoundHalfEven(-3.5), -4);
    }
};

QTEST_GUILESS_MAIN(TestNumericText)
#include "tst_numerictext.moc"
