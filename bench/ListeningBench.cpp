// The listening features on the browser benchmarks' 100,000-track synthetic
// catalog, every track with play statistics, a date and a quality label:
//  - a filter pass with the most-played smart list against the same pass
//    with no smart list (the baseline, same run);
//  - one press of the similar-track radio against the same baseline;
//  - with a sonic vector for every track: one guest DJ refill in the
//    Contempo style (also right after the sonic index changed) and in the
//    Stretch style, and one Sonic Adventure path (its rows, pool and 10
//    steps), against a pass that computes one distance per catalog row (the
//    baseline of these).
// All are main-thread time, as the window feels them. Runs in a temporary
// home: App reads and writes settings.
#include "app/App.h"
#include "listening/AdventurePath.h"
#include "listening/SonicVector.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "BenchAudio.h"
#include "BenchCatalog.h"
#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>

using namespace ql;
using namespace ql::bench;

namespace {

constexpr int kTracks = 100000;

std::unique_ptr<App> listeningApp(platform::Platform& plat) {
    auto app = makeRunningApp(plat, catalogs().get(kTracks, kTracks / 20));
    QRandomGenerator rng(3);
    const double now = double(QDateTime::currentSecsSinceEpoch());
    for (const Track& t : app->library.rows) {
        app->playback.stats.insert(
            t.path, PlayStat{qint64(rng.bounded(12)), now - double(rng.bounded(9'000'000))});
        app->library.added.insert(t.path, now - double(rng.bounded(9'000'000)));
        app->library.qual.insert(t.path, rng.bounded(4) == 0 ? QStringLiteral("FLAC 24/96 ★")
                                                             : QStringLiteral("FLAC 16/44.1"));
    }
    return app;
}

void filterPass(benchmark::State& state, int smartMode) {
    platform::Platform plat;
    auto app = listeningApp(plat);
    app->listening.smartMode = smartMode;
    app->filter(true);
    for (auto _ : state) {
        state.PauseTiming();
        settle(*app);
        state.ResumeTiming();
        const double start = mainThreadSeconds();
        app->filter(false);
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    state.counters["shown"] = double(app->browser.filtered.size());
}

// A press while a track plays: the scoring and the queue, nothing started.
void radioPress(benchmark::State& state) {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::Manual, {}});
    auto app = listeningApp(plat);
    const QString path = QDir::temp().filePath(QStringLiteral("listening-bench.flac"));
    if (!writeMusicFlac(path, 44100, SF_FORMAT_PCM_16, 2.0)) {
        state.SkipWithError("cannot write the playing file");
        return;
    }
    app->playback.audio = platform::AudioPlayer::open(*plat.outputs, path).player;
    if (!app->playback.audio || !app->playback.audio->play()) {
        state.SkipWithError("the simulated device does not play");
        return;
    }
    app->playback.current = app->library.rows[kTracks / 2];
    for (auto _ : state) {
        app->listening.radioQueue.clear();
        const double start = mainThreadSeconds();
        app->startRadio();
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    state.counters["queued"] = double(app->listening.radioQueue.size());
    app->playback.audio.reset();
}

// Every track analysed, with a year.
std::unique_ptr<App> soundApp(platform::Platform& plat) {
    auto app = listeningApp(plat);
    QRandomGenerator rng(5);
    for (const Track& t : app->library.rows)
        app->listening.sonic.insert(t.path, Sonic{70 + rng.bounded(90.0), -50 + rng.bounded(40.0),
                                                  rng.bounded(12.0), rng.bounded(0.125),
                                                  1960 + rng.bounded(60), true});
    app->playback.current = app->library.rows[kTracks / 2];
    return app;
}

void oneDistancePerRow(benchmark::State& state) {
    platform::Platform plat;
    auto app = soundApp(plat);
    const std::vector<double> seed = *app->sonicVec(*app->playback.current);
    double sum = 0;
    for (auto _ : state) {
        const double start = mainThreadSeconds();
        for (const Track& t : app->library.rows)
            if (const auto v = app->sonicVec(t))
                sum += sonicDistance(seed, *v);
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    benchmark::DoNotOptimize(sum);
}

// One refill from the current track, the queue and the memory empty. With
// `indexChanged`, the sonic index has changed since the last refill (as after
// each batch of a background scan), so every row's features are read again.
void djRefillPass(benchmark::State& state, int style, bool indexChanged) {
    platform::Platform plat;
    auto app = soundApp(plat);
    app->listening.djMode = style;
    const Track& some = app->library.rows[3];
    for (auto _ : state) {
        app->listening.radioQueue.clear();
        app->listening.djRecent.clear();
        if (indexChanged)
            app->listening.sonic.insert(some.path, app->listening.sonic.value(some.path));
        const double start = mainThreadSeconds();
        app->djRefill();
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    state.counters["queued"] = double(app->listening.radioQueue.size());
}

// What the Adventure computes between the features and the queue.
void adventurePass(benchmark::State& state) {
    platform::Platform plat;
    auto app = soundApp(plat);
    const Track& from = *app->playback.current;
    const Track& to = app->library.rows[7];
    std::size_t steps = 0;
    for (auto _ : state) {
        const double start = mainThreadSeconds();
        const std::vector<SoundRow>& rows = app->soundRows();
        const std::vector<std::size_t> pool = adventurePool(rows, from.id, to.id);
        steps = adventurePath(rows, pool, app->soundRow(from), *app->sonicVec(from),
                              *app->sonicVec(to), app->listening.random)
                    .size();
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    state.counters["steps"] = double(steps);
}

} // namespace

int main(int argc, char** argv) {
    BenchHome home;
    QApplication application(argc, argv);

    RatioReporter reporter;
    const std::string plain = "listening/filter/no-smart-list/100000";
    const std::string most = "listening/filter/most-played/100000";
    const std::string radio = "listening/radio-press/100000";
    benchmark::RegisterBenchmark(plain.c_str(), filterPass, 0)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(most.c_str(), filterPass, 2)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(radio.c_str(), radioPress)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    const std::string distances = "listening/one-distance-per-row/100000";
    const std::string contempo = "listening/dj-refill-contempo/100000";
    const std::string stretch = "listening/dj-refill-stretch/100000";
    const std::string adventure = "listening/adventure-path/100000";
    benchmark::RegisterBenchmark(distances.c_str(), oneDistancePerRow)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    const std::string contempoChanged = "listening/dj-refill-contempo-new-index/100000";
    benchmark::RegisterBenchmark(contempo.c_str(), djRefillPass, 1, false)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(contempoChanged.c_str(), djRefillPass, 1, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(stretch.c_str(), djRefillPass, 3, false)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(adventure.c_str(), adventurePass)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    reporter.pair(contempo, distances);
    reporter.pair(contempoChanged, distances);
    reporter.pair(stretch, distances);
    reporter.pair(adventure, distances);
    reporter.goal(contempo, 60);
    reporter.goal(stretch, 60);
    reporter.goal(adventure, 300);
    reporter.pair(most, plain);
    reporter.pair(radio, plain);
    reporter.goal(most, 15);
    reporter.goal(radio, 100);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
