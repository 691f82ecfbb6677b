// Guards against: a count label that counts another grouping than the tiles
// on screen, a genre scan that regroups a large list on the main thread at
// every batch, several groupings at once, or shows an outdated one last, and
// a launch into the genre grid that leaves unread files under "장르 미지정".
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/JsonCodec.h"
#include "app/UserDefaults.h"
#include "ui/AlbumGridModel.h"
#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/TabBar.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "ReplyPipe.h"
#include "StoredSettings.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QLabel>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

using namespace ql;

namespace {

// The stand-in ffprobe answers with the genre folder of the path,
// "file:/m/<genre>/<album>/<n>.flac", once "<stub>.hold" is gone.
const QByteArray kStub = "while [ -e \"$0.hold\" ]; do sleep 0.01; done\n"
                         "for a; do f=$a; done\n"
                         "g=${f#file:/m/}; printf '%s\\n' \"${g%%/*}\"\n";

// 28 tracks: 7 albums by 5 artists in 6 genres (the last Hangul).
struct Shelf {
    const char* genre;
    const char* artist;
    const char* album;
    int tracks;
};
// clang-format off
const std::vector<Shelf> kShelves = {{"Rock", "Lumen", "Dawn", 5}, {"Rock", "Lumen", "Noon", 3},
                                     {"Jazz", "Harbor", "Blue", 6}, {"Pop", "Echo", "Stone", 5},
                                     {"Folk", "River", "Glass", 4}, {"Soul", "Harbor", "Night", 3},
                                     {"발라드", "별빛", "사랑", 2}};
// clang-format on

// The shelves' tracks, each shelf `times` as long, in files of `extension`.
std::vector<Track> catalog(const std::vector<Shelf>& shelves, int times = 1,
                           const QString& extension = QStringLiteral("flac")) {
    std::vector<Track> rows;
    for (const Shelf& s : shelves)
        for (int i = 0; i < s.tracks * times; ++i) {
            const qint64 id = qint64(rows.size()) + 1;
            rows.push_back({id,
                            QStringLiteral("/m/%1/%2/%3.%4")
                                .arg(QString::fromUtf8(s.genre), QString::fromUtf8(s.album))
                                .arg(id)
                                .arg(extension),
                            QStringLiteral("T%1").arg(id),
                            QString::fromUtf8(s.artist),
                            QString::fromUtf8(s.album),
                            60,
                            {}});
        }
    return rows;
}

QByteArray listLine(const std::vector<Track>& tracks) {
    return *JsonCodec<Library>::encode(Library{tracks, false, {}}) + '\n';
}

// Steps: t<n> a click on tab segment n; c the backend's next catalog (two
// tracks of a new album added from the second on). Each step waits for the
// genre scan and the groupings to end.
struct CountCase {
    const char* name;
    bool pool;        // grouped on a pool thread (the catalog worker running)
    bool genresKnown; // every path has its genre: no scan
    int launchKind;   // the view kind stored before the launch
    int times;        // each shelf this many times as long
    const char* steps;
    QStringList labels; // after each step
};
// clang-format off
const std::vector<CountCase> kCounts = {
    {"tabs in turn", false, true, 1, 1, "c t0 t1 t3 t0",
     {"7 albums • 28 tracks", "7 albums • 28 tracks", "5 items • 28 tracks", "6 items • 28 tracks",
      "7 albums • 28 tracks"}},
    {"tabs in turn, grouped away", true, true, 1, 1, "c t0 t1 t3 t0",
     {"7 albums • 28 tracks", "7 albums • 28 tracks", "5 items • 28 tracks", "6 items • 28 tracks",
      "7 albums • 28 tracks"}},
    {"a catalog change in the album grid", false, true, 1, 1, "c c",
     {"7 albums • 28 tracks", "8 albums • 30 tracks"}},
    {"a catalog change, grouped away", true, true, 1, 1, "c c",
     {"7 albums • 28 tracks", "8 albums • 30 tracks"}},
    {"a restart into the genre grid", false, true, 3, 1, "c", {"6 items • 28 tracks"}},
    {"a restart into the genre grid, grouped away", true, true, 3, 1, "c",
     {"6 items • 28 tracks"}},
    {"a restart into the genre grid, genres never read", false, false, 3, 1, "c",
     {"6 items • 28 tracks"}},
    {"a restart into the genre grid, genres never read, grouped away", true, false, 3, 4, "c",
     {"6 items • 112 tracks"}},
    {"a restart into the genre grid, then new files", false, false, 3, 1, "c c",
     {"6 items • 28 tracks", "6 items • 30 tracks"}},
    {"the track list", false, true, 0, 1, "c t2", {"28 tracks", "28 tracks"}},
    {"a genre scan of 28 tracks", false, false, 1, 1, "c t3",
     {"7 albums • 28 tracks", "6 items • 28 tracks"}},
    {"a genre scan of three batches", false, false, 1, 4, "c t3",
     {"7 albums • 112 tracks", "6 items • 112 tracks"}},
    {"a genre scan of three batches, grouped away", true, false, 1, 4, "c t3",
     {"7 albums • 112 tracks", "6 items • 112 tracks"}},
};
// clang-format on

// The program's window over the stand-in ffprobe; with `pool` the catalog
// worker runs and every list of 10 tracks or more is grouped on a pool
// thread.
struct Window {
    QTemporaryDir stores; // a launch of its own: no catalog or genres of a row before
    QString stub = test::tempFile(QStringLiteral("genre-stub"));
    test::LaunchedApp l;
    App& app;
    std::unique_ptr<test::ReplyPipe> backend;
    // `more` runs just before the launch, the stores folder set.
    Window(bool pool, int launchKind, const QString& lang = "en",
           const std::function<void(App&)>& more = {})
        : l(lang,
            [&](App& a) {
                a.core.store = JSONStore(stores.path());
                if (more)
                    more(a);
                UserDefaults().set(keys::kViewKind, launchKind);
                test::writeExecutable(stub, kStub);
                test::fakes(a).tools.probeTool = [this](const QString&) { return stub; };
                test::fakes(a).analysers.groupCover = [](const AlbumItem&, auto done) {
                    done(QImage());
                };
                if (pool) {
                    a.runCatalogInBackground();
                    test::fakes(a).observer.groupAway = [](std::size_t tracks) {
                        return tracks >= 10;
                    };
                }
            }),
          app(*l) {
        backend = std::make_unique<test::ReplyPipe>(app);
    }
    void click(int segment) {
        for (SymbolButton* b : app.viewModeControl->findChildren<SymbolButton*>())
            if (b->tag() == segment)
                QTest::mouseClick(b, Qt::LeftButton);
    }
    // The backend's next catalog, taken in and shown.
    bool send(const std::vector<Track>& rows) {
        return backend->send(listLine(rows)) &&
               QTest::qWaitFor([&] { return app.library.rows == rows; }, 30000);
    }
    bool settled() const { return !app.library.genrePending && !app.browser.pool.running; }
    QString label() const { return app.views.countLabel->text(); }
    // What the grid shows against what the label says: empty when they agree.
    QString mismatch() const {
        static const QRegularExpression counts(QStringLiteral("^(\\d+) \\w+ • (\\d+) tracks?$"));
        const QRegularExpressionMatch m = counts.match(label());
        if (app.browser.viewKind == 0)
            return label() == QStringLiteral("%1 tracks").arg(app.browser.filtered.size())
                       ? QString()
                       : label();
        std::size_t tracks = 0;
        for (const AlbumItem& tile : app.browser.albums)
            tracks += tile.tracks.size();
        const int tiles = app.views.albumModel->rowCount();
        // Tiles of another view are taken off while this view's are grouped:
        // the label counts the visible tracks alone meanwhile.
        if (tiles == 0 && label() == QStringLiteral("%1 tracks").arg(app.browser.filtered.size()))
            return {};
        if (m.hasMatch() && m.captured(1).toInt() == tiles && m.captured(2).toULongLong() == tracks)
            return {};
        return label() + QStringLiteral(" under %1 tiles").arg(tiles);
    }
};

} // namespace

