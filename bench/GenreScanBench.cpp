// The first opening of the genre grid over 100,000 tracks (1,000 albums in 8
// genres) whose genres were never read, in the main window (1280 x 820,
// offscreen) with the catalog worker running, as the program runs: from the
// click on the genre tab to "🎼 장르 정리 완료" with the last tiles shown.
// Printed beside one plain grouping of the same catalog into genre tiles in
// the same run:
//  - the longest single step of the main thread in that span (the click
//    itself, then each event the application delivers: batches, groupings
//    coming back, paints), by the clock less the time the main thread waited
//    for a core: its work and whatever it blocked on (goal: 50 ms);
//  - the longest question left unanswered: a stall monitor (StallMonitor.h)
//    asks the main thread something every 20 ms, as a desktop asking the
//    playback status does, and times each answer the same way; a question
//    waits for every step posted before it, a backlog of batches included
//    (goal: 50 ms);
//  - the scan's total time (goal: 2 minutes).
// Counters beside them: the longest step by CPU time and by the clock, the
// longest answer by the clock (stretched on a busy machine, where the main
// thread waits for a core), the questions that waited over 20 ms, and the
// main thread's CPU time over the scan's time. Steps over 20 ms are listed.
//
// Then the covers: the grid shows all 8 tiles, whose mosaics hold 32 albums
// (the first four of each tile). Extractions run a stand-in for ffmpeg that
// takes 0.1 s and logs the album; the figures are how many ran during the
// scan, how many after it and for how long the cover queue went on (goal:
// after the scan, no more than the albums the tiles show).
//
// The genre probe is a stand-in ffprobe, a shell script answering with the
// genre folder of the path (the files do not exist, so the in-process reader
// gives way to it for every file). Runs in a temporary home.
#include "FakeServices.h"
#include "TestFiles.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"
#include "ui/l10n/L10n.h"

#include "BenchCatalog.h"
#include "BenchHome.h"
#include "RatioReporter.h"
#include "StallMonitor.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

using namespace ql;

