// Guards against: a guest DJ that queues the wrong kind of track, repeats itself or forgets
// too much, and a Sonic Adventure path that strays from the line between two sounds.
#include "listening/DjPicks.h"
#include "listening/AdventurePath.h"
#include "listening/RadioPicks.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QRandomGenerator>

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>

using namespace ql;

namespace {

using Vec = std::vector<double>;
const Vec kNone; // no vector: never analysed, or its analysis failed
const Vec kOrigin{0, 0, 0, 0};
const Vec kMiddle{0.5, 0.6, 0.4, 0.5};

// A row as the App builds it: the artist normalised, the decade from the year.
SoundRow r(qint64 id, const QString& artist, qint64 year, const Vec& v) {
    const Sonic record{0, 0, 0, 0, year, !v.empty()};
    SoundRow row = soundRowOf(Track{id, {}, {}, artist}, &record);
    row.vec = v.empty() ? std::nullopt : std::optional(v);
    return row;
}
Vec x(double d) {
    return {d, 0, 0, 0};
}

// clang-format off
struct ScoreCase { const char* name; SoundRow seed, row; double want; };
const std::vector<ScoreCase> kScores = {
    {"sound falls linearly", r(1, "A", 0, kOrigin), r(2, "B", 0, x(0.5)), 1.6},
    {"no sound term from distance 1", r(1, "A", 0, kOrigin), r(2, "B", 0, x(1.25)), 0},
    {"seed without a vector", r(1, "A", 0, kNone), r(2, "B", 0, kMiddle), 0},
    {"1987 seed, 1980 track: era", r(1, "A", 1987, kNone), r(2, "B", 1980, kNone), 1.2},
    {"1987 seed, 1990 track", r(1, "A", 1987, kNone), r(2, "B", 1990, kNone), 0},
    {"1987 seed, 1979 track", r(1, "A", 1987, kNone), r(2, "B", 1979, kNone), 0},
    {"year 0 on both: no era", r(1, "A", 0, kNone), r(2, "B", 0, kNone), 0},
    {"same artist after folding", r(1, "Beyoncé", 0, kNone), r(2, "ＢＥＹＯＮＣＥ", 0, kNone), 0.8},
    {"empty artist on both: no artist term", r(1, "", 0, kNone), r(2, "", 0, kNone), 0},
    {"every term", r(1, "A", 1987, kMiddle), r(2, "a", 1981, kMiddle), 5.2},
};

// Seed 1: "Lumen", 1987, at kMiddle or at the origin.
struct PickCase {
    const char* name; int style; SoundRow seed; std::vector<SoundRow> rows; QList<qint64> avoid;
    QList<qint64> want; bool ordered; // else compared as sets
};
std::vector<SoundRow> catalog(std::initializer_list<std::vector<SoundRow>> parts) {
    std::vector<SoundRow> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
// `n` rows from id `first` on with the same artist, year and vector.
std::vector<SoundRow> run(qint64 first, int n, const QString& artist, qint64 year, const Vec& v) {
    std::vector<SoundRow> rows;
    for (qint64 id = first; id < first + n; ++id)
        rows.push_back(r(id, artist, year, v));
    return rows;
}
QList<qint64> ids(qint64 first, qint64 last) {
    QList<qint64> out;
    for (qint64 id = first; id <= last; ++id)
        out << id;
    return out;
}
const SoundRow kSeed = r(1, "Lumen", 1987, kMiddle);
const SoundRow kSeedAtOrigin = r(1, "Lumen", 1987, kOrigin);
const std::vector<PickCase> kPicks = {
    {"contempo: the 8 nearest in sound", kDjContempo, kSeed,
     catalog({run(2, 8, "X", 0, kMiddle), run(10, 12, "X", 0, kOrigin)}), {}, ids(2, 9), false},
    {"contempo: the avoid set is never picked", kDjContempo, kSeed,
     catalog({run(2, 8, "X", 0, kMiddle), run(10, 2, "X", 1985, kOrigin), run(12, 10, "X", 0, kOrigin)}), {2, 3}, ids(4, 11), false},
    {"groupie: exactly the 3 others by the artist", kDjGroupie, kSeed,
     catalog({run(2, 3, "LUMEN", 0, kNone), run(5, 9, "Mist", 0, kMiddle)}), {}, ids(2, 4), false},
    {"groupie: the avoid set is left out", kDjGroupie, kSeed,
     catalog({run(2, 4, "Lumen", 0, kNone), run(6, 9, "Mist", 0, kMiddle)}), {5}, ids(2, 4), false},
    {"groupie: none left, 6 Contempo picks", kDjGroupie, kSeed,
     catalog({run(2, 6, "Mist", 0, kMiddle), run(8, 12, "Mist", 0, kOrigin)}), {}, ids(2, 7), false},
    {"groupie: an empty seed artist finds none", kDjGroupie, r(1, "", 0, kMiddle),
     catalog({run(2, 6, "", 0, kMiddle), run(8, 12, "", 0, kOrigin)}), {}, ids(2, 7), false},
    {"stretch: steps toward the target, ties to the earliest, target last", kDjStretch, kSeedAtOrigin,
     {r(2, "X", 0, x(0.36)), r(3, "X", 0, x(0.05)), r(4, "X", 0, x(0.05)), r(5, "X", 0, x(0.03)),
      r(6, "X", 0, x(0.02)), r(7, "X", 0, x(0.01)), r(8, "X", 0, x(0.02))}, {8}, {3, 4, 5, 6, 7, 2}, true},
    {"stretch: 0.35 and 1.3 are outside the window", kDjStretch, kSeedAtOrigin,
     catalog({{r(2, "X", 0, x(0.35)), r(3, "X", 0, x(1.3))}, run(4, 5, "X", 1985, kNone)}), {}, {2, 4, 5, 6, 7, 8}, false},
    {"stretch: a seed without a vector, 6 Contempo picks", kDjStretch, r(1, "Lumen", 1987, kNone),
     catalog({run(2, 6, "X", 1984, kMiddle), run(8, 5, "X", 1999, kMiddle)}), {}, ids(2, 7), false},
    {"stretch: every analysed track avoided, 6 Contempo picks", kDjStretch, kSeedAtOrigin,
     catalog({{r(2, "X", 0, x(0.5))}, run(3, 6, "X", 1983, kNone), run(9, 3, "X", 0, kNone)}), {2}, ids(3, 8), false},
    {"off picks nothing", kDjOff, kSeed, run(2, 5, "Lumen", 1987, kMiddle), {}, {}, true},
};

// Start "Lumen" at kMiddle, goal at kMiddle too (so every aim is kMiddle)
// unless a row says otherwise; `want` is the first path track for every seed.
Vec offset(double d) { return {0.5 + d, 0.6, 0.4, 0.5}; }
const Vec kFar{3, 3, 3, 3};
struct PathCase { const char* name; SoundRow start; Vec a, b; std::vector<SoundRow> pool; qint64 want; };
const Vec kB{1, 1.2, 0.8, 1};
const std::vector<PathCase> kPaths = {
    {"the first aim is 1/11 of the way", r(1, "S", 0, kOrigin), kOrigin, kB,
     catalog({run(10, 5, "X", 0, kFar), {r(15, "X", 0, {1 / 11.0, 1.2 / 11, 0.8 / 11, 1 / 11.0}), r(16, "X", 0, kOrigin),
              r(17, "X", 0, {2 / 11.0, 2.4 / 11, 1.6 / 11, 2 / 11.0})}, run(18, 22, "X", 0, kFar)}), 15},
    {"equal distance: another artist beats the same one", r(1, "Lumen", 0, kMiddle), kMiddle, kMiddle,
     catalog({{r(10, "lumen", 0, offset(0.25)), r(11, "Mist", 0, offset(-0.25))}, run(12, 3, "X", 0, kFar)}), 11},
    {"folded artists are the same artist", r(1, "Beyoncé", 0, kMiddle), kMiddle, kMiddle,
     catalog({{r(10, "ＢＥＹＯＮＣＥ", 0, offset(0.25)), r(11, "Mist", 0, offset(-0.25))}, run(12, 3, "X", 0, kFar)}), 11},
    {"an empty artist is never surcharged, even after one", r(1, "", 0, kMiddle), kMiddle, kMiddle,
     catalog({{r(10, "", 0, offset(0.25)), r(11, "Mist", 0, offset(-0.296875))}, run(12, 3, "X", 0, kFar)}), 10},
    {"0.047 apart: the nearer wins though it comes second", r(1, "S", 0, kMiddle), kMiddle, kMiddle,
     catalog({{r(10, "X", 0, offset(0.296875)), r(11, "Y", 0, offset(-0.25))}, run(12, 3, "X", 0, kFar)}), 11},
    {"0.047 apart: the nearer wins when it comes first", r(1, "S", 0, kMiddle), kMiddle, kMiddle,
     catalog({{r(10, "X", 0, offset(0.25)), r(11, "Y", 0, offset(-0.296875))}, run(12, 3, "X", 0, kFar)}), 10},
};
// clang-format on

} // namespace

class DjPicksTest : public QObject {
    Q_OBJECT
private slots:
    void score_data() { test::addRows(kScores); }
    void score() {
        const ScoreCase& c = test::currentCase(kScores);
        const double got = djScore(c.seed, c.row, c.seed.decade, 0);
        QVERIFY2(qAbs(got - c.want) < 1e-9, qPrintable(QString::number(got)));
        // The DJ's spread and the Adventure's jitter are half-open: the
        // largest draw stays below the top.
        const quint64 top = std::numeric_limits<quint64>::max();
        QVERIFY(halfOpenDraw(top, 0.8) < 0.8 && halfOpenDraw(top, 0.04) < 0.04);
    }

