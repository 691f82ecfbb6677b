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

const QByteArray kName = QStringLiteral("가나.flac").toUtf8();

const std::vector<StreamCase> kStreams = {
    {"split line", {"abc\ndef", "\n"}, {"abc", "def"}},
    {"rest at end", {"abc\nde", "f"}, {"abc", "def"}},
    {"character cut between reads", {kName.first(4), kName.sliced(4) + "\n"}, {"가나.flac"}},
    {"invalid byte", {"a\xff\n"}, {QStringLiteral("a\uFFFD")}},
    {"cut character at the end", {kName.first(4)}, {QStringLiteral("가\uFFFD")}},
    {"past the cap",
     {QByteArray(FetchOutput::kMaxLine + 1, 'x')},
     {QString(FetchOutput::kMaxLine + 1, u'x')}},
};

struct LineCase {
    const char* name;
    QString line;
    FetchLineKind kind;
    QString log;
    QString path;
};

const std::vector<LineCase> kLines = {
    {"saved", "  완료 [3/30]: /home/u/Downloads/Melon/Song.flac  ", FetchLineKind::Saved, "✓ Song",
     "/home/u/Downloads/Melon/Song.flac"},
    {"saved with CR", "완료 [1/2]: /x/A b.flac\r", FetchLineKind::Saved, "✓ A b", "/x/A b.flac"},
    {"done without separator", "완료 [3/30] x", FetchLineKind::Progress, "완료 [3/30] x", {}},
    {"spaces only", " \t ", FetchLineKind::Ignored, {}, {}},
    {"aborted", "중단: 없음", FetchLineKind::Error, "⚠ 중단: 없음", {}},
    {"unfinished", "미완료 2곡", FetchLineKind::Error, "⚠ 미완료 2곡", {}},
    {"halted", "새 요청 중단", FetchLineKind::Error, "⚠ 새 요청 중단", {}},
    {"skipped", "건너뜀 a", FetchLineKind::Skipped, "↷ 건너뜀 a", {}},
    {"batch", "이번 묶음 3곡", FetchLineKind::Summary, "이번 묶음 3곡", {}},
    {"album done", "앨범 처리 완료", FetchLineKind::Summary, "앨범 처리 완료", {}},
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

    void line_data() { addRows(kLines); }
    void line() {
        const LineCase& c = currentCase(kLines);
        const FetchLine got = classifyLine(c.line);
        QCOMPARE(got.kind, c.kind);
        QCOMPARE(got.log, c.log);
        QCOMPARE(got.path, c.path);
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
