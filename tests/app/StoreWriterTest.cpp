// Guards against: a store written off the main thread ending older than the
// last value asked for, a superseded value landing after a newer one. (A
// failed write reaching the status line: ProbesTest.)
#include "app/StoreWriter.h"
#include "app/JSONStore.h"

#include "TestUnits.h"

#include <QFile>
#include <QHash>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>
#include <utility>

using namespace ql;

using Genres = QHash<QString, QString>;

class StoreWriterTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;

private slots:
    // Each row's saves are asked while the first is held on the writer
    // thread; "a2" is the second value for file "a.json".
    void newerSavesReplaceWaitingOnes_data() {
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("newer replaces the waiting one")
            << QStringList{"a1", "a2", "a3"} << QStringList{"a1", "a3"};
        QTest::newRow("the running one is not replaced")
            << QStringList{"a1", "a2"} << QStringList{"a1", "a2"};
        QTest::newRow("another file keeps its turn")
            << QStringList{"a1", "b1", "a2", "b2", "a3"} << QStringList{"a1", "b2", "a3"};
    }
    void newerSavesReplaceWaitingOnes() {
        QFETCH(QStringList, asked);
        QFETCH(QStringList, written);
        const JSONStore store(m_tmp.path() + "/" + QTest::currentDataTag());
        QStringList order;
        std::mutex orderLock;
        QSemaphore started;
        QSemaphore held;
        {
            StoreWriter writer;
            bool first = true;
            writer.writeStarts = [&](const QString&) {
                if (std::exchange(first, false)) {
                    started.release();
                    held.acquire();
                }
            };
            for (const QString& value : asked) {
                const QString name = value.left(1) + ".json";
                writer.submit(store.filePath(name), [&, store, name, value] {
                    const bool saved = store.save(name, Genres{{"/m/x.flac", value}});
                    std::lock_guard lock(orderLock);
                    order << (saved ? value : "failed " + value);
                });
                if (value == asked.first())
                    QVERIFY(started.tryAcquire(1, 20000)); // the first is being written
            }
            QVERIFY(!writer.finish(50)); // the first is still held
            held.release();
            QVERIFY(writer.finish(20000));
        }
        QCOMPARE(order, written);
        // Every file holds the last value asked for it.
        for (const QString& value : asked) {
            const QString name = value.left(1) + ".json";
            const QString last = asked.filter(value.left(1)).last();
            QCOMPARE(store.load<Genres>(name).value_or(Genres{}).value("/m/x.flac"), last);
        }
    }

    void aWaitingSaveIsWrittenAtTheEnd() {
        // A writer let go of without finish() still writes what was asked.
        const JSONStore store(m_tmp.path() + "/end");
        {
            StoreWriter writer;
            for (int i = 0; i < 5; ++i)
                writer.submit(store.filePath("g.json"), [store, i] {
                    store.save(QStringLiteral("g.json"), Genres{{"/m/x.flac", QString::number(i)}});
                });
        }
        QCOMPARE(store.load<Genres>("g.json").value_or(Genres{}).value("/m/x.flac"),
                 QStringLiteral("4"));
    }
};

QL_TEST_UNIT(StoreWriterTest)
#include "StoreWriterTest.moc"
