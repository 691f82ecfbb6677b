// Guards against: lines split, joined or grown without bound on the backend pipe.
#include "library/LineFramer.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <cstring>
#include <utility>

using namespace ql;

namespace {

// Feeds the chunks one by one, taking every line each chunk completes, the
// way the program's receiver does. A line that was too long is written "<long>".
QStringList frame(LineFramer& framer, const QList<QByteArray>& chunks) {
    QStringList lines;
    for (const QByteArray& chunk : chunks) {
        framer.append(chunk);
        while (const std::optional<FramedLine> line = framer.next())
            lines << (line->tooLong ? QStringLiteral("<long>")
                                    : QString::fromUtf8(line->bytes.toByteArray()));
    }
    return lines;
}

} // namespace

class LineFramerTest : public QObject {
    Q_OBJECT
private slots:
    void lines_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("the half line is completed by the next chunk")
            << QList<QByteArray>{"one\ntw", "o\nthr"} << QStringList{"one", "two"} << qsizetype(3);
        QTest::newRow("a line feed alone is an empty line")
            << QList<QByteArray>{"\n"} << QStringList{""} << qsizetype(0);
        QTest::newRow("a chunk that starts with the line feed")
            << QList<QByteArray>{"abc", "\ndef"} << QStringList{"abc"} << qsizetype(3);
        QTest::newRow("empty chunks change nothing")
            << QList<QByteArray>{"", "x", "", "\n"} << QStringList{"x"} << qsizetype(0);
        QTest::newRow("UTF-8 split inside a character")
            << QList<QByteArray>{"\xea\xb3", "\xa1\n"} << QStringList{"곡"} << qsizetype(0);
    }
    void lines() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QFETCH(qsizetype, pending);
        LineFramer framer;
        QCOMPARE(frame(framer, chunks), lines);
        QCOMPARE(framer.pendingBytes(), pending);
    }

    // A limit of 8 bytes stands for the real 512 MiB one.
    void overlongLines_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("a line just over the limit, ended in the same chunk, passes")
            << QList<QByteArray>{"123456789\n"} << QStringList{"123456789"} << qsizetype(0);
        QTest::newRow("over the limit without a line feed: dropped, reported at its end")
            << QList<QByteArray>{"12345", "6789", "abc", "def\nok\n"} << QStringList{"<long>", "ok"}
            << qsizetype(0);
        QTest::newRow("the line after a dropped one starts in the same chunk")
            << QList<QByteArray>{"123456789", "x\nnext"} << QStringList{"<long>"} << qsizetype(4);
        QTest::newRow("lines before the long one come out first")
            << QList<QByteArray>{"a\nb\n123456789", "\n"} << QStringList{"a", "b", "<long>"}
            << qsizetype(0);
        QTest::newRow("nothing of a dropped line is kept")
            << QList<QByteArray>{"123456789", "123456789", "123456789"} << QStringList{}
            << qsizetype(0);
    }
    void overlongLines() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, lines);
        QFETCH(qsizetype, pending);
        LineFramer framer(8);
        QCOMPARE(frame(framer, chunks), lines);
        QCOMPARE(framer.pendingBytes(), pending);
    }

    // Large lines read straight from a pipe, 64 KiB at a time, each taken
    // and its array given back, as the backend's reader does with replies.
    void largeLineRoom_data() {
        QTest::addColumn<QList<qsizetype>>("sizes"); // of the lines, one after another
        QTest::addColumn<bool>("inPlace"); // the last line fills the array given back as it is
        const qsizetype mb = 1024 * 1024;
        QTest::newRow("one line") << QList<qsizetype>{3 * mb} << false;
        QTest::newRow("the same size again fills the array given back")
            << QList<qsizetype>{3 * mb, 3 * mb} << true;
        QTest::newRow("a little longer still fits")
            << QList<qsizetype>{3 * mb, 3 * mb + 1000} << true;
        QTest::newRow("much longer grows, then is trimmed")
            << QList<qsizetype>{mb, 3 * mb} << false;
        QTest::newRow("shorter: the array is trimmed to it")
            << QList<qsizetype>{3 * mb, mb} << false;
    }
    void largeLineRoom() {
        QFETCH(QList<qsizetype>, sizes);
        QFETCH(bool, inPlace);
        LineFramer framer;
        QByteArray given;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const qsizetype size = sizes[i];
            const QByteArray text = QByteArray(size, 'x') + '\n';
            const char* const before = given.constData();
            framer.reuse(std::exchange(given, QByteArray()));
            for (qsizetype at = 0; at < text.size();) {
                framer.appendFrom(64 * 1024, [&](char* into, qsizetype n) {
                    const qsizetype got = std::min(n, text.size() - at);
                    std::memcpy(into, text.constData() + at, size_t(got));
                    at += got;
                    return qint64(got);
                });
            }
            const std::optional<FramedLine> line = framer.next();
            QVERIFY(line && !line->tooLong);
            given = framer.take(*line);
            QCOMPARE(given.size(), size);
            QVERIFY(given == text.first(size));
            // Growth room is not kept beyond what a slightly longer line needs.
            QVERIFY2(given.capacity() <= size + 2 * LineFramer::kSlack,
                     qPrintable(QString::number(given.capacity() - size)));
            if (inPlace && i == sizes.size() - 1)
                QCOMPARE(static_cast<const void*>(given.constData()),
                         static_cast<const void*>(before));
        }
    }
};

QL_TEST_UNIT(LineFramerTest)
#include "LineFramerTest.moc"
