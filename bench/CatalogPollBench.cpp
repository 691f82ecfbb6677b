// The 2 s catalog poll and the catalog cache with 100,000 tracks (a "list"
// reply of about 30 MB), each next to a plain QJsonDocument parse of the same
// bytes as its baseline.
//
//   BM_PollChanged   a reply that differs from the last one: framing (64 KiB
//                    chunks as the pipe delivers them), decoding, comparing
//                    with the catalog and taking it in. Goal <= 150 ms.
//   BM_PollSame      a reply byte-identical to the last one: framing and the
//                    catalog worker's intake of it. Goal <= 5 ms.
//   BM_Restore       App::restoreCatalog() of the cache file. Goal <= 300 ms.
//   BM_ReceiveChanged  a changed reply written to the backend's pipe and
//                    taken in with every step on the main thread (the worker
//                    not started): decoding, folding, the cache write and the
//                    refilter (no goal; for the record).
//   BM_MainChanged   the main thread's share of a changed reply with the
//                    line reader and the catalog worker running (the reply
//                    written to a pipe, as the backend does). Goal <= 16 ms
//                    (one frame).
//   BM_MainSame      the same for a byte-identical reply. Goal <= 5 ms.
//   BM_LaunchFirstRows  App's construction to the first table rows, with the
//                    cache read on the worker. Goal <= 300 ms. Counter
//                    longest_step_ms: the longest single event the main
//                    thread handled after the launch call returned, until the
//                    catalog settled (rows, search texts, folders, and the
//                    album tiles). Goal <= 16 ms.
//   BM_QtParse       QJsonDocument::fromJson of the reply line (baseline).
#include "FakeServices.h"
#include "ReplyPipe.h"
#include "app/App.h"
#include "app/JsonCodec.h"
#include "library/CatalogChange.h"
#include "library/CatalogIntake.h"
#include "library/CatalogWorker.h"
#include "library/LineFramer.h"
#include "library/ReplyReader.h"
#include "platform/Platform.h"
#include "ui/TrackTableModel.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>

#include "TimeRecorder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

using namespace ql;

namespace {

constexpr int kTracks = 100'000;
constexpr qsizetype kChunk = 64 * 1024;

// A library shaped like a real one: albums of 12 tracks in artist and album
// folders (about 8,300 albums by 2,100 artists), Latin and Hangul names, some
// covers from the web. `variant` renames one title in the middle.
std::vector<Track> sampleCatalog(int variant) {
    std::vector<Track> rows;
    rows.reserve(kTracks);
    for (int i = 0; i < kTracks; ++i) {
        const int albumNo = i / 12, artistNo = albumNo / 4;
        const QString artist = artistNo % 3 == 0
                                   ? QStringLiteral("아이유와 친구들 %1").arg(artistNo)
                                   : QStringLiteral("Artist Name Number %1").arg(artistNo);
        const QString album = QStringLiteral("Album Title Of Some Length %1").arg(albumNo);
        const QString title = i % 4 == 0
                                  ? QStringLiteral("밤편지 그리고 다른 노래 %1").arg(i)
                                  : QStringLiteral("Song Title With Several Words %1").arg(i);
        Track t;
        t.id = 1'000'000'000'000LL + i * 7919LL;
        t.path = QStringLiteral("/home/someone/Music/%1/%2/%3 - %4.flac")
                     .arg(artist, album, QString::number(i % 12 + 1), title);
        t.title = title;
        t.artist = artist;
        t.album = album;
        t.duration = 120.0 + (i % 400) + 0.125 * (i % 8);
        if (i % 5 == 0)
            t.art = QStringLiteral("https://coverartarchive.org/release/%1-4f2c-9a1e-"
                                   "0123456789ab/front-500")
                        .arg(i, 8, 16, QLatin1Char('0'));
        rows.push_back(std::move(t));
    }
    if (variant)
        rows[kTracks / 2].title += QStringLiteral(" (remaster)");
    return rows;
}

QByteArray replyLine(int variant) {
    return JsonCodec<Library>::encode(Library{sampleCatalog(variant), true, {}}).value_or("") +
           '\n';
}

const QByteArray& line(int variant) {
    static const QByteArray lines[2] = {replyLine(0), replyLine(1)};
    return lines[variant];
}

// What the poll does with one reply, short of the cache write and the
// refilter a change causes, and of folding the search texts: the framing,
// decoding and comparing that the line reader and the catalog worker share.
struct Poll {
    LineFramer framer;
    ReplyReader reader;
    std::shared_ptr<const std::vector<Track>> rows = std::make_shared<std::vector<Track>>();

