// Guards against: misleading rate and format texts.
#include "playback/RateText.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <clocale>
#include <limits>

using namespace ql;

class RateTextTest : public QObject {
    Q_OBJECT
private slots:
    void khz_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("text");
        QTest::newRow("CD rate keeps its decimal") << 44100.0 << "44.1";
        QTest::newRow("whole kHz has no decimal") << 48000.0 << "48";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero is plain zero") << -0.0 << "0";
        QTest::newRow("11025 keeps a decimal even when it rounds to a whole") << 11025.0 << "11.0";
        QTest::newRow("22050 rounds to one decimal") << 22050.0 << "22.1";
        QTest::newRow("an exact half rounds to even, as printf does") << 1250.0 << "1.2";
        QTest::newRow("negative rates keep their sign") << -44100.0 << "-44.1";
        QTest::newRow("a fraction of a hertz is not a whole kHz") << 48000.5 << "48.0";
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "0";
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "0";
        QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity() << "0";
        QTest::newRow("huge whole rate is written out, not wrapped") << 1.0e15 << "1000000000000";
        // Not a multiple of 1000, so one decimal; every digit of the integer part is kept.
        QTest::newRow("the largest double")
            << std::numeric_limits<double>::max()
            << QString::number(std::numeric_limits<double>::max() / 1000, 'f', 0) + ".0";
    }
    void khz() {
        QFETCH(double, rate);
        QFETCH(QString, text);
        QCOMPARE(khzText(rate), text);
    }

    // QCoreApplication adopts the user's locale for the C library; a comma
    // locale must not turn "44.1" into "44,1".
    void decimalPointIgnoresTheLocale() {
        const char* set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        if (!set)
            QSKIP("the de_DE.UTF-8 locale is not installed here");
        const QString text = khzText(44100);
        std::setlocale(LC_NUMERIC, "C");
        QCOMPARE(text, QString("44.1"));
    }
};

QL_TEST_UNIT(RateTextTest)
#include "RateTextTest.moc"
