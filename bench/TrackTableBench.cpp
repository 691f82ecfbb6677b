// The track table over a 100,000-track catalog in the main window (1280 x 820,
// offscreen), each figure printed next to a plain peer of the same run:
//  - reset: App::reloadTable() and the view's new layout after the visible
//    list changed (its length alternates between 100,000 and 99,999, as a
//    filter pass changes it), what every pass costs the table (goal: 5 ms);
//  - paint: a full repaint of the rows on screen, cells, texts, favourite
//    marks, quality labels and rounded cover thumbnails (goal: 16 ms), warm
//    (thumbnails already made) and cold (every thumbnail made afresh, as when
//    the user scrolls to rows not seen yet);
// against the same catalog in a QTableView of the same size over a minimal
// model of plain texts, painted by Qt's default delegate;
//  - current title: a track of a one-track catalog made current as a play
//    request shows it (the transport bar's title and artist labels set, the
//    window laid out and drawn whole, the track's row in the table), with a
//    title of ordinary length (the peer), of the library backend's bound
//    (1,000 characters; goal: 16 ms) and, once, of 8 MB, what a damaged tag
//    gave before the bound.
// Runs in a temporary home: App reads and writes settings.
#include "FakeServices.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/TabBar.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/TruncatingLabel.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPixmapCache>
#include <QTableView>
#include <QTimer>

#include <memory>

using namespace ql;

namespace {

constexpr int kTracks = 100000;

std::vector<Track> makeCatalog() {
    const QStringList words{"Lumen", "Harbor", "밤편지", "Night", "사랑",  "Blue", "Train",
                            "Café",  "Crème",  "노래",   "River", "Stone", "별빛", "Glass"};
    std::vector<Track> rows;
    rows.reserve(kTracks);
    for (int i = 0; i < kTracks; ++i) {
        Track t;
        t.id = i + 1;
        t.title = words[i % words.size()] + QLatin1Char(' ') + words[(i / 7) % words.size()] +
                  QLatin1Char(' ') + QString::number(i);
        t.artist = words[(i / 13) % words.size()];
        t.album = words[(i / 11) % words.size()] + QStringLiteral(" Sessions");
        t.duration = 120 + i % 300;
        t.path = QStringLiteral("/home/user/Music/%1/%2.flac").arg(t.artist, t.title);
        rows.push_back(t);
    }
    return rows;
}

// The program's window with the catalog shown: labels for most tracks, a
// favourite every fifth, covers for two thirds of the albums.
struct Ours {
    platform::Platform plat;
    std::unique_ptr<App> app;
    Ours(const std::vector<Track>& rows) {
        app = std::make_unique<App>(plat, test::fakeServices());
        test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
        // A backend that never answers.
        test::fakes(*app).tools.backendWrite = [](const QByteArray&) {};
        app->applicationDidFinishLaunching();
        app->timer->stop();
        app->library.rows = rows;
        QImage cover(300, 300, QImage::Format_RGB32);
        int n = 0;
        for (const Track& t : rows) {
            if (n % 5 == 0)
                app->listening.favorites.insert(t.path);
            if (n % 4 != 0)
                app->library.qual.insert(t.path, QStringLiteral("FLAC 96kHz/24bit ★"));
            const QString key = App::albumKey(t);
            if (n % 3 != 0 && !app->browser.coverCache.contains(key)) {
                cover.fill(QColor::fromHsv(n * 37 % 360, 160, 200));
                app->browser.coverCache.insert(key, cover.copy());
            }
            ++n;
        }
        app->filter();
        QApplication::processEvents();
    }
    QTableView* table() const { return app->views.table; }
};

// The peer: the texts of the same columns, no favourites, labels or images.
class PlainModel final : public QAbstractTableModel {
public:
    explicit PlainModel(const std::vector<Track>& rows) : m_rows(rows) {}
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    std::vector<Track>& rows() { return m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 6;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        const Track& t = m_rows[size_t(index.row())];
        switch (index.column()) {
        case 0:
            return t.title;
        case 1:
            return t.artist;
        case 2:
            return t.album;
        default:
            return t.path;
        }
    }
    void reload() {
        beginResetModel();
        endResetModel();
    }

private:
    std::vector<Track> m_rows;
};

struct Peer {
    PlainModel model;
    QTableView table;
    Peer(const std::vector<Track>& rows, QSize size) : model(rows) {
        table.setModel(&model);
        table.verticalHeader()->hide();
        table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table.verticalHeader()->setDefaultSectionSize(44);
        table.resize(size);
        table.show();
        QApplication::processEvents();
    }
};

const std::vector<Track>& catalog() {
    static const std::vector<Track> rows = makeCatalog();
    return rows;
}

// One paint of the viewport as the screen would get it.
void paint(QWidget* viewport, QImage& into) {
    into.fill(Qt::black);
    QPainter p(&into);
    viewport->render(&p);
}

// The visible list without its last track: swapped in and out, so every
// reset sees a new length (a view skips work for an unchanged one).
template <class List> List shorter(const List& rows) {
    return List(std::vector<Track>(rows.begin(), rows.end() - 1));
}

void oursReset(benchmark::State& state) {
    Ours o(catalog());
    TrackList other = shorter(o.app->browser.filtered);
    for (auto _ : state) {
        std::swap(o.app->browser.filtered, other);
        o.app->reloadTable();
        o.table()->doItemsLayout();
    }
    state.counters["rows"] = o.table()->model()->rowCount();
}

void peerReset(benchmark::State& state) {
    Ours sized(catalog()); // only for the table's size in the window
    Peer peer(catalog(), sized.table()->size());
    std::vector<Track> other = shorter(peer.model.rows());
    for (auto _ : state) {
        std::swap(peer.model.rows(), other);
        peer.model.reload();
        peer.table.doItemsLayout();
    }
}

void oursPaint(benchmark::State& state, bool cold) {
    Ours o(catalog());
    QWidget* viewport = o.table()->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            QPixmapCache::clear();
            state.ResumeTiming();
        }
        paint(viewport, image);
    }
    state.counters["rowsOnScreen"] = o.table()->rowAt(viewport->height() - 1) + 1;
}

