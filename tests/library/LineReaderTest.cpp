// Guards against: backend replies lost, reordered or handed out piece by
// piece (a wake-up each) when the pipe is read off the main thread, and a
// backend left blocked on a pipe nobody empties.
#include "library/LineReader.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <thread>

using namespace ql;

namespace {

// A reader on a fresh pipe, recording what it hands out.
struct Rig {
    int writeEnd = -1;
    std::mutex lock;
    QList<QStringList> batches; // "<long>" for a line too long
    int ended = 0;
    std::unique_ptr<LineReader> reader;

    explicit Rig(qsizetype maxLine = LineFramer::kMaxLine) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            qFatal("no pipe");
        writeEnd = fds[1];
        reader = std::make_unique<LineReader>(
            fds[0],
            LineReader::Hooks{.lines =
                                  [this](std::vector<LineReader::Line> lines) {
                                      QStringList batch;
                                      for (const LineReader::Line& l : lines)
                                          batch << (l.tooLong ? QStringLiteral("<long>")
                                                              : QString::fromUtf8(l.bytes));
                                      std::lock_guard hold(lock);
                                      batches << batch;
                                  },
                              .ended =
                                  [this] {
                                      std::lock_guard hold(lock);
                                      ++ended;
                                  },
                              .spare = {}},
            maxLine);
    }
    ~Rig() {
        reader.reset();
        closeWriter();
    }
    // Writes everything, however long the reader takes to make room.
    void write(const QByteArray& bytes) const {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n = ::write(writeEnd, bytes.constData() + at, size_t(bytes.size() - at));
            QVERIFY(n > 0);
            at += n;
        }
    }
    void closeWriter() {
        if (writeEnd >= 0)
            close(std::exchange(writeEnd, -1));
    }
    QStringList lines() {
        std::lock_guard hold(lock);
        QStringList all;
        for (const QStringList& b : batches)
            all << b;
        return all;
    }
    int endings() {
        std::lock_guard hold(lock);
        return ended;
    }
};

QByteArray longLine(qsizetype size, char fill) {
    return QByteArray(size, fill) + '\n';
}

} // namespace

class LineReaderTest : public QObject {
    Q_OBJECT
private slots:
    // The writes, then how the stream stops: "close" (the writer's end),
    // "drain" (the writer exited but the pipe is still held open), or "" (it
    // goes on).
    void linesAndEnd_data() {
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<qsizetype>("pending");
        QTest::addColumn<int>("ended");
        QTest::newRow("two lines and half a third; the half waits")
            << QList<QByteArray>{"one\ntwo\nthr"} << "" << QStringList{"one", "two"} << qsizetype(3)
            << 0;
        QTest::newRow("a line over three writes comes once, whole")
            << QList<QByteArray>{"{\"tra", "cks\":[]", "}\r\n"} << ""
            << QStringList{"{\"tracks\":[]}\r"} << qsizetype(0) << 0;
        QTest::newRow("the writer closes: the lines, then the end once")
            << QList<QByteArray>{"a\n", "b\nhalf"} << "close" << QStringList{"a", "b"}
            << qsizetype(4) << 1;
        QTest::newRow("drained with the pipe held open: what it holds, then the end")
            << QList<QByteArray>{"a\nb\nc"} << "drain" << QStringList{"a", "b"} << qsizetype(1)
            << 1;
        QTest::newRow("an empty line is a line")
            << QList<QByteArray>{"\n"} << "close" << QStringList{""} << qsizetype(0) << 1;
    }
    void linesAndEnd() {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(QString, stop);
        QFETCH(QStringList, lines);
        QFETCH(qsizetype, pending);
        QFETCH(int, ended);
        Rig rig;
        for (const QByteArray& w : writes) {
            rig.write(w);
            QTest::qWait(20); // each write reaches the reader on its own
        }
        if (stop == "close")
            rig.closeWriter();
        else if (stop == "drain")
            rig.reader->drain();
        QTRY_COMPARE_WITH_TIMEOUT(rig.lines(), lines, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.reader->pendingBytes(), pending, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.endings(), ended, 10000);
        QTest::qWait(50);
        QCOMPARE(rig.endings(), ended);
        QCOMPARE(rig.lines(), lines);
    }

    // A catalog reply far larger than the pipe arrives in many reads; its
    // owner hears of it once (one wake-up of the main thread per reply).
    void aLargeReplyIsHandedOutOnce() {
        Rig rig;
        const QByteArray reply = longLine(6 * 1024 * 1024, 'x');
        std::thread writer([&] {
            for (qsizetype at = 0; at < reply.size(); at += 4096) {
                rig.write(reply.mid(at, 4096));
                if (at % (256 * 1024) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        writer.join();
        QTRY_COMPARE_WITH_TIMEOUT(rig.lines().size(), qsizetype(1), 10000);
        std::lock_guard hold(rig.lock);
        QCOMPARE(rig.batches.size(), qsizetype(1));
        QCOMPARE(rig.batches.front().front().size(), reply.size() - 1);
    }

    // A limit of 8 bytes stands for the real one.
    void aLineOverTheLimitIsReportedOnce() {
        Rig rig(8);
        rig.write("123456789");
        QTest::qWait(20);
        rig.write("abcdef\nok\n");
        QTRY_COMPARE_WITH_TIMEOUT(rig.lines(), (QStringList{"<long>", "ok"}), 10000);
    }

    // Muted at quit: nothing more is handed out, but the pipe is still
    // emptied, so a backend writing a large reply is not left blocked.
    void mutedItStillEmptiesThePipe() {
        Rig rig;
        rig.reader->mute();
        rig.write(longLine(4 * 1024 * 1024, 'y')); // returns only once it is all read
        rig.closeWriter();
        QTest::qWait(100);
        QCOMPARE(rig.lines(), QStringList{});
        QCOMPARE(rig.endings(), 0);
    }
};

QL_TEST_UNIT(LineReaderTest)
#include "LineReaderTest.moc"
