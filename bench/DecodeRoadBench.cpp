// Playing the same 10-minute AAC file made here with ffmpeg, in one run:
//  - the direct road: from App::play() to the first frame reaching the
//    (simulated, untimed) device, our player decoding the file itself
//    (goal: at most 50 ms);
//  - the decode road on the same file, started through startDecodeRoad():
//    ffmpeg decodes the whole file to a float CAF before the first frame;
//  - `ffmpeg -i FILE -f f32le -y /dev/null`, which decodes the same stream
//    and writes nothing: the floor for any whole-file decode;
//  - our player's whole-file throughput on the untimed device against that
//    floor (goal: a ratio of at most 1.0);
//  - a stereo and a 5.1 FLAC played as a user asks for them, through ALSA
//    "default" to a private PipeWire graph: from App::play() to the first
//    frame heard (goal: 5.1 within 100 ms of stereo).
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "BenchHome.h"
#include "RatioReporter.h"
#include "SoundServerGraph.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace ql;

namespace {

QString g_file;     // the 10-minute AAC file
QString g_stereo;   // a 3-minute FLAC, stereo
QString g_surround; // the same length in 5.1

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

// A FLAC played through the sound server as a user asks for it (the App's
// own settings, "max quality" included), from the request to the first frame
// heard. Between passes the player goes and the stream closes, so each pass
// opens the device as the first play after a pause does.
void soundServerFirstFrame(benchmark::State& state, const QString& file) {
    test::SoundServerGraph graph;
    if (!graph.ok())
        return state.SkipWithError(qPrintable(graph.why()));
    std::optional<platform::Platform> plat = platform::makeAlsaPlatform();
    if (!plat)
        return state.SkipWithError("ALSA \"default\" did not open on the graph");
    App app(*plat);
    qint64 id = 0;
    for (auto _ : state) {
        app.play(Track{++id, file, QStringLiteral("Three minutes"), {}, {}, 180, {}});
        if (!waitForFirstFrame(app))
            return state.SkipWithError("the track did not play");
        state.PauseTiming();
        app.retirePlayer(std::move(app.playback.audio));
        app.playback.current.reset();
        QElapsedTimer rest;
        rest.start();
        waitUntil([&] { return rest.elapsed() > 1500; });
        state.ResumeTiming();
    }
}

// The same two files asked for in turn while the sink records without a
// break: each request's first frame heard at the sink, against the time of
// the request. The recording's start is unknown, but it is the same for every
// request, so the difference of the two files' delays is exact. Reported as
// the counter "surround_minus_stereo_ms".
void BM_SoundServerHeardAtSink(benchmark::State& state) {
    test::SoundServerGraph graph;
    if (!graph.ok())
        return state.SkipWithError(qPrintable(graph.why()));
    std::optional<platform::Platform> plat = platform::makeAlsaPlatform();
    if (!plat)
        return state.SkipWithError("ALSA \"default\" did not open on the graph");
    App app(*plat);
    constexpr int kTurns = 6; // per file
    qint64 id = 0;
    for (auto _ : state) {
        if (!graph.startRecording())
            return state.SkipWithError("the sink cannot be recorded");
        QElapsedTimer clock;
        clock.start();
        const auto waitMs = [&](qint64 ms) {
            const qint64 until = clock.elapsed() + ms;
            waitUntil([&] { return clock.elapsed() >= until; });
        };
        waitMs(1000);
        std::vector<double> asked; // seconds since the clock's start
        for (int turn = 0; turn < 2 * kTurns; ++turn) {
            asked.push_back(double(clock.nsecsElapsed()) / 1e9);
            app.play(Track{++id,
                           turn % 2 ? g_surround : g_stereo,
                           QStringLiteral("Three minutes"),
                           {},
                           {},
                           180,
                           {}});
            waitMs(700);
            app.retirePlayer(std::move(app.playback.audio));
            app.playback.current.reset();
            waitMs(1300);
        }
        const std::vector<double> rec = graph.stopRecording();
        // Onsets: the first frame above -40 dBFS after at least 0.5 s below it.
        std::vector<double> onsets;
        std::size_t quiet = 0;
        for (std::size_t f = 0; f + 1 < rec.size(); f += 2) {
            const bool loud = std::abs(rec[f]) > 0.01 || std::abs(rec[f + 1]) > 0.01;
            if (loud && quiet >= 24000)
                onsets.push_back(double(f / 2) / test::SoundServerGraph::kRate);
            quiet = loud ? 0 : quiet + 1;
        }
        if (onsets.size() != asked.size())
            return state.SkipWithError("not every request was heard once");
        double stereo = 0, surround = 0;
        for (std::size_t i = 0; i < asked.size(); ++i)
            (i % 2 ? surround : stereo) += (onsets[i] - asked[i]) / kTurns;
        state.counters["surround_minus_stereo_ms"] = (surround - stereo) * 1000;
    }
}

void BM_SoundServerStereoFirstFrame(benchmark::State& state) {
    soundServerFirstFrame(state, g_stereo);
}

void BM_SoundServer51FirstFrame(benchmark::State& state) {
    soundServerFirstFrame(state, g_surround);
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
BENCHMARK(BM_SoundServerStereoFirstFrame)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8)
    ->UseRealTime();
BENCHMARK(BM_SoundServer51FirstFrame)->Unit(benchmark::kMillisecond)->Iterations(8)->UseRealTime();
BENCHMARK(BM_SoundServerHeardAtSink)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

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
    g_stereo = QDir(home.tempPath()).filePath(QStringLiteral("stereo.flac"));
    g_surround = QDir(home.tempPath()).filePath(QStringLiteral("surround.flac"));
    // Each channel its own tone, 16-bit at 44.1 kHz: as a CD rip and its 5.1 edition.
    for (const auto& [file, layout] : {std::pair(g_stereo, QStringLiteral("stereo")),
                                       std::pair(g_surround, QStringLiteral("5.1"))}) {
        if (!runFfmpeg({"-v", "error", "-y", "-f", "lavfi", "-i",
                        "aevalsrc=sin(440*2*PI*t)*0.3|sin(550*2*PI*t)*0.3|sin(660*2*PI*t)*0.3|"
                        "sin(110*2*PI*t)*0.3|sin(330*2*PI*t)*0.3|sin(770*2*PI*t)*0.3:"
                        "s=44100:d=180",
                        "-af", "aformat=channel_layouts=" + layout, "-sample_fmt", "s16", "-c:a",
                        "flac", file})) {
            std::fprintf(stderr, "cannot make the %s FLAC file with ffmpeg\n", qPrintable(layout));
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_DirectRoadToFirstFrame", "BM_DecodeRoadToFirstFrame");
    reporter.pair("BM_DecodeRoadToFirstFrame", "BM_FfmpegToNull");
    reporter.pair("BM_FfmpegToCaf", "BM_FfmpegToNull");
    reporter.pair("BM_PlayerWholeFile", "BM_FfmpegToNull");
    reporter.goal("BM_DirectRoadToFirstFrame", 50);
    reporter.pair("BM_SoundServer51FirstFrame", "BM_SoundServerStereoFirstFrame");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: player whole file / ffmpeg to /dev/null <= 1.0\n");
    std::printf("goal: 5.1 first frame within 100 ms of stereo's on the sound server\n");
    return 0;
}