    bool changedBy(const QByteArray& bytes) {
        bool changed = false;
        for (qsizetype at = 0; at < bytes.size(); at += kChunk) {
            framer.append(QByteArrayView(bytes).sliced(at, std::min(kChunk, bytes.size() - at)));
            while (const std::optional<FramedLine> l = framer.next()) {
                const CatalogReply* reply = reader.read(l->bytes, rows);
                if (!reply || !reply->tracks)
                    continue;
                const CatalogComparison c = compareCatalogs(*rows, *reply->tracks);
                if (!c.identical)
                    rows = reply->tracks;
                changed = changed || c.changed;
            }
        }
        return changed;
    }
};

void BM_PollChanged(benchmark::State& state) {
    Poll poll;
    poll.changedBy(line(0));
    int variant = 0;
    for (auto _ : state) {
        variant ^= 1;
        if (!poll.changedBy(line(variant)))
            state.SkipWithError("a changed catalog was not seen as one");
    }
}

// The idle poll as the program runs it, on one thread: the framer cuts the
// line (its array handed over and given back for the next reply, as the
// worker recycles it) and the catalog worker's intake takes it.
void BM_PollSame(benchmark::State& state) {
    LineFramer framer;
    CatalogIntake intake;
    const auto poll = [&] {
        std::optional<CatalogUpdate> update;
        const QByteArray& bytes = line(0);
        for (qsizetype at = 0; at < bytes.size(); at += kChunk) {
            framer.append(QByteArrayView(bytes).sliced(at, std::min(kChunk, bytes.size() - at)));
            while (const std::optional<FramedLine> l = framer.next()) {
                QByteArray taken = framer.take(*l);
                update = intake.take(taken);
                framer.reuse(std::move(taken));
            }
        }
        return update;
    };
    poll();
    for (auto _ : state) {
        const std::optional<CatalogUpdate> update = poll();
        if (!update || !update->repeat || update->taken || update->comparison.changed)
            state.SkipWithError("the same reply was decoded again or seen as a change");
    }
}

void BM_QtParse(benchmark::State& state) {
    for (auto _ : state) {
        const QJsonDocument doc = QJsonDocument::fromJson(line(0));
        if (!doc.isObject())
            state.SkipWithError("the baseline did not parse");
        benchmark::DoNotOptimize(doc);
    }
}

// An App with its stores in a temporary folder.
struct BenchApp {
    QTemporaryDir dir;
    platform::Platform plat;
    App app{plat, test::fakeServices()};
    BenchApp() { app.core.store = JSONStore(dir.path()); }
};

void BM_Restore(benchmark::State& state) {
    BenchApp b;
    b.app.library.rows = sampleCatalog(0);
    b.app.saveCatalog();
    for (auto _ : state) {
        state.PauseTiming();
        b.app.library.rows.clear();
        state.ResumeTiming();
        b.app.restoreCatalog();
        if (b.app.library.rows.size() != size_t(kTracks))
            state.SkipWithError("the cache did not restore");
    }
}

void BM_ReceiveChanged(benchmark::State& state) {
    BenchApp b;
    test::fakes(b.app).tools.backendWrite = [](const QByteArray&) {};
    test::ReplyPipe backend(b.app);
    if (!backend.send(line(0)))
        state.SkipWithError("the first reply was not taken in");
    int variant = 0;
    for (auto _ : state) {
        variant ^= 1;
        if (!backend.send(line(variant)))
            state.SkipWithError("a reply was not taken in");
    }
}

// The main thread's share of a reply with the catalog worker running, as the
// program runs it: the bytes go through a pipe to the backend's line reader,
// which frames them on its own thread and hands the complete line to the main
// thread (App::takeReplyLine), then the worker's update is taken in
// (App::takeCatalogUpdate: with a change, the cache write's request, the
// folder pop-up and the refilter). The reader's and the worker's own time is
// not counted; they run while the window keeps drawing.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

void mainThreadShare(benchmark::State& state, bool change) {
    BenchApp b;
    test::fakes(b.app).tools.backendWrite = [](const QByteArray&) {};
    std::optional<CatalogUpdate> arrived;
    auto& work = b.app.library.work;
    work = std::make_unique<CatalogWorker>(
        &b.app, [&arrived](CatalogUpdate u) { arrived = std::move(u); }, [](CatalogSave) {});
    work->startThreads();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    b.app.startReader(fds[0]); // the reader owns the read end from here
    // The main thread's own CPU time (threadCpuMs): on a busy machine the
    // wall clock would also count the time the thread waited for a core, and
    // while it waits for the reader and the worker it sleeps.
    double received = 0, took = 0;
    const auto feed = [&](int variant) {
        const QByteArray& bytes = line(variant);
        arrived.reset();
        std::thread backend([&bytes, fd = fds[1]] {
            for (qsizetype at = 0; at < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
                if (n <= 0)
                    return;
                at += n;
            }
        });
        const double start = threadCpuMs();
        // Sleeps between events in 2 ms naps (processEvents with a time limit
        // would spin and count its own polling).
        while (!arrived) {
            QEventLoop nap;
            QTimer::singleShot(2, &nap, &QEventLoop::quit);
            nap.exec();
        }
        const double receiving = threadCpuMs() - start;
        backend.join();
        const double take = threadCpuMs();
        b.app.takeCatalogUpdate(std::move(*arrived));
        const double taking = threadCpuMs() - take;
        received += receiving;
        took += taking;
        return (receiving + taking) / 1e3; // seconds, for SetIterationTime
    };
    feed(0);
    int variant = 0;
    for (auto _ : state) {
        if (change)
            variant ^= 1;
        state.SetIterationTime(feed(variant));
    }
    // The two halves: taking the line from the reader, taking the update in.
    state.counters["receive_ms"] = benchmark::Counter(received, benchmark::Counter::kAvgIterations);
    state.counters["take_ms"] = benchmark::Counter(took, benchmark::Counter::kAvgIterations);
    // The writes asked for are finished before the next benchmark.
    work->finish(10000);
    ::close(fds[1]);
}

// The longest main-thread step of the launches with a cache; -1: none run.
double g_longestLaunchStep = -1;

// Times every event the main thread delivers (its own CPU time), so the
// longest step the window waits on can be reported.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth++ > 0 || !m_timing) {
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        const double start = threadCpuMs();
        const bool done = QApplication::notify(receiver, event);
        longest = std::max(longest, threadCpuMs() - start);
        --m_depth;
        return done;
    }
    void timeSteps(bool on) {
        m_timing = on;
        if (on)
            longest = 0;
    }
    double longest = 0;