namespace {

constexpr int kTracks = 100000;
constexpr int kAlbums = 1000;
constexpr int kGenres = 8;

// Times every event the application delivers from the event loop (a nested
// delivery belongs to the step that made it): by the clock less the time the
// main thread waited for a core (its own time: its work and what it blocked
// on), by its CPU time, and by the clock.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool recording = false;
    double longestOwn = 0; // seconds
    double longestCpu = 0;
    double longestWall = 0;
    std::string longestWhat;
    // Steps whose own time passed 20 ms, for the report.
    std::vector<std::pair<double, std::string>> slow;
    const bench::ThreadClock clock; // made on the main thread

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
        const bench::ThreadClock::Stamp start = clock.now();
        const bool handled = QApplication::notify(receiver, event);
        note(start, what + " event " + std::to_string(type));
        --m_depth;
        return handled;
    }

    void note(const bench::ThreadClock::Stamp& start, const std::string& what) {
        const bench::ThreadClock::Stamp end = clock.now();
        const double own = end.ownSince(start);
        if (own > longestOwn) {
            longestOwn = own;
            longestWhat = what;
        }
        if (own > 0.020)
            slow.emplace_back(own, what);
        longestCpu = std::max(longestCpu, end.cpu - start.cpu);
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

// The genre probe: answers with the genre folder of the path.
QString writeStandIn(const QString& dir) {
    const QString path = dir + QStringLiteral("/ffprobe");
    return test::writeExecutable(path, "for a; do f=$a; done\n"
                                       "g=${f#file:/m/}; printf '%s\\n' \"${g%%/*}\"\n")
               ? path
               : QString();
}

// The cover extraction: takes as long as ffmpeg takes over a real file's
// picture (about 0.1 s), logs the album it was asked for (the input's
// folder) and writes a picture where ffmpeg would.
QString writeCoverStandIn(const QString& dir) {
    const QString picture = dir + QStringLiteral("/cover.jpg");
    QImage image(300, 300, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (!image.save(picture))
        return {};
    const QString path = dir + QStringLiteral("/ffmpeg");
    const QByteArray script = "in=$5; for a; do out=$a; done\n"
                              "sleep 0.1\n"
                              "printf '%s\\n' \"${in%/*}\" >> \"$0.log\"\n"
                              "cp '" +
                              QFile::encodeName(picture) + "' \"$out\"\n";
    return test::writeExecutable(path, script) ? path : QString();
}

int logLines(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
}

struct ScanFigures {
    double totalSeconds = 0;
    double longestOwn = 0; // seconds: the longest step, less the waits for a core
    double longestCpu = 0;
    double longestWall = 0;
    bench::StallMonitor::Figures unanswered;
    double busyShare = 0; // main-thread CPU time over the scan's time
    bool countsQueueing = false;
    QString finalStatus;
    std::string longestWhat;
    std::vector<std::pair<double, std::string>> slow;
    std::size_t tiles = 0;
    bool right = false; // 8 tiles of 12,500 tracks each
    // Covers: extractions during the scan, after its end, how long the cover
    // queue ran on after it, and the albums the shown tiles' mosaics hold.
    int coversDuring = 0;
    int coversAfter = 0;
    double coverTail = 0;
    int albumsShown = 0;
};

ScanFigures runScan(const QString& tempDir) {
    platform::Platform plat;
    auto app = std::make_unique<App>(plat, test::fakeServices());
    const QString standIn = writeStandIn(tempDir);
    const QString coverStandIn = writeCoverStandIn(tempDir);
    const QString coverLog = coverStandIn + QStringLiteral(".log");
    test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
    test::fakes(*app).tools.backendWrite = [](const QByteArray&) {};
    test::fakes(*app).tools.probeTool = [standIn](const QString&) { return standIn; };
    test::fakes(*app).tools.coverProgram = [coverStandIn] { return coverStandIn; };
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
    // The album grid's own covers are not this measure's.
    while (!app->coverQueue->waitForDone(10))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    const int coversBefore = logLines(coverLog);

    TimedApplication* timed = timedApp();
    timed->recording = true;
    // Wakes the loop now and then, so the end is seen without a delay.
    QTimer tick;
    tick.start(20);
    QObject answerer;
    bench::StallMonitor monitor(&answerer);
    monitor.start();
    const double cpuBefore = bench::mainThreadSeconds();
    QElapsedTimer total;
    total.start();
    {
        const bench::ThreadClock::Stamp click = timed->clock.now();
        app->viewModeControl->setSelectedSegment(3);
        app->viewModeChanged();
        timed->note(click, "the click on the genre tab");
    }
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ScanFigures f;
    f.totalSeconds = double(total.nsecsElapsed()) * 1e-9;
    f.busyShare = (bench::mainThreadSeconds() - cpuBefore) / f.totalSeconds;
    f.unanswered = monitor.stop();
    timed->recording = false;
    f.countsQueueing = timed->clock.countsQueueing();
    f.longestOwn = timed->longestOwn;
    f.longestCpu = timed->longestCpu;
    f.longestWall = timed->longestWall;
    f.longestWhat = timed->longestWhat;
    f.slow = timed->slow;
    f.finalStatus = app->status->stringValue();
    f.tiles = app->browser.albums.size();
    f.right = f.tiles == std::size_t(kGenres) &&
              f.finalStatus == L10n::tr(QStringLiteral("🎼 장르 정리 완료"));
    for (const AlbumItem& tile : app->browser.albums) {
        f.right = f.right && tile.kind == QLatin1String("genre") &&
                  tile.tracks.size() == std::size_t(kTracks / kGenres);
        f.albumsShown += int(mosaicAlbums(tile).size());
    }

    // The cover queue after the scan: what it still extracts, and for how long.
    const int coversAtEnd = logLines(coverLog);
    QElapsedTimer tail;
    tail.start();
    while (!app->coverQueue->waitForDone(10) && tail.elapsed() < 300000)
        QCoreApplication::processEvents();
    f.coverTail = double(tail.nsecsElapsed()) * 1e-9;
    f.coversDuring = coversAtEnd - coversBefore;
    f.coversAfter = logLines(coverLog) - coversAtEnd;
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
    state.counters["step_cpu_ms"] = f.longestCpu * 1e3;
    state.counters["step_wall_ms"] = f.longestWall * 1e3;
    state.counters["unanswered_wall_ms"] = f.unanswered.longestWall * 1e3;
    state.counters["questions_over_20ms"] = f.unanswered.over20ms;
    state.counters["main_thread_busy"] = f.busyShare;
    state.SetLabel(f.longestWhat);
}

void longestStep(benchmark::State& state) {
    report(state, scan().longestOwn);
}
void longestUnanswered(benchmark::State& state) {
    report(state, scan().unanswered.longestOwn);
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
    const std::string stretch = "genres/first-open/longest-unanswered/100000";
    const std::string total = "genres/first-open/scan-total/100000";
    const std::string plain = "genres/plain-grouping/100000";
    benchmark::RegisterBenchmark(longest.c_str(), longestStep)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(stretch.c_str(), longestUnanswered)
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

    const ScanFigures& f = scan();
    if (!f.countsQueueing)
        std::printf("note: no run-queue counts here; own times include waits for a core\n");
    std::printf("longest unanswered question of its own: %.1f ms (its main thread also waited "
                "%.1f ms for a core); by the clock at most %.1f ms; %d of %d questions waited "
                "over 20 ms of their own\n",
                f.unanswered.longestOwn * 1e3, f.unanswered.queuedInLongest * 1e3,
                f.unanswered.longestWall * 1e3, f.unanswered.over20ms, f.unanswered.questions);
    for (const auto& [own, what] : f.slow)
        std::printf("  step over 20 ms: %.1f ms %s\n", own * 1e3, what.c_str());
    // Covers are wanted for the tiles on screen only: once the scan is over,
    // at most the albums of the shown tiles' mosaics are still extracted.
    std::printf("covers extracted: %d during the scan, %d after it (the cover queue ran %.1f s "
                "on); the tiles shown hold %d albums; goal: after <= shown: %s\n",
                f.coversDuring, f.coversAfter, f.coverTail, f.albumsShown,
                f.coversAfter <= f.albumsShown ? "met" : "MISSED");
    return 0;
}
