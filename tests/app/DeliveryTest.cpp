// Guards against: a background result shown after a newer request overtook
// it, one delivered into a destroyed controller, and one applied off the
// main thread.
#include "app/Delivery.h"

#include "TestUnits.h"

#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>

using namespace ql;

namespace {

constexpr int kPerThread = 25;
constexpr int kWaitMs = 30000;

// A controller stand-in: a request counter and what reached it.
struct Holder : QObject {
    quint64 generation = 0;
    int received = 0;
};

// Every step posted before this call has run or been dropped when it returns:
// queued calls to the application object keep their order.
bool drain() {
    QObject marker;
    bool reached = false;
    Delivery<QObject>(&marker).post([&reached](QObject&) { reached = true; });
    return QTest::qWaitFor([&] { return reached; }, kWaitMs);
}

} // namespace

class DeliveryTest : public QObject {
    Q_OBJECT
private slots:
    void delivery_data() {
        QTest::addColumn<bool>("counted");    // made with the holder's counter
        QTest::addColumn<int>("bumpsBefore"); // new requests before it is made
        QTest::addColumn<int>("bumpsAfter");  // new requests while the answer waits
        QTest::addColumn<bool>("destroyed");  // the holder goes while it waits
        QTest::addColumn<int>("threads");     // jobs posting at once
        QTest::addColumn<bool>("delivered");
        QTest::newRow("a current result is delivered") << true << 0 << 0 << false << 1 << true;
        QTest::newRow("the generation it started from counts, not the first")
            << true << 3 << 0 << false << 1 << true;
        QTest::newRow("a stale result is dropped") << true << 0 << 1 << false << 1 << false;
        QTest::newRow("without a counter a newer request does not matter")
            << false << 0 << 2 << false << 1 << true;
        QTest::newRow("a result for a destroyed controller is dropped")
            << false << 0 << 0 << true << 1 << false;
        QTest::newRow("a destroyed controller with a counter: dropped")
            << true << 0 << 0 << true << 1 << false;
        QTest::newRow("four jobs at once, all current") << true << 0 << 0 << false << 4 << true;
        QTest::newRow("four jobs at once, all stale") << true << 0 << 1 << false << 4 << false;
        QTest::newRow("four jobs at once, controller gone") << true << 0 << 0 << true << 4 << false;
    }
    void delivery() {
        QFETCH(bool, counted);
        QFETCH(int, bumpsBefore);
        QFETCH(int, bumpsAfter);
        QFETCH(bool, destroyed);
        QFETCH(int, threads);
        QFETCH(bool, delivered);

        auto holder = std::make_unique<Holder>();
        holder->generation += quint64(bumpsBefore);
        const Delivery<Holder> delivery =
            counted ? Delivery(holder.get(), holder->generation) : Delivery(holder.get());
        int ran = 0;
        std::atomic<int> offMain{0};
        QThread* const main = QThread::currentThread();
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        for (int t = 0; t < threads; ++t)
            pool.start([&, delivery] {
                for (int i = 0; i < kPerThread; ++i)
                    // The step touches the holder: run for a destroyed one, it
                    // would be a use after free.
                    delivery.post([&](Holder& h) {
                        ++h.received;
                        ++ran;
                        if (QThread::currentThread() != main)
                            ++offMain;
                    });
            });
        QVERIFY(pool.waitForDone(kWaitMs));
        // Every answer now waits in the queue.
        QCOMPARE(ran, 0);
        holder->generation += quint64(bumpsAfter);
        if (destroyed)
            holder.reset();
        QVERIFY(drain());

        QCOMPARE(ran, delivered ? threads * kPerThread : 0);
        QCOMPARE(offMain.load(), 0);
        if (holder)
            QCOMPARE(holder->received, ran);
    }

    // A request made after one answer was delivered stops the rest of the
    // same job's answers: each step is checked as it comes.
    void laterBatchesOfAnOvertakenJobAreDropped() {
        Holder holder;
        const Delivery delivery(&holder, holder.generation);
        int ran = 0;
        delivery.post([&](Holder&) { ++ran; });
        QVERIFY(drain());
        QCOMPARE(ran, 1);
        ++holder.generation;
        delivery.post([&](Holder&) { ++ran; });
        QVERIFY(drain());
        QCOMPARE(ran, 1);
    }
};

QL_TEST_UNIT(DeliveryTest)
#include "DeliveryTest.moc"
