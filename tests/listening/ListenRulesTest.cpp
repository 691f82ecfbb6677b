// Guards against: smart lists that hold or order the wrong tracks, and radio
// scores or picks that misjudge a track's likeness.
#include "listening/RadioPicks.h"
#include "listening/SmartLists.h"

#include "CaseRows.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <QRandomGenerator>

#include <limits>

using namespace ql;

namespace {

constexpr double kNow = 1'000'000'000;
const QString kHiRes = QStringLiteral("FLAC 24/96 ★");

// Track n on "/m/<n>.flac": its date, statistics (none when plays < 0) and label.
struct Fact {
    double added;
    qint64 plays;
    double last;
    QString label;
};
// clang-format off
const std::vector<Fact> kFacts = {
    {kNow - kRecentSpan, 2, 100, ""},             // 1: exactly 30 days old
    {kNow - kRecentSpan + 1, 2, 200, ""},         // 2: one second inside
    {0, 5, 50, kHiRes},                           // 3: no date
    {kNow - kWeekSpan, -1, 0, "확인 불가"},        // 4: exactly a week old, no statistics
    {kNow - kWeekSpan + 1, 0, 0, "MP3 320k ⬆"},   // 5: statistics without a play
    {kNow - 10, 2, 200, "FLAC 16/44.1"},          // 6: keys equal to 2's; a favourite
    {0, -1, 0, ""},                               // 7: nothing known
};
// clang-format on

struct SmartCase {
    const char* name;
    int mode;
    QList<qint64> want;
};
const std::vector<SmartCase> kSmart = {
    {"30 days: strict cut-off, no date never, newest first", 1, {6, 5, 4, 2}},
    {"this week: strict cut-off", 4, {6, 5}},
    {"most played: plays, then last play, then catalog order", 2, {3, 2, 6, 1}},
    {"never played: no statistics counts as never", 3, {4, 5, 7}},
    {"favourites", 5, {6}},
    {"hi-res: no unverifiable or lossy label", 6, {3}},
    {"a stored 9 passes the list unchanged", 9, {1, 2, 3, 4, 5, 6, 7}},
    {"a stored negative passes it unchanged", -1, {1, 2, 3, 4, 5, 6, 7}},
};

struct ScoreCase {
    const char* name;
    Track seed, candidate;
    qint64 plays;
    double want;
};
Track t(const QString& artist, const QString& album, const QString& path = "/m/x/1.flac") {
    return Track{0, path, {}, artist, album, 0, {}};
}
// clang-format off
const std::vector<ScoreCase> kScores = {
    {"same artist after folding", t("Beyoncé", ""), t("ＢＥＹＯＮＣＥ", "", "/n/2.flac"), 0, 5},
    {"candidate credit holds the seed's artist", t("IU", ""), t("IU & Suga", "", "/n/2.flac"), 0, 3},
    {"seed credit holds the candidate's artist", t("IU & Suga", ""), t("iu", "", "/n/2.flac"), 0, 3},
    {"empty seed artist: no artist term", t("", ""), t("", "", "/n/2.flac"), 0, 0},
    {"empty candidate artist is never related", t("IU", ""), t("", "", "/n/2.flac"), 0, 0},
    {"empty seed album: no album term", t("A", ""), t("B", "", "/n/2.flac"), 0, 0},
    {"same album after folding", t("A", "Palette"), t("B", "PALETTE", "/n/2.flac"), 0, 3},
    {"same folder", t("A", ""), t("B", "", "/m/x/2.flac"), 0, 1},
    {"a folder that merely starts alike", t("A", "", "/m/x/1.flac"), t("B", "", "/m/xy/2.flac"), 0, 0},
    {"folders compare exactly", t("A", "", "/m/x/1.flac"), t("B", "", "/m/X/2.flac"), 0, 0},
    {"3 plays", t("A", ""), t("B", "", "/n/2.flac"), 3, 0.9},
    {"5 plays reach the cap", t("A", ""), t("B", "", "/n/2.flac"), 5, 1.5},
    {"every term", t("A", "P"), t("a", "p"), 9, 10.5},
};
// clang-format on

struct PickCase {
    const char* name;
    int tracks;     // catalog size; the seed is track 1
    int sameArtist; // tracks 2 … sameArtist+1 share the seed's artist
    int want;       // ids queued
};
const std::vector<PickCase> kPicks = {
    {"100 tracks: 40 without the seed, kin first", 100, 3, 40},
    {"41 tracks: every other one", 41, 3, 40},
    {"a catalog of the seed alone", 1, 0, 0},
};

QList<qint64> ids(const std::vector<Track>& tracks) {
    QList<qint64> out;
    for (const Track& tr : tracks)
        out << tr.id;
    return out;
}

} // namespace

