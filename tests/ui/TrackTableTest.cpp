// Guards against: a track table that shows, probes or repaints the wrong rows.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/Theme.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "LaunchedApp.h"
#include "TestHome.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

#include <cmath>
#include <memory>

using namespace ql;

namespace {

Track track(qint64 id, const QString& path, const QString& album, const QString& artist = "Lumen") {
    return Track{id, path, QString("Song %1").arg(id), artist, album, 61 + double(id), {}};
}

// `n` tracks, the first half on the album "Harbor", the rest on "Night".
std::vector<Track> catalog(int n) {
    std::vector<Track> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back(
            track(i, QString("/Music/A/%1.flac").arg(i), i <= n / 2 ? "Harbor" : "Night"));
    return rows;
}

// A controller launched with Korean texts, its window on screen and the
// given catalog shown; plays and quality probes are recorded.
struct Shown {
    std::vector<Track> played;
    QHash<QString, int> probes;
    test::LaunchedApp launched;
    App* app;

    // `before` runs just before the catalog is shown.
    explicit Shown(std::vector<Track> rows, const std::function<void(App&)>& before = {})
        : launched("ko",
                   [this](App& a) {
                       UserDefaults().set(keys::kViewKind, 0); // the table, not the grid
                       test::fakes(a).observer.playRequest = [this](const Track& t) {
                           played.push_back(t);
                       };
                       test::fakes(a).observer.qualityProbe = [this](const Track& t) {
                           ++probes[t.path];
                       };
                   }),
          app(launched.app.get()) {
        app->library.rows = std::move(rows);
        if (before)
            before(*app);
        app->filter();
    }
    TrackTableView* table() const { return app->views.table; }
    TrackTableModel* model() const { return app->views.tableModel; }
    int column(const char* id) const { return model()->columnOf(QString::fromLatin1(id)); }
    QPoint cellCentre(int row, const char* id) const {
        return table()->visualRect(model()->index(row, column(id))).center();
    }
    void doubleClickCell(int row, const char* id) const {
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cellCentre(row, id));
    }
    void doubleClickHeader(const char* id) const {
        QHeaderView* header = table()->horizontalHeader();
        const int c = column(id);
        const QPoint at(header->sectionViewportPosition(c) + header->sectionSize(c) / 2,
                        header->height() / 2);
        QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    // Paints the table as the screen would.
    void paint() const { table()->viewport()->grab(); }
    std::pair<int, int> rowsOnScreen() const {
        return {table()->rowAt(0), table()->rowAt(table()->viewport()->height() - 1)};
    }
};

} // namespace

Q_DECLARE_METATYPE(std::optional<ql::CellFilter>)

class TrackTableTest : public QObject {
    Q_OBJECT
private slots:
    void init() { UserDefaults().clear(); }
    void cleanup() { L10n::setLanguage("en"); }

    // ---- model ----

