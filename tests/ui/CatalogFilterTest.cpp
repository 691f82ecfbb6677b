// Guards against: tracks wrongly kept or dropped by a filter, biased shuffles.
#include "ui/CatalogFilter.h"
#include "ui/SearchMemo.h"
#include "ui/ShuffleOrder.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

using namespace ql;

namespace {

Track track(qint64 id, const QString& path, const QString& title = "t", const QString& artist = "a",
            const QString& album = "b") {
    return Track{id, path, title, artist, album, 0, {}};
}

// A small catalog over two folders and a subfolder.
std::vector<Track> catalog() {
    return {track(1, "/Music/A/01 Intro.flac", "Intro", "Lumen", "Harbor"),
            track(2, "/Music/A/Song.FLAC", "Song", "Lumen", "Harbor"),
            track(3, "/Music/A/B/deep.mp3", "Deep", "Other", "Below"),
            track(4, "/Music/C/README", "Readme", "Nobody", "None"),
            track(5, "/Music/C/track.flac", "Track", "Lumen", "Night")};
}

TrackIds matchedIds(const MatchInput& in) {
    const std::vector<Track> rows = catalog();
    SearchMemo memo;
    TrackIds ids;
    for (const std::size_t i : matchedRows(rows, in, memo))
        ids.push_back(rows[i].id);
    return ids;
}

} // namespace

