// Guards against: a seek slider that reports values the user did not set.
#include "ui/SeekSlider.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <limits>

using namespace ql;

class SeekSliderTest : public QObject {
    Q_OBJECT
private slots:
    // Sets from code: maximum, then value; `value` is what the slider holds.
    void setsFromCode_data() {
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("set");
        QTest::addColumn<double>("value");
        QTest::newRow("a position inside the track") << 245.3 << 61.27 << 61.27;
        QTest::newRow("past the end is clamped") << 30.0 << 31.0 << 30.0;
        QTest::newRow("before the start is clamped") << 30.0 << -2.0 << 0.0;
        QTest::newRow("NaN is ignored") << 30.0 << std::numeric_limits<double>::quiet_NaN() << 0.0;
        QTest::newRow("a NaN maximum is ignored")
            << std::numeric_limits<double>::quiet_NaN() << 0.5 << 0.5;
        QTest::newRow("a very long track") << 3.0e6 << 2.9e6 << 2.9e6;
    }
    void setsFromCode() {
        QFETCH(double, max);
        QFETCH(double, set);
        QFETCH(double, value);
        SeekSlider s;
        int actions = 0;
        s.action = [&actions] { ++actions; };
        s.setMaximumValue(max);
        s.setDoubleValue(set);
        QCOMPARE(s.doubleValue(), value);
        QCOMPARE(actions, 0); // moves from code never run the action
    }

    void shorterMaximumPullsTheValueIn() {
        SeekSlider s;
        s.setMaximumValue(200);
        s.setDoubleValue(150);
        s.setMaximumValue(100);
        QCOMPARE(s.doubleValue(), 100.0);
    }

    void aUserMoveRunsTheActionWithTheNewPosition() {
        SeekSlider s;
        s.setMaximumValue(100);
        double seen = -1;
        s.action = [&] { seen = s.doubleValue(); };
        s.triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(seen, 100.0);
        s.triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(seen, 0.0);
    }
};

QL_TEST_UNIT(SeekSliderTest)
#include "SeekSliderTest.moc"
