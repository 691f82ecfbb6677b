// The first opening of the genre grid over 100,000 tracks (1,000 albums in 8
// genres) whose genres were never read, in the main window (1280 x 820,
// offscreen) with the catalog worker running, as the program runs: from the
// click on the genre tab to "🎼 장르 정리 완료" with the last tiles shown.
// Printed beside one plain grouping of the same catalog into genre tiles in
// the same run:
//  - the longest single step of the main thread in that span (the click
//    itself, then each event the application delivers: batches, groupings
//    coming back, paints) (goal: 50 ms);
//  - the scan's total time (goal: 2 minutes).
// The genre probe is a stand-in ffprobe, a shell script answering with the
// genre folder of the path (the files do not exist, so the in-process reader
// gives way to it for every file). Runs in a temporary home.
#include "FakeServices.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"

#include "BenchCatalog.h"
#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>

using namespace ql;

namespace {

constexpr int kTracks = 100000;
constexpr int kAlbums = 1000;
constexpr int kGenres = 8;
const QString kDone = QStringLiteral("🎼 장르 정리 완료");

// Times every event the application delivers from the event loop (a nested
// delivery belongs to the step that made it).
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool recording = false;
    qint64 longestNs = 0;
    std::string longestWhat;

    bool notify(QObject* receiver, QEvent* event) override {
        if (!recording || m_depth > 0) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        const int type = int(event->type());
        const char* what = receiver->metaObject()->className();
        ++m_depth;
        QElapsedTimer clock;
        clock.start();
        const bool handled = QApplication::notify(receiver, event);
        note(clock.nsecsElapsed(), std::string(what) + " event " + std::to_string(type));
        --m_depth;
        return handled;
    }
    void note(qint64 ns, const std::string& what) {
        if (ns > longestNs) {
            longestNs = ns;
            longestWhat = what;
        }
    }

private:
    int m_depth = 0;
};

TimedApplication* timedApp() {
    return static_cast<TimedApplication*>(QCoreApplication::instance());
}

// Albums of 100 tracks, by 250 artists, listed album after album; each
// album's genre is the folder above it.
std::vector<Track> makeCatalog() {
    std::vector<Track> rows;
    rows.reserve(kTracks);
    for (int a = 0; a < kAlbums; ++a) {
        const QString genre = QStringLiteral("Genre %1").arg(a % kGenres);
        const QString album = QStringLiteral("Album %1").arg(a);
        const QString artist = QStringLiteral("Artist %1").arg(a % 250);
        for (int i = 0; i < kTracks / kAlbums; ++i) {
            Track t;
            t.id = qint64(rows.size()) + 1;
            t.title = QStringLiteral("Track %1").arg(i);
            t.artist = artist;
            t.album = album;
            t.duration = 200;
            t.path = QStringLiteral("/m/%1/%2/%3.flac").arg(genre, album).arg(i);
            rows.push_back(t);
        }
    }
    return rows;
}

QString writeStandIn(const QString& dir) {
    const QString path = dir + QStringLiteral("/ffprobe");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write("#!/bin/sh\n"
            "for a; do f=$a; done\n"
            "g=${f#file:/m/}; printf '%s\\n' \"${g%%/*}\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

struct ScanFigures {
    double totalSeconds = 0;
    double longestSeconds = 0;
    std::string longestWhat;
    std::size_t tiles = 0;
    bool right = false; // 8 tiles of 12,500 tracks each
};

ScanFigures runScan(const QString& tempDir) {
    platform::Platform plat;
    auto app = std::make_unique<App>(plat, test::fakeServices());
    const QString standIn = writeStandIn(tempDir);
    test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
    test::fakes(*app).tools.backendWrite = [](const QByteArray&) {};
    test::fakes(*app).tools.probeTool = [standIn](const QString&) { return standIn; };
    test::fakes(*app).tools.coverProgram = [] { return QStringLiteral("/bin/false"); };
    app->runCatalogInBackground();
    app->applicationDidFinishLaunching();
    app->timer->stop();
    app->library.rows = makeCatalog();
    app->catalogReplaced();
    bench::settle(*app);
    app->browser.viewKind = 1;
    app->filter(true);
    const auto idle = [&] { return !app->library.genrePending && !app->browser.pool.running; };
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();

    // Wakes the loop now and then, so the end is seen without a delay.
    QTimer wake;
    wake.start(5);
    TimedApplication* timed = timedApp();
    timed->longestNs = 0;
    timed->recording = true;
    QElapsedTimer total;
    total.start();
    {
        QElapsedTimer click;
        click.start();
        app->viewModeControl->setSelectedSegment(3);
        app->viewModeChanged();
        timed->note(click.nsecsElapsed(), "the click on the genre tab");
    }
    while (!(idle() && app->status->stringValue() == kDone))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ScanFigures f;
    f.totalSeconds = double(total.nsecsElapsed()) * 1e-9;
    timed->recording = false;
    f.longestSeconds = double(timed->longestNs) * 1e-9;
    f.longestWhat = timed->longestWhat;
    f.tiles = app->browser.albums.size();
    f.right = f.tiles == std::size_t(kGenres);
    for (const AlbumItem& tile : app->browser.albums)
        f.right = f.right && tile.kind == QLatin1String("genre") &&
                  tile.tracks.size() == std::size_t(kTracks / kGenres);
    app->library.genreSaves->finish(60000);
    return f;
}

std::optional<ScanFigures> g_scan;
QString g_tempDir;

const ScanFigures& scan() {
    if (!g_scan)
        g_scan = runScan(g_tempDir);
    return *g_scan;
}

void report(benchmark::State& state, double seconds) {
    const ScanFigures& f = scan();
    if (!f.right) {
        state.SkipWithError("the genre grid did not end with 8 tiles of 12,500 tracks");
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(seconds);
    state.counters["tiles"] = double(f.tiles);
    state.SetLabel(f.longestWhat);
}

void longestStep(benchmark::State& state) {
    report(state, scan().longestSeconds);
}
void scanTotal(benchmark::State& state) {
    report(state, scan().totalSeconds);
}

// One grouping of the whole catalog into genre tiles, every genre known.
void plainGrouping(benchmark::State& state) {
    const std::vector<Track> rows = makeCatalog();
    const TrackList tracks(rows);
    GenreMap genres;
    for (const Track& t : rows)
        genres.insert(t.path, t.path.section(QLatin1Char('/'), 2, 2));
    const QHash<QString, double> added;
    GroupingInput input;
    input.tracks = &tracks;
    input.viewKind = kGenreView;
    input.added = &added;
    input.genres = &genres;
    for (auto _ : state)
        benchmark::DoNotOptimize(groupTracks(input).size());
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    g_tempDir = home.tempPath();
    TimedApplication application(argc, argv);

    bench::RatioReporter reporter;
    const std::string longest = "genres/first-open/longest-main-thread-step/100000";
    const std::string total = "genres/first-open/scan-total/100000";
    const std::string plain = "genres/plain-grouping/100000";
    benchmark::RegisterBenchmark(longest.c_str(), longestStep)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(total.c_str(), scanTotal)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(plain.c_str(), plainGrouping)->Unit(benchmark::kMillisecond);
    reporter.pair(longest, plain);
    reporter.pair(total, plain);
    reporter.goal(longest, 50);
    reporter.goal(total, 120000);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