class CatalogFilterTest : public QObject {
    Q_OBJECT
private slots:
    void matchStages_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<TrackIds>("ids");
        const QString none;
        // clang-format off
        QTest::newRow("blanks only match all")
            << " \n\t " << "" << none << none << TrackIds{1, 2, 3, 4, 5};
        QTest::newRow("search keeps catalog order")
            << "lumen" << "" << none << none << TrackIds{1, 2, 5};
        QTest::newRow("folder holds direct children only")
            << "" << "/Music/A" << none << none << TrackIds{1, 2};
        QTest::newRow("format .flac in any case")
            << "" << "" << "format" << ".flac" << TrackIds{1, 2, 5};
        QTest::newRow("format dot alone: no extension")
            << "" << "" << "format" << "." << TrackIds{4};
        QTest::newRow("album is case-sensitive") << "" << "" << "album" << "harbor" << TrackIds{};
        QTest::newRow("artist and search") << "song" << "" << "artist" << "Lumen" << TrackIds{2};
        QTest::newRow("genre known") << "" << "" << "genre" << "Jazz" << TrackIds{1};
        QTest::newRow("unknown genre compares empty")
            << "" << "" << "genre" << "" << TrackIds{2, 3, 4, 5};
        // clang-format on
    }
    void matchStages() {
        QFETCH(QString, search);
        QFETCH(QString, folder);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(TrackIds, ids);
        const GenreMap genres{{"/Music/A/01 Intro.flac", "Jazz"}};
        MatchInput in;
        in.searchText = search;
        in.selectedFolder = folder;
        if (!key.isNull())
            in.cellFilter = CellFilter{key, value};
        in.genres = &genres;
        QCOMPARE(matchedIds(in), ids);
    }

    void orderRules_data() {
        QTest::addColumn<bool>("smart");
        QTest::addColumn<bool>("shuffled");
        QTest::addColumn<TrackIds>("stored");
        QTest::addColumn<TrackIds>("filtered");
        QTest::addColumn<TrackIds>("ordered");
        QTest::newRow("plain list keeps catalog order, no order kept")
            << false << false << TrackIds{5, 1} << TrackIds{1, 2, 3} << TrackIds{};
        QTest::newRow("smart list wins over shuffle and empties the order")
            << true << true << TrackIds{3, 2, 1} << TrackIds{3, 1} << TrackIds{};
        QTest::newRow("shuffle keeps a stored order")
            << false << true << TrackIds{3, 1, 2} << TrackIds{3, 1, 2} << TrackIds{3, 1, 2};
    }
    void orderRules() {
        QFETCH(bool, smart);
        QFETCH(bool, shuffled);
        QFETCH(TrackIds, stored);
        QFETCH(TrackIds, filtered);
        QFETCH(TrackIds, ordered);
        const std::vector<Track> matched{track(1, "/m/1"), track(2, "/m/2"), track(3, "/m/3")};
        OrderInput in;
        if (smart) {
            // A smart list of its own order and content: odd ids, last first.
            in.smartRows = [](const std::vector<Track>& rows, const std::vector<std::size_t>& at) {
                std::vector<std::size_t> out;
                for (auto it = at.rbegin(); it != at.rend(); ++it)
                    if (rows[*it].id % 2)
                        out.push_back(*it);
                return out;
            };
        }
        in.shuffled = shuffled;
        in.orderedIDs = stored;
        QRandomGenerator rng(7);
        const FilterResult r = orderStage(matched, in, rng);
        QCOMPARE(trackIds(r.filtered), filtered);
        QCOMPARE(r.orderedIDs, ordered);
    }

    // Whatever the random source gives, a new order of two or more tracks is
    // never the order on screen.
    void newOrderAlwaysDiffersFromTheShownOne_data() {
        QTest::addColumn<TrackIds>("shown");
        QTest::newRow("two tracks") << TrackIds{1, 2};
        QTest::newRow("ten tracks") << TrackIds{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    }
    void newOrderAlwaysDiffersFromTheShownOne() {
        QFETCH(TrackIds, shown);
        TrackIds listed = shown;
        std::sort(listed.begin(), listed.end());
        for (quint32 seed = 0; seed < 300; ++seed) {
            QRandomGenerator rng(seed);
            const TrackIds order = newOrder(listed, shown, rng);
            QVERIFY2(order != shown, qPrintable(QString("seed %1").arg(seed)));
            TrackIds sorted = order;
            std::sort(sorted.begin(), sorted.end());
            QCOMPARE(sorted, listed);
        }
    }

    void newOrderEdgeCases_data() {
        QTest::addColumn<TrackIds>("listed");
        QTest::addColumn<TrackIds>("shown");
        QTest::addColumn<TrackIds>("order");
        QTest::newRow("one track is just that track") << TrackIds{7} << TrackIds{7} << TrackIds{7};
        QTest::newRow("no tracks") << TrackIds{} << TrackIds{1} << TrackIds{};
        // Two copies of one id: only one distinct order exists; asking for a
        // different one must not loop for ever.
        QTest::newRow("repeated id ends") << TrackIds{5, 5} << TrackIds{5} << TrackIds{5};
    }
    void newOrderEdgeCases() {
        QFETCH(TrackIds, listed);
        QFETCH(TrackIds, shown);
        QFETCH(TrackIds, order);
        QRandomGenerator rng(1);
        QCOMPARE(newOrder(listed, shown, rng), order);
    }

    // A biased shuffle (for example one that never leaves an element in its
    // place) misses some of the six orders of three ids.
    void everyOrderOfThreeCanComeUp() {
        std::set<TrackIds> seen;
        for (quint32 seed = 0; seed < 400; ++seed) {
            QRandomGenerator rng(seed);
            TrackIds ids{1, 2, 3};
            shuffleIds(ids, rng);
            seen.insert(ids);
        }
        QCOMPARE(seen.size(), std::size_t(6));
    }

    // Every arrangement of a short list is as likely as any other: each
    // count of 60,000 shuffles lies within 5 % of its share (over 5
    // standard deviations for a fair shuffle, from a fixed seed).
    void shuffleIsUniform_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("two ids") << 2;
        QTest::newRow("three ids") << 3;
        QTest::newRow("four ids") << 4;
    }
    void shuffleIsUniform() {
        QFETCH(int, size);
        TrackIds ids;
        for (int i = 1; i <= size; ++i)
            ids.push_back(i);
        std::map<TrackIds, int> seen;
        QRandomGenerator rng(11);
        constexpr int kRuns = 60000;
        for (int run = 0; run < kRuns; ++run) {
            TrackIds order = ids;
            shuffleIds(order, rng);
            ++seen[order];
        }
        int arrangements = 1;
        for (int i = 2; i <= size; ++i)
            arrangements *= i;
        QCOMPARE(int(seen.size()), arrangements);
        const double share = double(kRuns) / arrangements;
        for (const auto& [order, count] : seen)
            QVERIFY2(std::abs(count - share) < share * 0.05, qPrintable(QString::number(count)));
    }

    void keptOrder_data() {
        QTest::addColumn<TrackIds>("stored");
        QTest::addColumn<TrackIds>("listed");
        QTest::addColumn<TrackIds>("kept");   // the start of the result, exactly
        QTest::addColumn<TrackIds>("joined"); // the rest, in any order
        QTest::newRow("unchanged list")
            << TrackIds{3, 1, 2} << TrackIds{1, 2, 3} << TrackIds{3, 1, 2} << TrackIds{};
        QTest::newRow("vanished ids leave, others keep their places")
            << TrackIds{4, 3, 1, 2} << TrackIds{1, 2, 4} << TrackIds{4, 1, 2} << TrackIds{};
        QTest::newRow("new ids come after all existing ones")
            << TrackIds{3, 1} << TrackIds{1, 2, 3, 9, 8} << TrackIds{3, 1} << TrackIds{2, 8, 9};
        QTest::newRow("both at once")
            << TrackIds{5, 3, 1} << TrackIds{1, 3, 7} << TrackIds{3, 1} << TrackIds{7};
        QTest::newRow("a repeated stored id counts once")
            << TrackIds{2, 1, 2, 1} << TrackIds{1, 2} << TrackIds{2, 1} << TrackIds{};
        QTest::newRow("nothing left of the old order")
            << TrackIds{8, 9} << TrackIds{1, 2} << TrackIds{} << TrackIds{1, 2};
    }
    void keptOrder() {
        QFETCH(TrackIds, stored);
        QFETCH(TrackIds, listed);
        QFETCH(TrackIds, kept);
        QFETCH(TrackIds, joined);
        QRandomGenerator rng(3);
        const TrackIds out = ql::keptOrder(stored, listed, rng);
        QCOMPARE(out.size(), kept.size() + joined.size());
        QCOMPARE(TrackIds(out.begin(), out.begin() + kept.size()), kept);
        TrackIds rest(out.begin() + kept.size(), out.end());
        std::sort(rest.begin(), rest.end());
        QCOMPARE(rest, joined);
    }

    // The quick paths a pass takes with the catalog worker's help (rows
    // shuffled with their ids, tracks taken from a shared catalog) give what
    // the plain pass gives for the same random source.
    void quickPathsAgreeWithThePlainPass_data() {
        QTest::addColumn<bool>("shuffled");
        QTest::addColumn<TrackIds>("shown");
        QTest::newRow("catalog order") << false << TrackIds{};
        QTest::newRow("new shuffle") << true << TrackIds{};
        QTest::newRow("new shuffle, never the order shown") << true << TrackIds{5, 1, 2, 4};
    }
    void quickPathsAgreeWithThePlainPass() {
        QFETCH(bool, shuffled);
        QFETCH(TrackIds, shown);
        const std::vector<Track> rows = catalog();
        const std::vector<std::size_t> matched{0, 1, 3, 4};
        OrderInput plain;
        plain.shuffled = shuffled;
        plain.resetOrder = true;
        std::vector<Track> shownTracks;
        for (const qint64 id : shown)
            shownTracks.push_back(rows[std::size_t(id - 1)]);
        const TrackList shownList(shownTracks);
        plain.shown = &shownList;
        OrderInput quick = plain;
        quick.shared = std::make_shared<const std::vector<Track>>(rows);
        quick.distinctIds = true;
        const IdRows index(rows);
        quick.idRows = &index;
        for (const quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
            QRandomGenerator a(seed), b(seed);
            const FilterResult expected = orderStage(rows, matched, plain, a);
            const FilterResult got = orderStage(rows, matched, quick, b);
            QCOMPARE(got.filtered, expected.filtered);
            QCOMPARE(got.orderedIDs, expected.orderedIDs);
        }
    }

    // A kept shuffle order followed through the catalog's id -> row table
    // and the pass marks gives what keptOrder gives, for the same random
    // source, also when the marks were left by passes before.
    void keptRowsAgreeWithKeptOrder_data() {
        QTest::addColumn<TrackIds>("stored");
        QTest::addColumn<std::vector<std::size_t>>("matched");
        QTest::newRow("unchanged list")
            << TrackIds{3, 1, 2, 5, 4} << std::vector<std::size_t>{0, 1, 2, 3, 4};
        QTest::newRow("vanished ids leave, new ones join")
            << TrackIds{4, 9, 1} << std::vector<std::size_t>{0, 1, 3, 4};
        QTest::newRow("a repeated stored id counts once")
            << TrackIds{2, 1, 2, 1} << std::vector<std::size_t>{0, 1, 2};
        QTest::newRow("nothing left of the old order")
            << TrackIds{8, 9} << std::vector<std::size_t>{1, 4};
    }
    void keptRowsAgreeWithKeptOrder() {
        QFETCH(TrackIds, stored);
        QFETCH(std::vector<std::size_t>, matched);
        const std::vector<Track> rows = catalog();
        const IdRows index(rows);
        QVERIFY(index.distinct());
        RowMarks marks;
        TrackIds listed;
        for (const std::size_t r : matched)
            listed.push_back(rows[r].id);
        for (const quint32 seed : {1u, 2u, 3u}) {
            QRandomGenerator a(seed), b(seed);
            const TrackIds expected = ql::keptOrder(stored, listed, a);
            TrackIds got;
            for (const RowId& r : keptRows(stored, matched, rows, index, marks, b)) {
                QCOMPARE(rows[r.row].id, r.id);
                got.push_back(r.id);
            }
            QCOMPARE(got, expected);
        }
        // The whole pass, with the table, the marks and a shared catalog, gives
        // the visible tracks the plain pass gives.
        OrderInput plain;
        plain.shuffled = true;
        plain.orderedIDs = stored;
        OrderInput quick = plain;
        quick.idRows = &index;
        quick.marks = &marks;
        quick.shared = std::make_shared<const std::vector<Track>>(rows);
        QRandomGenerator a(7), b(7);
        const FilterResult expected = orderStage(rows, matched, plain, a);
        const FilterResult got = orderStage(rows, matched, quick, b);
        QCOMPARE(got.filtered, expected.filtered);
        QCOMPARE(got.orderedIDs, expected.orderedIDs);
        // A catalog with a repeated id is not one the table can answer for.
        std::vector<Track> repeated = rows;
        repeated.push_back(track(2, "/Music/copy.flac"));
        QVERIFY(!IdRows(repeated).distinct());
        QCOMPARE(IdRows(repeated).rowOf(2), std::ptrdiff_t(1));
        QCOMPARE(index.rowOf(77), std::ptrdiff_t(-1));
    }

    void shuffledPassMapsOrderToTracks() {
        // Ids out of catalog order and a repeated id: each id once, carrying
        // its first track.
        const std::vector<Track> matched{track(2, "/m/2"), track(1, "/m/1"), track(2, "/m/dup")};
        OrderInput in;
        in.shuffled = true;
        in.orderedIDs = {1, 2};
        QRandomGenerator rng(5);
        const FilterResult r = orderStage(matched, in, rng);
        QCOMPARE(trackIds(r.filtered), (TrackIds{1, 2}));
        QCOMPARE(r.filtered[1].path, QString("/m/2"));
        QCOMPARE(r.orderedIDs, (TrackIds{1, 2}));
    }
};

QL_TEST_UNIT(CatalogFilterTest)
#include "CatalogFilterTest.moc"
