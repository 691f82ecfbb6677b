// Guards against: a seek bar that jumps under the user's held pointer.
#include "app/SeekHold.h"

#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

class SeekHoldTest : public QObject {
    Q_OBJECT
private slots:
    // The slider covers x 100…299 and y 50…69 of its window.
    void holding_data() {
        QTest::addColumn<bool>("leftDown");
        QTest::addColumn<QRect>("slider");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<bool>("held");
        const QRect s(100, 50, 200, 20);
        QTest::newRow("on the slider") << true << s << QPoint(200, 60) << true;
        QTest::newRow("6 px left of it") << true << s << QPoint(94, 60) << true;
        QTest::newRow("7 px left of it") << true << s << QPoint(93, 60) << false;
        QTest::newRow("6 px right of its last pixel") << true << s << QPoint(305, 60) << true;
        QTest::newRow("7 px right of its last pixel") << true << s << QPoint(306, 60) << false;
        QTest::newRow("10 px above it") << true << s << QPoint(200, 40) << true;
        QTest::newRow("11 px above it") << true << s << QPoint(200, 39) << false;
        QTest::newRow("10 px below its last row") << true << s << QPoint(200, 79) << true;
        QTest::newRow("11 px below its last row") << true << s << QPoint(200, 80) << false;
        QTest::newRow("the grown corner") << true << s << QPoint(94, 40) << true;
        QTest::newRow("just outside the grown corner") << true << s << QPoint(93, 39) << false;
        QTest::newRow("an empty slider frame is never held")
            << true << QRect(100, 50, 0, 20) << QPoint(100, 50) << false;
    }
    void holding() {
        QFETCH(bool, leftDown);
        QFETCH(QRect, slider);
        QFETCH(QPoint, pointer);
        QFETCH(bool, held);
        QCOMPARE(isHoldingSeek(leftDown, slider, pointer), held);
    }
};

QL_TEST_UNIT(SeekHoldTest)
#include "SeekHoldTest.moc"
