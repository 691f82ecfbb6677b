// Playing the same 10-minute AAC file made here with ffmpeg, in one run:
//  - the direct road: from App::play() to the first frame reaching the
//    (simulated, untimed) device, our player decoding the file itself
//    (goal: at most 50 ms);
//  - the decode road on the same file, started through startDecodeRoad():
//    ffmpeg decodes the whole file to a float CAF before the first frame;
//  - `ffmpeg -i FILE -f f32le -y /dev/null`, which decodes the same stream
//    and writes nothing: the floor for any whole-file decode;
//  - our player's whole-file throughput on the untimed device against that
//    floor (goal: a ratio of at most 1.0).
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace ql;

namespace {

QString g_file; // the 10-minute AAC file

// Runs the event loop until `done()` holds. The loop sleeps between looks
// (a busy wait would take a core from ffmpeg or the player's threads).
template <typename F> void waitUntil(F done) {
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(1);
    loop.exec();
}

// Waits until the current player has handed its first frame to the device;
// false when the request ended without playing.
bool waitForFirstFrame(App& app) {
    bool failed = false;
    waitUntil([&] {
        failed = !app.playback.loading && !app.isPlaying();
        return failed || (app.playback.audio && app.playback.audio->currentTime() > 0);
    });
    return !failed;
}

// `direct`: the direct road (a play request), else the decode road
// alone.
void toFirstFrame(benchmark::State& state, bool direct) {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::Untimed, {}});
    App app(plat);
    // Unprocessed playback: "max quality" (on by default) would upsample
    // through the render road, and the direct road would never be taken.
    app.playback.maxQuality = app.playback.rateMatchOn = false;
    qint64 id = 0;
    for (auto _ : state) {
        const Track track{++id, g_file, QStringLiteral("Ten minutes"), {}, {}, 600, {}};
        if (direct) {
            app.play(track);
        } else {
            app.playback.loading = true;
            app.startDecodeRoad(track, app.playback.generation);
        }
        if (!waitForFirstFrame(app))
            return state.SkipWithError("the track did not play");
        if (direct && app.playback.cacheURL)
            return state.SkipWithError("the direct road decoded the file first");
        state.PauseTiming();
        // Gone before the next pass, which would otherwise find its time.
        app.retirePlayer(std::move(app.playback.audio));
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_DirectRoadToFirstFrame(benchmark::State& state) {
    toFirstFrame(state, true);
}

void BM_DecodeRoadToFirstFrame(benchmark::State& state) {
    toFirstFrame(state, false);
}

// The whole file through our player on the untimed device: open, play,
// wait for its end.
void BM_PlayerWholeFile(benchmark::State& state) {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::Untimed, {}});
    for (auto _ : state) {
        auto opened = platform::AudioPlayer::open(*plat.outputs, g_file);
        if (!opened.player)
            return state.SkipWithError("the player cannot open the file");
        bool ended = false, ok = false;
        opened.player->onFinished = [&](bool successfully) {
            ended = true;
            ok = successfully;
        };
        if (!opened.player->play())
            return state.SkipWithError("the player did not start");
        waitUntil([&] { return ended; });
        if (!ok)
            return state.SkipWithError("the player ended with an error");
    }
}

bool runFfmpeg(const QStringList& arguments) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(toolPath(QStringLiteral("ffmpeg")), arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void BM_FfmpegToNull(benchmark::State& state) {
    for (auto _ : state)
        if (!runFfmpeg({"-i", g_file, "-f", "f32le", "-y", "/dev/null"}))
            return state.SkipWithError("ffmpeg failed");
}

// The road's own ffmpeg command alone (the float CAF written to the
// temporary folder): what the road costs before our player is involved.
void BM_FfmpegToCaf(benchmark::State& state) {
    const QString out = QDir::temp().filePath(QStringLiteral("bench-out.caf"));
    for (auto _ : state)
        if (!runFfmpeg({"-v", "error", "-y", "-i", "file:" + g_file, "-map", "0:a:0", "-vn", "-c:a",
                        "pcm_f32le", out}))
            return state.SkipWithError("ffmpeg failed");
    QFile::remove(out);
}

BENCHMARK(BM_FfmpegToNull)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_FfmpegToCaf)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_DecodeRoadToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_DirectRoadToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_PlayerWholeFile)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    const bench::BenchHome home(true); // its temporary folder is the program's too
    QApplication application(argc, argv);
    g_file = QDir(home.tempPath()).filePath(QStringLiteral("ten-minutes.m4a"));
    if (!runFfmpeg({"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=600",
                    "-ac", "2", "-c:a", "aac", "-b:a", "192k", g_file})) {
        std::fprintf(stderr, "cannot make the 10-minute AAC file with ffmpeg\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_DirectRoadToFirstFrame", "BM_DecodeRoadToFirstFrame");
    reporter.pair("BM_DecodeRoadToFirstFrame", "BM_FfmpegToNull");
    reporter.pair("BM_FfmpegToCaf", "BM_FfmpegToNull");
    reporter.pair("BM_PlayerWholeFile", "BM_FfmpegToNull");
    reporter.goal("BM_DirectRoadToFirstFrame", 50);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: player whole file / ffmpeg to /dev/null <= 1.0\n");
    return 0;
}
