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
// Tracks 1 … 7 on m(n): 1 exactly 30 days old, 2 one second younger, 3 no
// date, 4 exactly a week old and no statistics, 5 statistics without a play,
// 6 the same keys as 2 and a favourite, 7 nothing known.
// clang-format off
QString m(int n) { return QStringLiteral("/m/%1.flac").arg(n); }
const QHash<QString, double> kAdded = {{m(1), kNow - kRecentSpan}, {m(2), kNow - kRecentSpan + 1},
    {m(4), kNow - kWeekSpan}, {m(5), kNow - kWeekSpan + 1}, {m(6), kNow - 10}};
const QHash<QString, PlayStat> kStats = {{m(1), {2, 100}}, {m(2), {2, 200}}, {m(3), {5, 50}}, {m(5), {0, 0}}, {m(6), {2, 200}}};
const QHash<QString, QString> kQual = {{m(3), "FLAC 24/96 ★"}, {m(4), "확인 불가"}, {m(5), "MP3 320k ⬆"}, {m(6), "FLAC 16/44.1"}};
const QSet<QString> kFavorites = {m(6)};
// clang-format on

// clang-format off
struct SmartCase { const char* name; int mode; QList<qint64> want; };
// clang-format on
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

// clang-format off
struct ScoreCase { const char* name; Track seed, candidate; qint64 plays; double want; };
// clang-format on
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

} // namespace

class ListenRulesTest : public QObject {
    Q_OBJECT
private slots:
    void smart_data() { test::addRows(kSmart); }
    void smart() {
        const SmartCase& c = test::currentCase(kSmart);
        std::vector<Track> tracks;
        for (int n = 1; n <= 7; ++n)
            tracks.push_back(Track{n, m(n), {}, {}, {}, 0, {}});
        const SmartFacts facts{&kStats, &kAdded, &kQual, &kFavorites};
        QList<qint64> got;
        for (const Track& tr : smartList(c.mode, tracks, facts, kNow))
            got << tr.id;
        QCOMPARE(got, c.want);
        QVERIFY(smartList(c.mode, {}, facts, kNow).empty());
    }

    // The memo of the filter pass answers as a fresh reading after each change.
    void memoFollowsChanges() {
        std::vector<Track> rows;
        for (int n = 1; n <= 7; ++n)
            rows.push_back(Track{n, m(n), {}, {}, {}, 0, {}});
        QHash<QString, PlayStat> stats = kStats;
        QHash<QString, double> added = kAdded;
        QHash<QString, QString> qual = kQual;
        const SmartFacts facts{&stats, &added, &qual, &kFavorites};
        const std::vector<std::size_t> all{0, 1, 2, 3, 4, 5, 6}, some{1, 2, 5, 6};
        SmartMemo memo;
        const std::vector<std::function<void()>> changes = {
            [] {}, [&] { stats[m(1)].plays = 9; }, [&] { added[m(3)] = kNow; },
            [&] { qual[m(7)] = "DSD ★"; }, [&] { rows[6].path = m(1); }};
        for (const auto& change : changes) {
            change();
            for (int mode = 1; mode <= 6; ++mode) {
                for (const auto& matched : {all, some}) {
                    std::vector<Track> fresh;
                    for (const std::size_t i : matched)
                        fresh.push_back(rows[i]);
                    QList<qint64> want, got;
                    for (const Track& tr : smartList(mode, fresh, facts, kNow))
                        want << tr.id;
                    for (const std::size_t i : memo.select(mode, rows, matched, facts, kNow))
                        got << rows[i].id;
                    QCOMPARE(got, want);
                }
            }
        }
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

    // The memo kept between presses never answers for a row that changed.
    void memoFollowsRows() {
        std::vector<Track> rows = {t("Lumen", ""), t("A", "", "/n/1.flac"), t("B", "", "/n/2")};
        rows[1].id = 2, rows[2].id = 3;
        RadioMemo memo;
        QRandomGenerator random(7);
        QCOMPARE(radioPicks(rows, rows[0], {}, memo, random).size(), std::size_t(2));
        rows[2].artist = "LUMEN";
        QCOMPARE(radioPicks(rows, rows[0], {}, memo, random).front(), qint64(3));
    }
};

QL_TEST_UNIT(ListenRulesTest)
#include "ListenRulesTest.moc"
