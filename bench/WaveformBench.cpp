// The waveform and the meter tick:
//  - computeWaveform of a 5-minute 44.1 kHz stereo FLAC made here, against
//    ffmpeg run directly with the same arguments writing to the null device
//    (goals: a ratio of at most 1.1, and at most 0.4 s);
//  - the peak memory a 3-hour file adds while its waveform is computed,
//    printed next to the 86.4 MB its 16-bit 4000 Hz samples take (goal: at
//    most twice that);
//  - one meter tick during playback with the repaints of the meter and the
//    waveform it causes, against a tick that does nothing with the same event
//    processing (goal: at most 1 ms of main-thread time per tick).
#include "FakeServices.h"
#include "analysis/ComputeWaveform.h"
#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/sim/SimPlatform.h"
#include "app/DecodeCommand.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

using namespace ql;

namespace {

QString g_five, g_three; // the 5-minute FLAC, the 3-hour FLAC

void BM_ComputeWaveform(benchmark::State& state) {
    for (auto _ : state)
        if (computeWaveform(g_five, {{}, 300, {}, {}}).size() != std::size_t(kWaveBuckets))
            return state.SkipWithError("no waveform");
}

void BM_FfmpegWaveformBare(benchmark::State& state) {
    const QStringList arguments = waveformArguments(ffmpegInput(g_five, QDir::currentPath()));
    for (auto _ : state)
        if (!bench::runQuietly(toolPath(QStringLiteral("ffmpeg")), arguments))
            return state.SkipWithError("ffmpeg failed");
}

// Kilobytes of a "Vm…" line of /proc/self/status.
long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

void BM_ThreeHourPeakMemory(benchmark::State& state) {
    for (auto _ : state) {
        // The high-water mark starts again from what is resident now.
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        if (!reset.open(QIODevice::WriteOnly) || reset.write("5") != 1)
            return state.SkipWithError("cannot reset the peak of resident memory");
        reset.close();
        const long before = statusKb("VmRSS:");
        if (computeWaveform(g_three, {{}, 10800, {}, {}}).size() != std::size_t(kWaveBuckets))
            return state.SkipWithError("no waveform");
        const double addedMb = double(statusKb("VmHWM:") - before) * 1024 / 1e6;
        state.counters["added_MB"] = addedMb;
        state.counters["samples_MB"] = 10800.0 * 8000 / 1e6;
        std::printf("3-hour file: peak added memory %.1f MB for %.1f MB of samples (%.2fx, goal "
                    "<= 2x: %s)\n",
                    addedMb, 86.4, addedMb / 86.4, addedMb <= 2 * 86.4 ? "met" : "MISSED");
    }
}

// A playing 60 s track at 0.05 s steps: every tick moves the waveform by
// more than its repaint threshold, and the falling meter repaints too.
struct TickRig {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::Manual, {}});
    QWidget host; // outlives App, which leaves the controls a window took to it
    App app{plat, test::fakeServices()};
    double position = 0;
    TickRig() {
        test::fakes(app).clock.player = [this] { return PlayerFacts{60, position, true}; };
        auto* row = new QHBoxLayout(&host);
        row->addWidget(app.meter);
        row->addWidget(app.wave);
        app.wave->setPeaks(WavePeaks(kWaveBuckets, 0.6f));
        host.resize(700, 42);
        host.show();
    }
};

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void tickBench(benchmark::State& state, bool tick) {
    TickRig rig;
    QCoreApplication::processEvents();
    for (auto _ : state) {
        const double start = cpuMs();
        rig.position = rig.position >= 59 ? 0 : rig.position + 0.05;
        if (tick)
            rig.app.meterTick();
        QCoreApplication::processEvents();
        state.SetIterationTime((cpuMs() - start) / 1e3);
    }
}
void BM_MeterTick(benchmark::State& state) {
    tickBench(state, true);
}
void BM_EmptyTick(benchmark::State& state) {
    tickBench(state, false);
}

} // namespace

BENCHMARK(BM_ComputeWaveform)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FfmpegWaveformBare)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ThreeHourPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MeterTick)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2000);
BENCHMARK(BM_EmptyTick)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2000);

int main(int argc, char** argv) {
    bench::BenchHome home;
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    QApplication application(argc, argv);
    g_five = QDir(temp.path()).filePath(QStringLiteral("five-minutes.flac"));
    g_three = QDir(temp.path()).filePath(QStringLiteral("three-hours.flac"));
    const QString ffmpeg = toolPath(QStringLiteral("ffmpeg"));
    if (!bench::runQuietly(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i",
                                    "anoisesrc=d=300:c=pink:r=44100", "-ac", "2", "-c:a", "flac",
                                    g_five}) ||
        !bench::runQuietly(ffmpeg,
                           {"-v", "error", "-y", "-f", "lavfi", "-i",
                            "sine=f=440:sample_rate=8000:d=10800", "-c:a", "flac", g_three})) {
        std::fprintf(stderr, "cannot make the test files with ffmpeg\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_ComputeWaveform", "BM_FfmpegWaveformBare");
    reporter.pair("BM_MeterTick", "BM_EmptyTick");
    reporter.goal("BM_ComputeWaveform", 400);
    reporter.goal("BM_MeterTick", 1);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goals: waveform / bare ffmpeg <= 1.1 and <= 400 ms; 3-hour peak <= 2x its "
                "samples; meter tick <= 1 ms of main-thread time\n");
    return 0;
}