    // Every row over many seeds: the picks are the wanted ones and never
    // touch the avoid set.
    void picks_data() { test::addRows(kPicks); }
    void picks() {
        const PickCase& c = test::currentCase(kPicks);
        const QSet<qint64> avoid(c.avoid.cbegin(), c.avoid.cend());
        for (quint32 seed = 1; seed <= 50; ++seed) {
            QRandomGenerator random(seed);
            const std::vector<qint64> picks = djPicks(c.style, c.rows, c.seed, avoid, random);
            QList<qint64> got(picks.begin(), picks.end()), want = c.want;
            if (!c.ordered) {
                std::ranges::sort(got);
                std::ranges::sort(want);
            }
            QCOMPARE(got, want);
        }
    }

    // 12 tracks by the artist: 8 of them, and a second draw chooses otherwise.
    void groupieDraws() {
        const std::vector<SoundRow> rows = run(2, 12, "Lumen", 0, kNone);
        QRandomGenerator random(5);
        const std::vector<qint64> first = djPicks(kDjGroupie, rows, kSeed, {}, random);
        const std::vector<qint64> second = djPicks(kDjGroupie, rows, kSeed, {}, random);
        QCOMPARE(first.size(), std::size_t(8));
        QCOMPARE(second.size(), std::size_t(8));
        QVERIFY(first != second);
    }