    void cellTexts_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("favourite title") << 0 << "title" << "♥ 비 오는 날";
        QTest::newRow("known quality label") << 0 << "quality" << "FLAC 96kHz/24bit ★";
        QTest::newRow("unknown quality waits") << 1 << "quality" << "…";
        // clang-format on
    }
    void cellTexts() {
        QFETCH(int, row);
        QFETCH(QString, column);
        QFETCH(QString, text);
        Track fav = track(1, "/Music/K/비.flac", "Palette", "아이유");
        fav.title = "비 오는 날";
        fav.duration = 245.9;
        Shown s({fav, track(2, "/Music/K/README", "Real")});
        s.app->listening.favorites.insert(fav.path);
        s.app->library.qual.insert(fav.path, "FLAC 96kHz/24bit ★");
        const QModelIndex at = s.model()->index(row, s.model()->columnOf(column));
        QCOMPARE(s.model()->data(at, Qt::DisplayRole).toString(), text);
    }

    // The lightest pixel of a cell is its text's colour: white on a selected
    // row, at least 3:1 against the highlight; the row below keeps its grey.
    void selectedRowTexts_data() {
        QTest::addColumn<QString>("column");
        for (const char* id : {"artist", "album", "format", "quality", "duration"})
            QTest::newRow(id) << QString(id);
    }
    void selectedRowTexts() {
        QFETCH(QString, column);
        std::vector<Track> rows = catalog(2);
        Shown s(rows, [&](App& app) { app.library.qual.insert(rows[0].path, "FLAC 48kHz/24bit"); });
        s.app->selectTableRow(0);
        QWidget* window = s.table()->window(); // the rows on the window's background
        const QImage shot = window->grab().toImage();
        const auto lightest = [&](int row) {
            QRect cell = s.table()->visualRect(s.model()->index(row, s.column(qPrintable(column))));
            cell.moveTopLeft(s.table()->viewport()->mapTo(window, cell.topLeft()));
            const QImage part = shot.copy(cell);
            QColor best = Qt::black;
            for (int i = 0; i < part.width() * part.height(); ++i)
                if (const QColor p = part.pixelColor(i % part.width(), i / part.width());
                    p.lightnessF() > best.lightnessF())
                    best = p;
            return best;
        };
        QCOMPARE(lightest(0), QColor(Qt::white));
        // White's relative luminance is 1; 3:1 needs the highlight's at most 0.3.
        const auto lin = [](double v) { return std::pow((v + 0.055) / 1.055, 2.4); };
        const QColor a = Theme::accent();
        QVERIFY(0.2126 * lin(a.redF()) + 0.7152 * lin(a.greenF()) + 0.0722 * lin(a.blueF()) <= 0.3);
        QVERIFY(lightest(1).lightnessF() < 0.9);
    }

    void everyCellsToolTipIsTheFullPath() {
        Shown s(catalog(4));
        for (int r = 0; r < s.model()->rowCount(); ++r)
            for (int c = 0; c < s.model()->columnCount(); ++c)
                QCOMPARE(s.model()->data(s.model()->index(r, c), Qt::ToolTipRole).toString(),
                         s.app->browser.filtered[size_t(r)].path);
    }

    void twoPaintsAskOneProbePerPath() {
        std::vector<Track> rows = catalog(6);
        rows.push_back(track(7, rows[0].path, "Harbor")); // the same file twice
        const QString labelled = rows[1].path;
        Shown s(rows, [&](App& app) { app.library.qual.insert(labelled, "MP3 320kbps ⬆"); });
        s.paint();
        s.paint();
        s.app->filter(); // a reset does not ask again while a probe is pending
        s.paint();
        QHash<QString, int> expected;
        for (const Track& t : rows)
            if (t.path != rows[1].path)
                expected[t.path] = 1;
        QCOMPARE(s.probes, expected);
    }

    void lateLabelRepaintsItsCellOnly() {
        Shown s(catalog(60));
        s.paint();
        const auto [first, last] = s.rowsOnScreen();
        QVERIFY(last > first + 2);
        QSignalSpy changed(s.model(), &QAbstractItemModel::dataChanged);
        QSignalSpy reset(s.model(), &QAbstractItemModel::modelReset);
        const QString onScreen = s.app->browser.filtered[size_t(first + 2)].path;
        s.app->library.qual.insert(onScreen, "FLAC 44.1kHz/16bit");
        s.app->qualityChanged(onScreen);
        QCOMPARE(changed.size(), 1);
        const QModelIndex cell = s.model()->index(first + 2, s.column("quality"));
        QCOMPARE(changed[0][0].toModelIndex(), cell);
        QCOMPARE(changed[0][1].toModelIndex(), cell);
        QCOMPARE(s.model()->data(cell, Qt::DisplayRole).toString(), QString("FLAC 44.1kHz/16bit"));
        // A row off screen gets its label when it is painted.
        s.app->qualityChanged(s.app->browser.filtered[59].path);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(reset.size(), 0);
    }

    void coverOrDefaultOnEveryTitleCell() {
        Shown s(catalog(40));
        s.paint();
        const int title = s.column("title");
        const QImage fallback = App::defaultCover();
        const auto decoration = [&](int row) {
            return s.model()
                ->data(s.model()->index(row, title), Qt::DecorationRole)
                .value<QImage>();
        };
        QCOMPARE(decoration(0), fallback);
        QVERIFY(!s.model()
                     ->data(s.model()->index(0, s.column("artist")), Qt::DecorationRole)
                     .isValid());

        QImage cover(8, 8, QImage::Format_RGB32);
        cover.fill(Qt::red);
        const QString key = App::albumKey(s.app->browser.filtered[0]);
        s.app->browser.coverCache.insert(key, cover);
        QSignalSpy changed(s.model(), &QAbstractItemModel::dataChanged);
        s.app->coverChanged(key);
        // Every row of the album on screen, title cell only; none of "Night".
        const auto [first, last] = s.rowsOnScreen();
        QCOMPARE(changed.size(), std::min(last, 19) - first + 1);
        for (const QList<QVariant>& args : changed) {
            QCOMPARE(args[0].toModelIndex().column(), title);
            QCOMPARE(args[0].toModelIndex(), args[1].toModelIndex());
        }
        QCOMPARE(decoration(0), cover);
        QCOMPARE(decoration(25), fallback);
    }

    // ---- double-clicks on cells ----

    void doubleClickOnATitlePlays() {
        const std::vector<Track> rows = catalog(10);
        Shown s(rows);
        s.doubleClickCell(3, "title");
        QCOMPARE(s.played.size(), size_t(1));
        QCOMPARE(s.played[0], rows[3]);
        QVERIFY(!s.app->browser.cellFilter);
    }

    void doubleClickOnAnAlbumFiltersAndScrollsToTheTop() {
        Shown s(catalog(120));
        s.table()->scrollToBottom();
        const int row = s.rowsOnScreen().first + 1;
        const Track clicked = s.app->browser.filtered[size_t(row)];
        QCOMPARE(clicked.album, QString("Night"));
        s.doubleClickCell(row, "album");
        QCOMPARE(s.app->browser.cellFilter, std::optional(CellFilter{"album", "Night"}));
        QCOMPARE(s.model()->rowCount(), 60);
        QCOMPARE(s.table()->verticalScrollBar()->value(), 0);
        QCOMPARE(s.app->status->stringValue(),
                 QString("앨범 'Night' · 60곡 (검색창에 입력하거나 폴더를 바꾸면 해제)"));
        QVERIFY(s.played.empty());
    }

    void doubleClickBelowTheRowsDoesNothing() {
        Shown s(catalog(3));
        const QString before = s.app->status->stringValue();
        QTest::mouseDClick(s.table()->viewport(), Qt::LeftButton, {},
                           QPoint(50, s.table()->viewport()->height() - 5));
        QVERIFY(s.played.empty());
        QVERIFY(!s.app->browser.cellFilter);
        QCOMPARE(s.app->status->stringValue(), before);
    }

    // ---- double-clicks on column titles ----

    void headerDoubleClick_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("selectRow");  // -1: none
        QTest::addColumn<int>("currentRow"); // -1: nothing playing
        QTest::addColumn<std::optional<CellFilter>>("filter");
        QTest::addColumn<QString>("status"); // "" = unchanged
        const std::optional<CellFilter> none;
        QTest::newRow("format of the selected row")
            << "format" << 2 << -1 << std::optional(CellFilter{"format", ".flac"}) << "";
        QTest::newRow("no selection: the playing track's album")
            << "album" << -1 << 4 << std::optional(CellFilter{"album", "Night"}) << "";
        QTest::newRow("no selection, nothing playing")
            << "artist" << -1 << -1 << none << "먼저 곡을 선택하세요.";
    }
    void headerDoubleClick() {
        QFETCH(QString, column);
        QFETCH(int, selectRow);
        QFETCH(int, currentRow);
        QFETCH(std::optional<CellFilter>, filter);
        QFETCH(QString, status);
        std::vector<Track> rows = catalog(8);
        Shown s(rows);
        if (currentRow >= 0)
            s.app->playback.current = rows[size_t(currentRow)];
        s.app->filter();
        s.table()->selectRowOnly(selectRow);
        const QString before = s.app->status->stringValue();
        s.doubleClickHeader(column.toLatin1().constData());
        QCOMPARE(s.app->browser.cellFilter, filter);
        if (status.isEmpty() && !filter)
            QCOMPARE(s.app->status->stringValue(), before);
        if (!status.isEmpty()) {
            QCOMPARE(s.app->status->stringValue(), status);
            QVERIFY(s.app->status->isHeld());
        }
        QVERIFY(s.played.empty());
    }

    void passSelectsThePlayingRowWithoutScrolling() {
        Shown s(catalog(120));
        s.app->playback.current = s.app->library.rows[100];
        s.app->filter();
        QCOMPARE(s.table()->selectedRow(), 100);
        QCOMPARE(s.table()->verticalScrollBar()->value(), 0);
        // Not in the list: nothing selected.
        s.app->search->setText("Harbor");
        s.app->filter(true);
        QCOMPARE(s.table()->selectedRow(), -1);
    }
};

QL_TEST_MAIN(TrackTableTest)
#include "TrackTableTest.moc"
