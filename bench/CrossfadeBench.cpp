// CPU time of a 5 s crossfade against 5 s of one track, in one run, on the
// real-time simulated device: the crossfade mixes two voices (the old one
// fading out, the new one rising) and steps both gains every 0.1 s from the
// event loop, as the program does. Goal: the ratio is at most 2.2.
//
// Both passes play the same 20 s music-like file from App from 5 s before its
// end: the fade pass starts the crossfade into a second copy of the file and
// runs the event loop until the fade is over; the baseline plays on for 5 s.
// CPU time is the whole process's (getrusage), counted per 5 s of wall time.
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "ui/SeekSlider.h"

#include "BenchAudio.h"
#include "BenchHome.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using namespace ql;

namespace {

constexpr int kRate = 44100;
constexpr double kTrackSeconds = 20;
constexpr double kFadeSeconds = 5;
QString g_first, g_second;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until `done` or `ms` have passed; the wall seconds.
double runLoop(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done() || wall.elapsed() >= ms)
            loop.quit();
    });
    look.start(10);
    loop.exec();
    return double(wall.nsecsElapsed()) / 1e9;
}

// CPU seconds per 5 s of playback from 5 s before the end of the first file,
// with the crossfade into the second (until the fade is over) or without;
// negative on failure.
double fiveSeconds(bool crossfade) {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::RealTime, {}});
    App app(plat);
    app.playback.maxQuality = false;
    app.playback.rateMatchOn = false;
    app.listening.crossfadeOn = crossfade;
    app.views.volume->setDoubleValue(100);
    app.library.rows = {Track{1, g_first, QStringLiteral("A"), {}, {}, kTrackSeconds, {}},
                        Track{2, g_second, QStringLiteral("B"), {}, {}, kTrackSeconds, {}}};
    app.browser.filtered = app.library.rows;
    app.play(app.library.rows[0]);
    if (!app.isPlaying())
        return -1;
    app.setAudioTime(kTrackSeconds - kFadeSeconds - 0.2);
    runLoop(1000, [&] { return *app.audioCurrentTime() >= kTrackSeconds - kFadeSeconds; });
    const double cpu0 = cpuSeconds();
    if (crossfade) {
        app.crossfadeCheck();
        if (!app.playback.fadingOut)
            return -1;
    }
    const double wall = runLoop(int(kFadeSeconds * 1000) + (crossfade ? 1000 : 0),
                                [&] { return crossfade && !app.playback.fadingOut; });
    const double cpu = cpuSeconds() - cpu0;
    // The fade must have run to its end within the pass.
    if (crossfade && app.playback.fadingOut)
        return -1;
    return cpu / wall * kFadeSeconds;
}

void measure(benchmark::State& state, bool crossfade) {
    for (auto _ : state) {
        const double cpu = fiveSeconds(crossfade);
        if (cpu < 0)
            return state.SkipWithError("playback failed");
        state.SetIterationTime(cpu);
    }
}

void BM_Crossfade5s_Cpu(benchmark::State& state) {
    measure(state, true);
}
void BM_OneVoice5s_Cpu(benchmark::State& state) {
    measure(state, false);
}

BENCHMARK(BM_OneVoice5s_Cpu)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crossfade5s_Cpu)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    const bench::BenchHome home(true); // its temporary folder is the program's too
    QApplication application(argc, argv);
    g_first = QDir(home.tempPath()).filePath(QStringLiteral("first.flac"));
    g_second = QDir(home.tempPath()).filePath(QStringLiteral("second.flac"));
    if (!bench::writeMusicFlac(g_first, kRate, SF_FORMAT_PCM_16, kTrackSeconds) ||
        !QFile::copy(g_first, g_second)) {
        std::fprintf(stderr, "cannot write the test files\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_Crossfade5s_Cpu", "BM_OneVoice5s_Cpu");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: crossfade / one voice <= 2.2\n");
    return 0;
}