    // The memory keeps the newest 40: the 41st pick pushes the oldest out.
    void memory() {
        QCOMPARE(djRemember(ids(1, 40), {41}), ids(2, 41));
        QCOMPARE(djRemember(ids(1, 35), {36, 37, 38, 39, 40, 41, 42, 43}), ids(4, 43));
        QCOMPARE(djRemember({}, {7, 8}), QList<qint64>({7, 8}));
    }

    // The memo kept between refills answers as a fresh gathering after each
    // change to the catalog or the index.
    void memoFollowsChanges() {
        std::vector<Track> tracks;
        QHash<QString, Sonic> index;
        for (qint64 id = 1; id <= 4; ++id) {
            tracks.push_back(Track{id, QStringLiteral("/m/%1.flac").arg(id), {}, "Lumen"});
            index.insert(tracks.back().path, Sonic{100, -20, 5, 0.1, 1990, true});
        }
        SoundMemo memo;
        const std::vector<std::function<void()>> changes = {
            [] {},
            [&] { tracks[0].artist = "Mist"; },
            [&] { index[tracks[1].path] = Sonic(); },
            [&] { index.remove(tracks[2].path); },
            [&] { index[tracks[3].path].year = 2001; },
            [&] { tracks[1].path = tracks[3].path; },
            [&] { tracks[2].id = 9; },
            [&] { tracks.pop_back(); },
            [&] {
                tracks.push_back(Track{5, "/m/5.flac", {}, "ＬＵＭＥＮ"});
            }};
        for (const auto& change : changes) {
            change();
            const std::vector<SoundRow>& got = memo.rows(tracks, index);
            QCOMPARE(got.size(), tracks.size());
            for (std::size_t i = 0; i < tracks.size(); ++i) {
                const auto record = index.constFind(tracks[i].path);
                const SoundRow want =
                    soundRowOf(tracks[i], record == index.cend() ? nullptr : &*record);
                QCOMPARE(std::tuple(got[i].id, got[i].artist, got[i].hasArtist, got[i].decade,
                                    got[i].vec),
                         std::tuple(want.id, want.artist, want.hasArtist, want.decade, want.vec));
            }
        }
    }

    // Over many seeds the first track is always the wanted one; every path
    // uses min(10, pool) distinct pool tracks.
    void path_data() { test::addRows(kPaths); }
    void path() {
        const PathCase& c = test::currentCase(kPaths);
        std::vector<SoundRow> rows = c.pool;
        rows.insert(rows.begin(), c.start);
        rows.push_back(r(2, "Goal", 0, c.b));
        rows.push_back(r(3, "Unanalysed", 0, kNone));
        const std::vector<std::size_t> pool = adventurePool(rows, 1, 2);
        QCOMPARE(pool.size(), c.pool.size());
        for (quint32 seed = 1; seed <= 200; ++seed) {
            QRandomGenerator random(seed);
            const std::vector<qint64> path = adventurePath(rows, pool, c.start, c.a, c.b, random);
            QCOMPARE(path.front(), c.want);
            QCOMPARE(path.size(), std::min<std::size_t>(10, c.pool.size()));
            QSet<qint64> seen(path.begin(), path.end());
            QCOMPARE(seen.size(), qsizetype(path.size()));
            QVERIFY(!seen.contains(1) && !seen.contains(2) && !seen.contains(3));
        }
    }
};

QL_TEST_UNIT(DjPicksTest)
#include "DjPicksTest.moc"
