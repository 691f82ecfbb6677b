// Guards against: lyrics lines at wrong times or with wrong text; a wrong search result kept.
// The LRC reading and the choice among the web service's answers, from text
// and JSON values.
#include "listening/LyricsLookup.h"
#include "listening/LyricsText.h"

#include "CaseRows.h"
#include "TestHome.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace ql;

namespace {

// Each line as "<seconds>:<drawn text>", in order.
QString drawn(const std::vector<LyricLine>& lines) {
    QStringList out;
    for (const LyricLine& l : lines)
        out << QString::number(l.t) + u':' + lyricsDisplayText(l);
    return out.join(u'|');
}

struct ParseCase {
    const char* name;
    QString lrc;
    QString lines;
};

const std::vector<ParseCase> kParse = {
    {"two tags, one text", "[00:10.00][00:40.00]Chorus", "10:Chorus|40:Chorus"},
    {"text between tags is dropped", "[00:05.00]Hello [00:06.00]World", "5:World|6:World"},
    {"minutes past 59", "[75:00]Late", "4500:Late"},
    {"colon before the hundredths", "[00:12:34]Text", ""},
    {"hours", "[1:02:03]Text", ""},
    {"bare tag draws a note", "[00:01.50]", "1.5:♪"},
    {"equal times keep file order", "[00:02]B\n[00:01]A\n[00:02]C", "1:A|2:B|2:C"},
    {"metadata and untimed text", "[ar:Name]\nwords\n[00:03] \tThree \t", "3:Three"},
    {"line feeds", "[00:01]One\n[00:02]Two\n", "1:One|2:Two"},
    {"CR LF", "[00:01]One\r\n[00:02]Two\r\n", "1:One|2:Two"},
    {"lone CR", "[00:01]One\r[00:02]Two\r", "1:One|2:Two"},
    {"400-digit minute skipped", "[" + QString(400, u'9') + ":00][00:07]Near", "7:Near"},
    {"other script's digits skipped", "[٠١:٠٠]X\n[00:04]Y", "4:Y"},
};

QJsonValue json(const char* text) {
    const QJsonDocument d = QJsonDocument::fromJson(text);
    return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
}

struct ChoiceCase {
    const char* name;
    const char* first;  // the answer to the first request (empty: none)
    const char* search; // the search's answer (empty: none)
    double duration;
    QString chosen; // synced + "/" + plain, or "none"
};

const std::vector<ChoiceCase> kChoice = {
    {"timed first answer", R"({"syncedLyrics":"[00:01]a","plainLyrics":"a"})", "", 1, "[00:01]a/a"},
    {"untimed first answer goes on", R"({"plainLyrics":"a","syncedLyrics":null})", "", 1, "none"},
    {"nearest duration", "", R"([{"syncedLyrics":"far","duration":100},
        {"syncedLyrics":"near","duration":210}])",
     215.9, "near/"},
    {"tie keeps the first", "", R"([{"syncedLyrics":"one","duration":216},
        {"syncedLyrics":"two","duration":215}])",
     215.5, "one/"},
    {"missing duration counts as 0", "", R"([{"syncedLyrics":"x"},
        {"syncedLyrics":"y","duration":"9"}])",
     -1, "x/"},
    {"no timed result: first plain", "", R"([{"plainLyrics":"p"},{"plainLyrics":"q"}])", 1, "/p"},
    {"no timed, no plain", "", R"([{"duration":1},{"plainLyrics":"q"}])", 1, "none"},
    {"not all objects", "", R"([{"syncedLyrics":"x"},3])", 1, "none"},
    {"not a number: track counts as 0", "", R"([{"syncedLyrics":"a","duration":5},
        {"syncedLyrics":"b","duration":1}])",
     qQNaN(), "b/"},
};

} // namespace

class LyricsUnitsTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data() { test::addRows(kParse); }
    void parse() {
        const ParseCase& c = test::currentCase(kParse);
        QCOMPARE(drawn(parseLyrics(c.lrc)), c.lines);
    }

    void choice_data() { test::addRows(kChoice); }
    void choice() {
        const ChoiceCase& c = test::currentCase(kChoice);
        std::optional<LyricsData> d =
            *c.first ? syncedAnswer(json(c.first)) : chooseSearchResult(json(c.search), c.duration);
        QCOMPARE(d ? d->synced + u'/' + d->plain : QStringLiteral("none"), c.chosen);
    }

    void sidecar_data() {
        QTest::addColumn<QString>("audio");
        QTest::addColumn<QString>("lrc");
        QTest::newRow("extension") << "/Music/Song.flac"
                                   << "/Music/Song.lrc";
        QTest::newRow("dot in a folder") << "/Music/a.b/Song"
                                         << "/Music/a.b/Song.lrc";
        QTest::newRow("last extension") << "/Music/Song.live.mp3"
                                        << "/Music/Song.live.lrc";
        QTest::newRow("leading dot only") << "/Music/.hidden"
                                          << "/Music/.hidden.lrc";
    }
    void sidecar() {
        QFETCH(QString, audio);
        QFETCH(QString, lrc);
        QCOMPARE(sidecarPath(audio), lrc);
    }
};

QL_TEST_MAIN_CORE(LyricsUnitsTest)
#include "LyricsUnitsTest.moc"
