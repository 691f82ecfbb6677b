// Guards against: script output garbled at a read boundary or grown without bound.
#include "downloader/FetchProtocol.h"

#include "CaseRows.h"
#include "TestHome.h"

#include <QTest>

using namespace ql;
using ql::test::addRows;
using ql::test::currentCase;

namespace {

struct StreamCase {
    const char* name;
    std::vector<QByteArray> chunks;
    QStringList lines; // the last one is the rest at the end, when any
};

const std::vector<StreamCase> kStreams = {
    {"invalid byte", {"a\xff\n"}, {QStringLiteral("a\uFFFD")}},
    {"cut character at the end",
     {QStringLiteral("가나").toUtf8().first(4)},
     {QStringLiteral("가\uFFFD")}},
    {"past the cap",
     {QByteArray(FetchOutput::kMaxLine + 1, 'x')},
     {QString(FetchOutput::kMaxLine + 1, u'x')}},
};

} // namespace

class FetchProtocolTest : public QObject {
    Q_OBJECT
private slots:
    void stream_data() { addRows(kStreams); }
    void stream() {
        const StreamCase& c = currentCase(kStreams);
        FetchOutput out;
        QStringList lines;
        for (const QByteArray& chunk : c.chunks)
            lines += out.consume(chunk);
        if (out.hasRest())
            lines << out.takeRest();
        QCOMPARE(lines, c.lines);
    }

    // 99-unit lines with a surrogate pair at units 3-4: the first cut lands
    // inside one and moves past it; the log never exceeds 120,000 characters.
    void logBound() {
        FetchLog log;
        const QString line = QStringLiteral("abc\U0001F3B5") + QString(93, u'a');
        qsizetype firstCut = 0;
        for (int i = 0; i < 3000; ++i) {
            if (const qsizetype cut = log.append(line); cut && !firstCut)
                firstCut = cut;
            QVERIFY(log.characters() <= FetchLog::kMaxChars);
        }
        QCOMPARE(firstCut, FetchLog::kCut + 1);
        QVERIFY(!log.text().front().isLowSurrogate());
        QCOMPARE(log.characters(), graphemeCount(log.text()));
    }
};

QL_TEST_MAIN_CORE(FetchProtocolTest)
#include "FetchProtocolTest.moc"
