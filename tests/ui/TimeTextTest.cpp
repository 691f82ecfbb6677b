// Guards against: times shown wrongly, or a crash on values no clock gives.
#include "ui/TimeText.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <cmath>
#include <limits>

using namespace ql;

class TimeTextTest : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("fractions are cut, not rounded") << 59.99 << "0:59";
        QTest::newRow("ten minutes") << 600.0 << "10:00";
        QTest::newRow("past two hours") << 7322.0 << "122:02";
        QTest::newRow("negative counts as 0") << -3.0 << "0:00";
        QTest::newRow("NaN shows 0:00") << std::nan("") << "0:00";
        QTest::newRow("infinity shows 0:00") << std::numeric_limits<double>::infinity() << "0:00";
        QTest::newRow("beyond 64 bits is capped")
            << 1e300
            << QString::number(qint64(9.2e18) / 60) + ":" + QString::number(qint64(9.2e18) % 60);
    }
    void text() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(timeText(seconds), text);
    }
};

QL_TEST_UNIT(TimeTextTest)
#include "TimeTextTest.moc"
