// The listening features on the browser benchmarks' 100,000-track synthetic
// catalog, every track with play statistics, a date and a quality label:
//  - a filter pass with the most-played smart list against the same pass
//    with no smart list (the baseline, same run);
//  - one press of the similar-track radio against the same baseline.
// Both are main-thread time, as the window feels them. Runs in a temporary
// home: App reads and writes settings.
#include "app/App.h"
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
    reporter.pair(most, plain);
    reporter.pair(radio, plain);
    reporter.goal(most, 15);
    reporter.goal(radio, 100);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
