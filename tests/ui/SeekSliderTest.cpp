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

    // The volume slider, as the window sets it up: a click on the groove goes
    // to the clicked point; a wheel notch or an arrow key moves one −/+ step.
    void userMovesOfTheVolume_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<double>("expected");
        QTest::newRow("click at a quarter of the groove") << "click 25" << 25.0;
        QTest::newRow("wheel notch up") << "wheel 120" << 55.0;
        QTest::newRow("wheel notch down") << "wheel -120" << 45.0;
        QTest::newRow("half a notch waits for the other half") << "wheel 60" << 50.0;
        QTest::newRow("arrow key") << "key right" << 55.0;
    }
    void userMovesOfTheVolume() {
        QFETCH(QString, input);
        QFETCH(double, expected);
        SeekSlider s;
        s.setMaximumValue(100);
        s.setDoubleValue(50);
        s.setStepValue(5);
        s.resize(1000, 24); // wide enough that the handle's size is under 1 %
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        int actions = 0;
        s.action = [&actions] { ++actions; };
        const QStringList parts = input.split(' ');
        if (parts[0] == "click") {
            QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(parts[1].toInt() * 10, 12));
        } else if (parts[0] == "wheel") {
            QWheelEvent e(QPointF(10, 10), s.mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, parts[1].toInt()), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(&s, &e);
        } else {
            QTest::keyClick(&s, Qt::Key_Right);
        }
        QVERIFY2(std::abs(s.doubleValue() - expected) <= (parts[0] == "click" ? 1.0 : 1e-9),
                 qPrintable(QString::number(s.doubleValue())));
        QCOMPARE(actions > 0, expected != 50.0);
    }
};

QL_TEST_UNIT(SeekSliderTest)
#include "SeekSliderTest.moc"
