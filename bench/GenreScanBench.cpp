// The first opening of the genre grid over 100,000 tracks (1,000 albums in 8
// genres) whose genres were never read, in the main window (1280 x 820,
// offscreen) with the catalog worker running, as the program runs: from the
// click on the genre tab to "🎼 장르 정리 완료" with the last tiles shown.
// Printed beside one plain grouping of the same catalog into genre tiles in
// the same run:
//  - the longest single step of the main thread in that span (the click
//    itself, then each event the application delivers: batches, groupings
//    coming back, paints), by the main thread's CPU time (goal: 50 ms);
//  - the longest stretch the window could not answer: the main thread's CPU
//    time between two turns of a 20 ms tick, which waits for every step
//    posted before it, a backlog of batches included (goal: 50 ms);
//  - the scan's total time (goal: 2 minutes).
// Counters beside them: the longest step by the clock and how late the tick
// came at most (both stretched on a busy machine, where the main thread
// waits for a core), and the main thread's CPU time over the scan's time.
// The genre probe is a stand-in ffprobe, a shell script answering with the
// genre folder of the path (the files do not exist, so the in-process reader
// gives way to it for every file). Runs in a temporary home.
#include "FakeServices.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"
#include "ui/l10n/L10n.h"

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

// Times every event the application delivers from the event loop (a nested
// delivery belongs to the step that made it), by the main thread's own CPU
// time, which a busy machine does not stretch, and by the clock.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool recording = false;
    double longestCpu = 0;  // seconds
    double longestWall = 0; // seconds
    std::string longestWhat;

    bool notify(QObject* receiver, QEvent* event) override {
        if (!recording || m_depth > 0) {
            ++m_depth;
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        const int type = int(event->type());
        const std::string what = receiver->metaObject()->className();
        ++m_depth;
        const Stamp start = Stamp::now();
        const bool handled = QApplication::notify(receiver, event);
        note(start, what + " event " + std::to_string(type));
        --m_depth;
        return handled;
    }

    struct Stamp {
        double cpu = 0, wall = 0;
        static Stamp now() {
            return {
                bench::mainThreadSeconds(),
                std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                    .count()};
        }
    };
    void note(const Stamp& start, const std::string& what) {
        const Stamp end = Stamp::now();
        if (end.cpu - start.cpu > longestCpu) {
            longestCpu = end.cpu - start.cpu;
            longestWhat = what;
        }
        longestWall = std::max(longestWall, end.wall - start.wall);
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
    double longestSeconds = 0; // main-thread CPU time
    double longestWallSeconds = 0;
    double busyShare = 0;   // main-thread CPU time over the scan's time
    double latestTick = 0;  // seconds a 20 ms tick came late at most
    double busyStretch = 0; // most main-thread CPU time between two ticks
    QString finalStatus;
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

    TimedApplication* timed = timedApp();
    timed->recording = true;
    // A user's click waits for the main thread: how late a 20 ms tick comes.
    // It also wakes the loop, so the end is seen without a delay.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    // Posted steps run before timers: a backlog of batches delays the tick by
    // all of them, however short each one is. Between two ticks, the main
    // thread's CPU time is what it did instead of answering.
    TimedApplication::Stamp lastTick = TimedApplication::Stamp::now();
    double latest = 0, stretch = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const TimedApplication::Stamp now = TimedApplication::Stamp::now();
        latest = std::max(latest, now.wall - lastTick.wall - 0.020);
        stretch = std::max(stretch, now.cpu - lastTick.cpu);
        lastTick = now;
    });
    tick.start(20);
    const double cpuBefore = bench::mainThreadSeconds();
    QElapsedTimer total;
    total.start();
    {
        const TimedApplication::Stamp click = TimedApplication::Stamp::now();
        app->viewModeControl->setSelectedSegment(3);
        app->viewModeChanged();
        timed->note(click, "the click on the genre tab");
    }
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ScanFigures f;
    f.totalSeconds = double(total.nsecsElapsed()) * 1e-9;
    f.busyShare = (bench::mainThreadSeconds() - cpuBefore) / f.totalSeconds;
    f.latestTick = latest;
    f.busyStretch = stretch;
    timed->recording = false;
    f.longestSeconds = timed->longestCpu;
    f.longestWallSeconds = timed->longestWall;
    f.finalStatus = app->status->stringValue();
    f.longestWhat = timed->longestWhat;
    f.tiles = app->browser.albums.size();
    f.right = f.tiles == std::size_t(kGenres) &&
              f.finalStatus == L10n::tr(QStringLiteral("🎼 장르 정리 완료"));
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
        state.SkipWithError("the scan did not end with 8 genre tiles of 12,500 tracks");
        return;
    }
    for (auto _ : state)
        state.SetIterationTime(seconds);
    state.counters["tiles"] = double(f.tiles);
    state.counters["longest_step_wall_ms"] = f.longestWallSeconds * 1e3;
    state.counters["main_thread_busy"] = f.busyShare;
    state.counters["tick_late_ms"] = f.latestTick * 1e3;
    state.SetLabel(f.longestWhat);
}

void longestStep(benchmark::State& state) {
    report(state, scan().longestSeconds);
}
void busyStretch(benchmark::State& state) {
    report(state, scan().busyStretch);
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
    const std::string stretch = "genres/first-open/longest-busy-stretch/100000";
    const std::string total = "genres/first-open/scan-total/100000";
    const std::string plain = "genres/plain-grouping/100000";
    benchmark::RegisterBenchmark(longest.c_str(), longestStep)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(stretch.c_str(), busyStretch)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(total.c_str(), scanTotal)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(plain.c_str(), plainGrouping)->Unit(benchmark::kMillisecond);
    reporter.pair(longest, plain);
    reporter.pair(stretch, plain);
    reporter.pair(total, plain);
    reporter.goal(longest, 50);
    reporter.goal(stretch, 50);
    reporter.goal(total, 120000);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
