// The album grid of 5,000 tiles in the main window (1280 x 820, offscreen),
// covers warm in the memory cache, each figure printed next to painting the
// same visible tiles without covers in the same run (the same view and
// delegate over a model of texts alone):
//  - reset: App::reloadAlbumGrid() and the first paint after it, which
//    configures every tile on screen (texts, badge, cover from the cache)
//    (goal: 50 ms);
//  - scroll: the grid moved down by one line of tiles, then a full repaint of
//    the tiles on screen, the line coming into view configured and its covers
//    rounded afresh (goal: 16 ms).
// The covers of the first 600 tiles are cached (the cache holds 256 MB of
// 300 x 300 pictures); the scroll stays among them. Runs in a temporary home.
#include "FakeServices.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/AlbumCellDelegate.h"
#include "ui/AlbumGridModel.h"
#include "ui/AlbumGridView.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QScrollBar>

#include <memory>

using namespace ql;

namespace {

constexpr int kAlbums = 5000;
constexpr int kWarm = 600;
constexpr int kScrollLines = 20; // the scroll cycles through these lines

std::vector<Track> makeCatalog() {
    std::vector<Track> rows;
    for (int i = 0; i < kAlbums * 2; ++i) {
        Track t;
        t.id = i + 1;
        t.artist = QStringLiteral("Artist %1").arg(i / 2, 4, 10, QLatin1Char('0'));
        t.album = QStringLiteral("Album %1").arg(i / 2);
        t.title = QStringLiteral("Track %1").arg(i);
        t.path = QStringLiteral("/m/%1/%2.flac").arg(t.artist).arg(i);
        rows.push_back(t);
    }
    return rows;
}

struct Ours {
    platform::Platform plat;
    std::unique_ptr<App> app;
    Ours() {
        app = std::make_unique<App>(plat, test::fakeServices());
        test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(*app).tools.backendWrite = [](const QByteArray&) {};
        test::fakes(*app).tools.coverProgram = [] { return QStringLiteral("/bin/false"); };
        app->applicationDidFinishLaunching();
        app->timer->stop();
        app->library.rows = makeCatalog();
        QImage cover(300, 300, QImage::Format_RGB32);
        for (int i = 0; i < kAlbums * 2; i += 2) {
            const Track& t = app->library.rows[std::size_t(i)];
            app->library.qual.insert(t.path, i % 6 == 0 ? QStringLiteral("FLAC 96kHz/24bit ★")
                                                        : QStringLiteral("FLAC 44.1kHz/16bit"));
            if (i / 2 < kWarm) {
                cover.fill(QColor::fromHsv(i * 37 % 360, 160, 200));
                app->browser.coverCache.insert(App::albumKey(t), cover.copy());
            }
        }
        app->browser.viewKind = 1;
        app->filter(true);
        app->applyViewMode();
        QApplication::processEvents();
    }
    AlbumGridView* view() const { return app->views.albumView; }
};

// The same view and delegate over cells of texts alone.
struct Peer {
    std::vector<AlbumItem> tiles;
    AlbumGridModel model;
    AlbumGridView view;
    explicit Peer(const Ours& ours) : tiles(ours.app->browser.albums) {
        model.setSource(&tiles, [this](int row, const CoverTicket&) {
            const AlbumItem& a = tiles[std::size_t(row)];
            return AlbumCell{a.key, a.title, a.sub, {}, false};
        });
        view.setModel(&model);
        view.setItemDelegate(new AlbumCellDelegate(&view));
        view.resize(ours.view()->size());
        view.show();
        QApplication::processEvents();
    }
};

void paint(QWidget* viewport, QImage& into) {
    into.fill(Qt::black);
    QPainter p(&into);
    viewport->render(&p);
}

template <typename Reload> void reset(benchmark::State& state, AlbumGridView* view, Reload reload) {
    QImage image(view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        reload();
        paint(view->viewport(), image);
    }
}

void scroll(benchmark::State& state, AlbumGridView* view) {
    QImage image(view->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    const int line = view->tileSize().height() + AlbumGridView::kSpacing;
    int step = 0;
    for (auto _ : state) {
        view->verticalScrollBar()->setValue((step++ % kScrollLines) * line);
        paint(view->viewport(), image);
    }
    state.counters["tiles"] = double(view->model()->rowCount());
}

void oursReset(benchmark::State& state) {
    Ours o;
    reset(state, o.view(), [&] { o.app->reloadAlbumGrid(); });
}
void peerReset(benchmark::State& state) {
    Ours o;
    Peer p(o);
    reset(state, &p.view, [&] { p.model.reload(); });
}
void oursScroll(benchmark::State& state) {
    Ours o;
    scroll(state, o.view());
}
void peerScroll(benchmark::State& state) {
    Ours o;
    Peer p(o);
    scroll(state, &p.view);
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QApplication application(argc, argv);

    bench::RatioReporter reporter;
    benchmark::RegisterBenchmark("grid/reset+paint/ours/5000", oursReset)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("grid/reset+paint/no-covers/5000", peerReset)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("grid/scroll/ours/5000", oursScroll)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("grid/scroll/no-covers/5000", peerScroll)
        ->Unit(benchmark::kMillisecond);
    reporter.pair("grid/reset+paint/ours/5000", "grid/reset+paint/no-covers/5000");
    reporter.pair("grid/scroll/ours/5000", "grid/scroll/no-covers/5000");
    reporter.goal("grid/reset+paint/ours/5000", 50);
    reporter.goal("grid/scroll/ours/5000", 16);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
