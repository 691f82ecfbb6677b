// Guards against: a catalog read on the worker that shows or saves the wrong
// catalog — an older reply overtaking a newer one, a reply compared with a
// catalog the window no longer shows, a quit that leaves an older cache, a
// failed write that goes unreported.
#include "app/App.h"
#include "app/JsonCodec.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableModel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "ReplyPipe.h"
#include "TestHome.h"

#include <QFile>
#include <QLineEdit>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <limits>

using namespace ql;

namespace {

std::vector<Track> catalog(const QString& title, int count = 3) {
    std::vector<Track> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back(Track{i, "/음악/" + QString::number(i) + ".flac",
                             title + " " + QString::number(i), "가수", "앨범", 180, ""});
    return rows;
}

QByteArray listLine(const std::vector<Track>& tracks) {
    return *JsonCodec<Library>::encode(Library{tracks, false, {}}) + '\n';
}

enum Case { NewerReply, ImportMeanwhile, QuitWhileWriting, WriteFails };

// What a reply does to the visible list made from the catalog before it.
enum ListChange { Shrinks, DurationsOnly, ShuffledChange };

// The tile keys of the album grid, in display order.
QStringList tileKeys(const std::vector<AlbumItem>& tiles) {
    QStringList keys;
    for (const AlbumItem& tile : tiles)
        keys << tile.key + ":" + QString::number(tile.tracks.size());
    return keys;
}

TrackIds idsOf(const TrackList& list) {
    return trackIds(list);
}

} // namespace

Q_DECLARE_METATYPE(Case)
Q_DECLARE_METATYPE(CatalogSave)
Q_DECLARE_METATYPE(ListChange)

class CatalogWorkerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage("ko"); }
    // Each case starts from empty settings (a stored search would filter it).
    void init() { UserDefaults().clear(); }

    // After a start from the cache file, the backend's reply repeats that
    // catalog: the worker then holds it once, not the restored rows and the
    // decoded reply side by side. A changed reply still replaces it, its
    // unchanged texts those of the rows it replaces.
    void oneCatalogHeld_data() {
        QTest::addColumn<int>("changedRow"); // -1: the reply equals the cache
        QTest::newRow("a reply equal to the restored catalog") << -1;
        QTest::newRow("a reply with one title changed") << 2500;
    }
    void oneCatalogHeld() {
        QFETCH(int, changedRow);
        // Large enough to be read in batches, as a real library is.
        const std::vector<Track> cached = catalog("노래", 4000);
        std::vector<Track> replied = cached;
        if (changedRow >= 0)
            replied[std::size_t(changedRow)].title += " (live)";
        QTemporaryDir dir;
        const QString path = dir.filePath("catalog.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(*JsonCodec<std::vector<Track>>::encode(cached)) > 0);
        file.close();

        CatalogIntake intake;
        QVERIFY(intake.restore(path));
        const std::shared_ptr<const std::vector<Track>> restored = intake.shown();
        QByteArray line = *JsonCodec<Library>::encode(Library{replied, false, {}});
        const std::optional<CatalogUpdate> update = intake.take(line);
        QVERIFY(update && update->hasTracks);
        QCOMPARE(update->taken, changedRow >= 0);
        QVERIFY(*intake.shown() == replied);
        if (changedRow < 0) {
            // Held by this test, the intake and its reader's reply: no second copy.
            QCOMPARE(intake.shown(), restored);
            QCOMPARE(restored.use_count(), 3);
        }
        int copies = 0; // texts equal to the restored row's but held apart
        for (std::size_t i = 0; i < replied.size(); ++i) {
            const Track& now = (*intake.shown())[i];
            const Track& was = (*restored)[i];
            for (QString Track::*text : {&Track::path, &Track::title, &Track::artist})
                copies +=
                    now.*text == was.*text && (now.*text).constData() != (was.*text).constData();
        }
        QCOMPARE(copies, 0);
        // The same bytes again change nothing.
        QByteArray again = *JsonCodec<Library>::encode(Library{replied, false, {}});
        const std::optional<CatalogUpdate> repeat = intake.take(again);
        QVERIFY(repeat && repeat->repeat && !repeat->taken);
    }

    // The cache is written in pieces: the file holds exactly the text of the
    // whole catalog, and a catalog that cannot be stored leaves the old file.
    void cacheFile_data() {
        QTest::addColumn<bool>("finite");
        QTest::addColumn<CatalogSave>("result");
        QTest::newRow("a catalog of many pieces") << true << CatalogSave::Written;
        QTest::newRow("a duration that is not a number") << false << CatalogSave::BadDuration;
    }
    void cacheFile() {
        QFETCH(bool, finite);
        QFETCH(CatalogSave, result);
        QTemporaryDir dir;
        const JSONStore store(dir.path());
        const std::vector<Track> old = catalog("옛", 2);
        QCOMPARE(writeCatalogFile(store, old), CatalogSave::Written);
        std::vector<Track> rows = catalog("새", 5000);
        if (!finite)
            rows.back().duration = std::numeric_limits<double>::infinity();
        QCOMPARE(writeCatalogFile(store, rows), result);
        QFile file(dir.filePath(QString::fromLatin1(stores::kCatalog)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), *JsonCodec<std::vector<Track>>::encode(finite ? rows : old));
    }

    void replies_data() {
        QTest::addColumn<Case>("step");
        QTest::addColumn<QString>("shown"); // the first title of the catalog at the end
        QTest::newRow("a newer reply while the first is read") << NewerReply << "셋째 1";
        QTest::newRow("an import while a reply is read") << ImportMeanwhile << "둘째 1";
        QTest::newRow("quit while the cache is written") << QuitWhileWriting << "둘째 1";
        QTest::newRow("the cache cannot be written") << WriteFails << "둘째 1";
    }
    void replies() {
        QFETCH(Case, step);
        QFETCH(QString, shown);
        QTemporaryDir storeDir;
        platform::Platform plat;
        App app(plat, test::fakeServices());
        app.core.store = JSONStore(storeDir.path());
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
        app.runCatalogInBackground();
        test::ReplyPipe backend(app);
        QStringList resets; // the first title of each list the table showed
        connect(app.views.tableModel, &QAbstractItemModel::modelReset, this, [&] {
            resets << (app.browser.filtered.empty() ? QString() : app.browser.filtered[0].title);
        });
        const auto firstTitle = [&] {
            return app.library.rows.empty() ? QString() : app.library.rows[0].title;
        };
        QVERIFY(backend.send(listLine(catalog("첫째"))));
        QTRY_COMPARE_WITH_TIMEOUT(firstTitle(), QString("첫째 1"), ql::test::kOutcomeMs);

        // The worker holds the next reply back until the test lets it go.
        QSemaphore go;
        std::atomic<int> started = 0;
        app.catalogWork().replyStarts = [&] {
            if (started++ == 0)
                go.acquire();
        };
        const int big = step == QuitWhileWriting ? 40000 : 3;
        QVERIFY(backend.send(listLine(catalog("둘째", big))));
        QTRY_COMPARE_WITH_TIMEOUT(started.load(), 1, ql::test::kOutcomeMs);
        if (step == NewerReply)
            QVERIFY(backend.send(listLine(catalog("셋째"))));
        if (step == ImportMeanwhile) {
            app.library.rows = catalog("가져옴", 4);
            app.catalogReplaced();
        }
        if (step == WriteFails)
            QFile::setPermissions(storeDir.path(), QFile::ReadOwner | QFile::ExeOwner);
        go.release();

        if (step == ImportMeanwhile) {
            // The reply was compared with the catalog it replaced: dropped.
            QTRY_COMPARE_WITH_TIMEOUT(app.catalogWork().finish(5000), true, ql::test::kOutcomeMs);
            QCoreApplication::processEvents();
            QCOMPARE(firstTitle(), QString("가져옴 1"));
            // The next poll brings it again, now compared with the import.
            QVERIFY(backend.send(listLine(catalog("둘째"))));
        }
        QTRY_COMPARE_WITH_TIMEOUT(firstTitle(), shown, ql::test::kOutcomeMs);
        // The reply read while a newer one waited was never shown.
        QCOMPARE(resets.filter("둘째").isEmpty(), step == NewerReply);

        if (step == WriteFails) {
            QTRY_VERIFY_WITH_TIMEOUT(app.status->stringValue().startsWith("목록 저장 실패: "),
                                     ql::test::kOutcomeMs);
            QFile::setPermissions(storeDir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            return;
        }
        if (step == QuitWhileWriting)
            app.applicationWillTerminate();
        else
            QVERIFY(app.catalogWork().finish(5000));
        // The cache holds exactly the catalog shown last.
        QFile file(app.catalogURL());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(JsonCodec<std::vector<Track>>::decode(file.readAll()), app.library.rows);
    }

    // A large list's album tiles are grouped away from the main thread; only
    // the grouping of the latest pass may reach the grid, and it equals the
    // grouping made on the spot.
    void albumTilesFollowTheLatestPass_data() {
        QTest::addColumn<QStringList>("searches"); // one pass each, in a row
        QTest::newRow("one large pass") << QStringList{""};
        QTest::newRow("a small pass after a large one") << QStringList{"", "첫째 7"};
        QTest::newRow("two large passes") << QStringList{"", "첫째"};
    }
    void albumTilesFollowTheLatestPass() {
        QFETCH(QStringList, searches);
        platform::Platform plat;
        App app(plat);
        app.browser.viewKind = 1;
        app.runCatalogInBackground();
        // Albums of four tracks each, enough tracks to be grouped away.
        std::vector<Track> rows = catalog("첫째", 24000);
        for (Track& t : rows)
            t.album = "앨범 " + QString::number(t.id / 4);
        app.library.rows = rows;
        app.catalogReplaced();
        QVERIFY(app.catalogWork().finish(10000));
        QCoreApplication::processEvents();
        for (const QString& search : searches) {
            app.search->setText(search);
            app.filter(true);
        }
        // One grouping runs at a time; the one asked for last starts when it ends.
        QVERIFY(QTest::qWaitFor([&] { return !app.browser.pool.running; }, 30000));
        const QStringList shown = tileKeys(app.browser.albums);
        app.rebuildAlbums();
        QCOMPARE(shown, tileKeys(app.browser.albums));
        QVERIFY(!shown.isEmpty());
    }

    // The visible list points into the catalog of its pass: a later catalog
    // never shows through a list made before it, and a refilter never reads
    // rows of the catalog it replaced.
    void visibleListFollowsTheCatalog_data() {
        QTest::addColumn<ListChange>("change");
        QTest::newRow("the catalog shrinks") << Shrinks;
        QTest::newRow("durations alone change") << DurationsOnly;
        QTest::newRow("a shuffled list keeps its order") << ShuffledChange;
    }
    void visibleListFollowsTheCatalog() {
        QFETCH(ListChange, change);
        QTemporaryDir storeDir;
        platform::Platform plat;
        App app(plat, test::fakeServices());
        app.core.store = JSONStore(storeDir.path());
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
        app.playback.shuffled = change == ShuffledChange;
        app.runCatalogInBackground();
        test::ReplyPipe backend(app);
        int resets = 0;
        connect(app.views.tableModel, &QAbstractItemModel::modelReset, this, [&] { ++resets; });
        const std::vector<Track> first = catalog("첫째", 6);
        QVERIFY(backend.send(listLine(first)));
        QTRY_COMPARE_WITH_TIMEOUT(app.browser.filtered.size(), first.size(), ql::test::kOutcomeMs);
        if (change == ShuffledChange)
            app.filter(true); // a new order, as the shuffle button makes it
        const TrackList before = app.browser.filtered;
        const TrackIds order = idsOf(before);
        const int resetsBefore = resets;

        std::vector<Track> next = first;
        if (change == Shrinks)
            next.resize(2);
        if (change == DurationsOnly) {
            for (Track& t : next)
                t.duration = 200;
        }
        if (change == ShuffledChange) {
            next.erase(next.begin() + 2); // id 3 leaves
            next.push_back(Track{7, "/음악/7.flac", "새 곡", "가수", "앨범", 90, ""});
        }
        QVERIFY(backend.send(listLine(next)));
        QTRY_COMPARE_WITH_TIMEOUT(app.library.rows, next, ql::test::kOutcomeMs);
        QVERIFY(app.catalogWork().finish(5000));
        QCoreApplication::processEvents();

        // The list taken before still holds the tracks it was made from.
        QCOMPARE(before.tracks().size(), first.size());
        for (const Track& t : before)
            QCOMPARE(t.duration, 180.0);
        const TrackList& now = app.browser.filtered;
        switch (change) {
        case Shrinks:
            QCOMPARE(now, next);
            QCOMPARE(resets, resetsBefore + 1);
            break;
        case DurationsOnly:
            // Taken in silently: the list and the table stay as they were.
            QCOMPARE(resets, resetsBefore);
            QCOMPARE(idsOf(now), order);
            QCOMPARE(now[0].duration, 180.0);
            break;
        case ShuffledChange: {
            TrackIds kept = order;
            std::erase(kept, 3);
            kept.push_back(7);
            QCOMPARE(idsOf(now), kept);
            QCOMPARE(app.browser.orderedIDs, kept);
            QCOMPARE(now.back().title, QString("새 곡"));
            break;
        }
        }
    }
};

QL_TEST_MAIN(CatalogWorkerTest)
#include "CatalogWorkerTest.moc"