class GridCountTest : public QObject {
    Q_OBJECT
private slots:
    void countFollowsTheTiles_data() { test::addRows(kCounts); }
    void countFollowsTheTiles() {
        const CountCase& c = test::currentCase(kCounts);
        Window w(c.pool, c.launchKind);
        App& app = w.app;
        std::vector<Track> rows = catalog(kShelves, c.times);
        if (c.genresKnown)
            for (const Track& t : rows)
                app.library.genres.insert(t.path, t.path.section('/', 2, 2));
        // Between any two steps of the event loop the label and the tiles agree.
        QStringList seen;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString wrong = w.mismatch();
            if (!wrong.isEmpty() && !seen.contains(wrong))
                seen << wrong;
        });
        watch.start(0);
        const QStringList steps = QString::fromLatin1(c.steps).split(' ');
        QCOMPARE(steps.size(), c.labels.size());
        int added = 0;
        for (int i = 0; i < steps.size(); ++i) {
            const QString& step = steps[i];
            if (step == "c") {
                std::vector<Track> next = rows;
                for (int k = 0; k < added; ++k)
                    next.push_back({qint64(100 + k),
                                    QStringLiteral("/m/Rock/Moon/%1.flac").arg(k),
                                    "Moon",
                                    "Lumen",
                                    "Moon",
                                    60,
                                    {}});
                if (c.genresKnown)
                    for (const Track& t : next)
                        app.library.genres.insert(t.path, t.path.section('/', 2, 2));
                QVERIFY(w.send(next));
                added += 2;
            } else if (step.startsWith('t')) {
                w.click(step.mid(1).toInt());
            }
            QVERIFY(QTest::qWaitFor([&] { return w.settled(); }, 30000));
            QCoreApplication::processEvents();
            QCOMPARE(w.label(), c.labels[i]);
            QCOMPARE(w.mismatch(), QString());
        }
        QCOMPARE(seen.join(" / "), QString());
    }

    // A launch into the genre grid reads what it would read when the tab is
    // chosen, without a click: Ogg entries an older reader stored empty
    // (forgotten at launch), and the files of a catalog that came while the
    // scan of the one before ran.
    void restartIntoGenres_data() {
        QTest::addColumn<bool>("storedEmpty");
        QTest::addColumn<bool>("duringScan");
        QTest::newRow("Ogg entries stored empty by the older reader") << true << false;
        QTest::newRow("new files of a later catalog while the scan runs") << false << true;
    }
    void restartIntoGenres() {
        QFETCH(bool, storedEmpty);
        QFETCH(bool, duringScan);
        const std::vector<Track> rows = catalog(kShelves, 1, QStringLiteral("ogg"));
        const QString hold = test::tempFile(QStringLiteral("genre-stub.hold"));
        QFile::remove(hold);
        // A failed check must not leave the scan waiting.
        const std::shared_ptr<void> release(nullptr, [&](void*) { QFile::remove(hold); });
        Window w(false, 3, "en", [&](App& a) {
            UserDefaults defaults;
            defaults.remove(keys::kGenreStreamTags);
            defaults.sync();
            if (storedEmpty) {
                QHash<QString, QString> stored;
                for (const Track& t : rows)
                    stored.insert(t.path, QString());
                QVERIFY(a.core.store.save(QString::fromLatin1(stores::kGenres), stored));
            }
        });
        App& app = w.app;
        std::vector<Track> next = rows;
        if (duringScan) {
            QVERIFY(test::writeFile(hold, "held"));
            QVERIFY(w.send(rows));
            QVERIFY(QTest::qWaitFor([&] { return app.library.genrePending; }, 30000));
            next.push_back({100, "/m/Rock/Moon/100.ogg", "Moon", "Lumen", "Moon", 60, {}});
            next.push_back({101, "/m/Soul/Moon/101.ogg", "Moon", "Lumen", "Moon", 60, {}});
            QVERIFY(w.send(next));
            QFile::remove(hold);
        } else {
            QVERIFY(w.send(rows));
        }
        QVERIFY(QTest::qWaitFor([&] { return w.settled(); }, 30000));
        QStringList titles;
        for (const AlbumItem& tile : app.browser.albums)
            titles << tile.title + ":" + QString::number(tile.tracks.size());
        const QStringList want =
            duringScan ? QStringList{"Rock:9", "Jazz:6", "Pop:5", "Folk:4", "Soul:4", "발라드:2"}
                       : QStringList{"Rock:8", "Jazz:6", "Pop:5", "Folk:4", "Soul:3", "발라드:2"};
        QCOMPARE(titles, want);
        QCOMPARE(w.mismatch(), QString());
    }

    // The genre scan of a list grouped away: while one grouping runs, every
    // batch still comes in with its progress message, no second grouping
    // starts, and the last one shown holds every genre.
    void scanWhileAGroupingRuns() {
        Window w(true, 1, "ko");
        App& app = w.app;
        QVERIFY(w.send(catalog(kShelves, 4)));
        QVERIFY(QTest::qWaitFor([&] { return w.settled(); }, 30000));
        QSemaphore go;
        // A failed check must not leave the pool thread waiting.
        const std::shared_ptr<void> letGo(nullptr, [&](void*) { go.release(); });
        std::atomic<int> started = 0, running = 0, most = 0;
        test::fakes(app).observer.poolGroupingStarts = [&] {
            most = std::max(most.load(), ++running);
            if (started++ == 0)
                go.acquire();
            --running;
        };
        QStringList shown;
        app.status->setClock([&] {
            const QString text = app.status->text();
            if (text.startsWith("🎼") && shown.value(shown.size() - 1) != text)
                shown << text;
            return qint64(0);
        });
        w.click(3);
        QVERIFY(QTest::qWaitFor([&] { return !app.library.genrePending; }, 30000));
        // Every batch came while the first grouping was held back.
        QCOMPARE(started.load(), 1);
        QCOMPARE(shown, (QStringList{"🎼 장르 태그 읽는 중… (112곡, 백그라운드)",
                                     "🎼 장르 읽는 중 40/112", "🎼 장르 읽는 중 80/112",
                                     "🎼 장르 읽는 중 112/112", "🎼 장르 정리 완료"}));
        go.release();
        QVERIFY(QTest::qWaitFor([&] { return w.settled(); }, 30000));
        QCOMPARE(started.load(), 2);
        QCOMPARE(most.load(), 1);
        QStringList titles;
        for (const AlbumItem& tile : app.browser.albums)
            titles << tile.title + ":" + QString::number(tile.tracks.size());
        QCOMPARE(titles,
                 (QStringList{"Rock:32", "Jazz:24", "Pop:20", "Folk:16", "Soul:12", "발라드:8"}));
        QCOMPARE(w.label(), QStringLiteral("6개 • 112곡"));
    }
};

QL_TEST_MAIN(GridCountTest)
#include "GridCountTest.moc"