private:
    int m_depth = 0;
    bool m_timing = false;
};

// From App's construction to the first reset of the track table with rows,
// with a 100,000-track cache to read: the launch as the program runs it (the
// worker reads and folds the cache while the window is built and shown).
// Counter main_ms: the main thread's own CPU time in that span.
void BM_LaunchFirstRows(benchmark::State& state) {
    const bool cached = state.range(0) != 0;
    QTemporaryDir dir;
    if (cached) {
        BenchApp writer;
        writer.app.core.store = JSONStore(dir.path());
        writer.app.library.rows = sampleCatalog(0);
        writer.app.saveCatalog();
    }
    double mainMs = 0;
    double longestStep = 0;
    auto* timed = static_cast<TimedApplication*>(QCoreApplication::instance());
    for (auto _ : state) {
        const double cpu0 = threadCpuMs();
        platform::Platform plat;
        App app(plat, test::fakeServices());
        app.core.store = JSONStore(dir.path());
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
        bool shown = false;
        QObject::connect(app.views.tableModel, &QAbstractItemModel::modelReset, &app,
                         [&] { shown = shown || !app.browser.filtered.empty(); });
        app.runCatalogInBackground();
        app.applicationDidFinishLaunching();
        timed->timeSteps(true);
        while (cached && !shown)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        mainMs += threadCpuMs() - cpu0;
        state.PauseTiming();
        // The rest of the catalog's arrival: its search texts and folders,
        // and the tiles of the album grid the launch shows.
        const auto settled = [&] {
            return app.library.memoGeneration == app.library.catalogGeneration &&
                   (!app.albumMode() || !app.browser.albums.empty());
        };
        while (cached && !settled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        timed->timeSteps(false);
        longestStep = std::max(longestStep, timed->longest);
        app.applicationWillTerminate();
        state.ResumeTiming();
    }
    state.counters["main_ms"] = benchmark::Counter(mainMs, benchmark::Counter::kAvgIterations);
    state.counters["longest_step_ms"] = longestStep;
    if (cached)
        g_longestLaunchStep = longestStep;
}

void BM_MainChanged(benchmark::State& state) {
    mainThreadShare(state, true);
}

void BM_MainSame(benchmark::State& state) {
    mainThreadShare(state, false);
}

BENCHMARK(BM_QtParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollSame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Restore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MainChanged)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_MainSame)->Unit(benchmark::kMillisecond)->UseManualTime();
// Argument 0: no cache, the launch alone (the baseline); 1: the cache read.
BENCHMARK(BM_LaunchFirstRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    TimedApplication application(argc, argv); // App makes widgets
    benchmark::Initialize(&argc, argv);
    std::printf("reply line: %d tracks, %.1f MB\n", kTracks, double(line(0).size()) / 1e6);
    bench::TimeRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    if (!recorder.ms.count("BM_QtParse"))
        return 0;
    const double base = recorder.ms["BM_QtParse"];
    const auto report = [&](const char* name, const char* what, double goal) {
        if (!recorder.ms.count(name))
            return;
        const double ms = recorder.ms[name];
        if (goal > 0)
            std::printf("%s: %.2f ms (goal <= %.0f ms: %s); QJsonDocument parse %.1f ms; "
                        "ours / parse = %.3f\n",
                        what, ms, goal, ms <= goal ? "met" : "missed", base, ms / base);
        else
            std::printf("%s: %.2f ms; QJsonDocument parse %.1f ms; ours / parse = %.3f\n", what, ms,
                        base, ms / base);
    };
    report("BM_PollChanged", "poll, changed catalog", 150);
    report("BM_PollSame", "poll, byte-identical reply", 5);
    report("BM_Restore", "restoreCatalog", 300);
    report("BM_ReceiveChanged", "receive, changed catalog with cache write and refilter", 0);
    report("BM_MainChanged/manual_time", "main thread, changed catalog (worker running)", 16);
    report("BM_MainSame/manual_time", "main thread, byte-identical reply (worker running)", 5);
    report("BM_LaunchFirstRows/0/iterations:3", "launch without a cache", 0);
    report("BM_LaunchFirstRows/1/iterations:3", "launch to the first rows, 100,000-track cache",
           300);
    if (g_longestLaunchStep >= 0)
        std::printf("launch, longest main-thread step after the window shows: %.2f ms (goal <= "
                    "16 ms: %s)\n",
                    g_longestLaunchStep, g_longestLaunchStep <= 16 ? "met" : "missed");
    return 0;
}