void peerPaint(benchmark::State& state) {
    Ours sized(catalog());
    Peer peer(catalog(), sized.table()->size());
    QWidget* viewport = peer.table.viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        paint(viewport, image);
}

// A title of `chars` characters, Hangul then Latin, as a long tag holds it;
// `variant` changes its first letter (a label given its own text again does
// nothing).
QString longTitle(qsizetype chars, int variant) {
    QString title = QStringLiteral("가나다") + QString(chars - 3, QLatin1Char('T'));
    title[0] = QChar(u'가' + variant);
    return title;
}

void currentTitle(benchmark::State& state, qsizetype chars) {
    Track track{1,
                QStringLiteral("/home/user/Music/a.flac"),
                {},
                QStringLiteral("Lumen"),
                QStringLiteral("Harbor"),
                200,
                {}};
    const QString titles[2] = {chars ? longTitle(chars, 0) : QStringLiteral("Blue Train 1"),
                               chars ? longTitle(chars, 1) : QStringLiteral("Blue Train 2")};
    track.title = titles[0];
    Ours o({track});
    App& app = *o.app;
    app.viewModeControl->setSelectedSegment(2); // the track table
    app.viewModeChanged();
    QApplication::processEvents();
    QMainWindow* window = app.window.get();
    QImage image(window->size(), QImage::Format_ARGB32_Premultiplied);
    int n = 0;
    for (auto _ : state) {
        app.library.rows[0].title = titles[++n % 2];
        app.filter();
        app.views.titleLabel->setText(app.library.rows[0].title);
        app.views.artistLabel->setText(app.library.rows[0].artist);
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QPainter painter(&image);
        window->render(&painter);
    }
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QApplication application(argc, argv);

    bench::RatioReporter reporter;
    benchmark::RegisterBenchmark("table/reset/ours/100000", oursReset)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("table/reset/plain/100000", peerReset)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("table/paint/ours/100000", oursPaint, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("table/paint-cold/ours/100000", oursPaint, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("table/paint/plain/100000", peerPaint)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("title/current/ordinary", currentTitle, 0)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("title/current/1000", currentTitle, 1000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("title/current/8MB", currentTitle, 8 << 20)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    reporter.pair("table/reset/ours/100000", "table/reset/plain/100000");
    reporter.pair("table/paint/ours/100000", "table/paint/plain/100000");
    reporter.pair("table/paint-cold/ours/100000", "table/paint/plain/100000");
    reporter.goal("table/reset/ours/100000", 5);
    reporter.goal("table/paint/ours/100000", 16);
    reporter.goal("table/paint-cold/ours/100000", 16);
    reporter.pair("title/current/1000", "title/current/ordinary");
    reporter.pair("title/current/8MB", "title/current/ordinary");
    reporter.goal("title/current/1000", 16);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