class ListenRulesTest : public QObject {
    Q_OBJECT
private slots:
    void smart_data() { test::addRows(kSmart); }
    void smart() {
        const SmartCase& c = test::currentCase(kSmart);
        QHash<QString, PlayStat> stats;
        QHash<QString, double> added;
        QHash<QString, QString> qual;
        QSet<QString> favorites{"/m/6.flac"};
        std::vector<Track> tracks;
        for (std::size_t i = 0; i < kFacts.size(); ++i) {
            const QString path = QStringLiteral("/m/%1.flac").arg(i + 1);
            tracks.push_back(Track{qint64(i + 1), path, {}, {}, {}, 0, {}});
            if (kFacts[i].added != 0)
                added[path] = kFacts[i].added;
            if (kFacts[i].plays >= 0)
                stats[path] = PlayStat{kFacts[i].plays, kFacts[i].last};
            if (!kFacts[i].label.isEmpty())
                qual[path] = kFacts[i].label;
        }
        const SmartFacts facts{&stats, &added, &qual, &favorites};
        QCOMPARE(ids(smartList(c.mode, tracks, facts, kNow)), c.want);
        QVERIFY(smartList(c.mode, {}, facts, kNow).empty());
    }

    void score_data() { test::addRows(kScores); }
    void score() {
        const ScoreCase& c = test::currentCase(kScores);
        const double got =
            radioScore(radioKeys(c.seed), radioKeys(c.candidate), c.plays, radioSpread(0));
        QVERIFY2(qAbs(got - c.want) < 1e-9, qPrintable(QString::number(got)));
        // The spread is half-open: the largest draw stays below 1.5.
        QVERIFY(radioSpread(std::numeric_limits<quint64>::max()) < 1.5);
    }

    void picks_data() { test::addRows(kPicks); }
    void picks() {
        const PickCase& c = test::currentCase(kPicks);
        std::vector<Track> rows;
        for (int i = 1; i <= c.tracks; ++i)
            rows.push_back(Track{i,
                                 QStringLiteral("/m/%1/%2.flac").arg(i % 7).arg(i),
                                 {},
                                 i <= c.sameArtist + 1 ? "Lumen" : QStringLiteral("A%1").arg(i),
                                 {},
                                 0,
                                 {}});
        RadioMemo memo;
        QRandomGenerator random(7);
        const std::vector<qint64> got = radioPicks(rows, rows[0], {}, memo, random);
        QCOMPARE(int(got.size()), c.want);
        QVERIFY(std::find(got.begin(), got.end(), 1) == got.end());
        for (int k = 0; k < c.sameArtist; ++k)
            QVERIFY(got[std::size_t(k)] >= 2 && got[std::size_t(k)] <= c.sameArtist + 1);
        if (c.tracks < 3)
            return;
        // A row whose artist changes is judged afresh by the same memo.
        rows[c.tracks - 1].artist = "lumen";
        const std::vector<qint64> again = radioPicks(rows, rows[0], {}, memo, random);
        QVERIFY(std::find(again.begin(), again.begin() + c.sameArtist + 1, c.tracks) !=
                again.begin() + c.sameArtist + 1);
    }
};

QL_TEST_UNIT(ListenRulesTest)
#include "ListenRulesTest.moc"
