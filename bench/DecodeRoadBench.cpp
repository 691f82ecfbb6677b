// The decode road against ffmpeg alone, on the same 10-minute AAC file made
// here with ffmpeg: from App::play() to the first frame of the decoded file
// reaching the (simulated, untimed) device, next to `ffmpeg -i FILE -f f32le
// -y /dev/null`, which decodes the same stream and writes nothing. The road
// decodes the whole file before it can play, so the peer is the floor; the
// goal is a ratio of at most 1.1.
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

void BM_DecodeRoadToFirstFrame(benchmark::State& state) {
    platform::Platform plat = platform::makeSimulatedPlatform(
        platform::SimRig::noSoundCard(), platform::SimOutputs{platform::SimClock::Untimed, {}});
    App app(plat);
    qint64 id = 0;
    for (auto _ : state) {
        app.play(Track{++id, g_file, QStringLiteral("Ten minutes"), {}, {}, 600, {}});
        // The decode runs as a child; its end comes through the event loop,
        // which sleeps between looks (a busy wait would take a core from
        // ffmpeg).
        QEventLoop loop;
        QTimer look;
        bool failed = false;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            failed = !app.playback.loading && !app.isPlaying();
            if (failed || (app.playback.audio && app.playback.audio->currentTime() > 0))
                loop.quit();
        });
        look.start(1);
        loop.exec();
        if (failed) {
            state.SkipWithError("the decode road did not play");
            return;
        }
        state.PauseTiming();
        app.playback.audio->stop();
        state.ResumeTiming();
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

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    QApplication application(argc, argv);
    g_file = QDir(temp.path()).filePath(QStringLiteral("ten-minutes.m4a"));
    if (!runFfmpeg({"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=600",
                    "-ac", "2", "-c:a", "aac", "-b:a", "192k", g_file})) {
        std::fprintf(stderr, "cannot make the 10-minute AAC file with ffmpeg\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_DecodeRoadToFirstFrame", "BM_FfmpegToNull");
    reporter.pair("BM_FfmpegToCaf", "BM_FfmpegToNull");
    reporter.pair("BM_DecodeRoadToFirstFrame", "BM_FfmpegToCaf");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: decode road / ffmpeg to /dev/null <= 1.1\n");
    return 0;
}
