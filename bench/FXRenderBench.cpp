// The effects render and the stream probe against their bare programs, in one
// run, on a 5-minute 44.1 kHz stereo FLAC made here:
//  - renderFXBlocking with the chain of "록" against ffmpeg run directly with
//    the same arguments (goal: at most 5 % more time); the render's
//    temporary-disk use is printed (about 106 MB of float PCM);
//  - probeAudio against ffprobe run directly with the same nine arguments
//    (goal: a ratio of at most 1.1).
#include "analysis/ProbeAudio.h"
#include "effects/FXChain.h"
#include "effects/FXEdit.h"
#include "effects/FXRender.h"
#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>

using namespace ql;

namespace {

QString g_file; // the 5-minute FLAC
qint64 g_renderBytes = 0;

std::optional<QString> rockChain() {
    FXState state;
    choosePreset(state, QStringLiteral("록"));
    return fxChain(state, false);
}

using bench::runQuietly;

void BM_RenderFXBlocking(benchmark::State& state) {
    RenderSnapshot snapshot;
    snapshot.path = g_file;
    snapshot.duration = 300;
    snapshot.chain = rockChain();
    snapshot.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
    snapshot.tempDir = QDir::tempPath();
    for (auto _ : state) {
        const RenderResult result = renderFXBlocking(snapshot);
        if (!result.file)
            return state.SkipWithError("the render failed");
        g_renderBytes = QFileInfo(*result.file).size();
        QFile::remove(*result.file);
    }
}

void BM_FfmpegSameArguments(benchmark::State& state) {
    const QString out = renderOutputPath(QDir::tempPath(), QUuid::createUuid());
    const QStringList arguments = renderArguments(g_file, rockChain(), out, QDir::currentPath());
    for (auto _ : state)
        if (!runQuietly(toolPath(QStringLiteral("ffmpeg")), arguments))
            return state.SkipWithError("ffmpeg failed");
    QFile::remove(out);
}

void BM_ProbeAudio(benchmark::State& state) {
    for (auto _ : state)
        if (!(probeAudio(g_file).rate > 0))
            return state.SkipWithError("the probe failed");
}

void BM_FfprobeBare(benchmark::State& state) {
    const QStringList arguments = probeArguments(ffmpegInput(g_file, QDir::currentPath()));
    for (auto _ : state)
        if (!runQuietly(toolPath(QStringLiteral("ffprobe")), arguments))
            return state.SkipWithError("ffprobe failed");
}

BENCHMARK(BM_FfmpegSameArguments)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_RenderFXBlocking)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_FfprobeBare)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();
BENCHMARK(BM_ProbeAudio)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    QCoreApplication application(argc, argv);
    g_file = QDir(temp.path()).filePath(QStringLiteral("five-minutes.flac"));
    if (!runQuietly(toolPath(QStringLiteral("ffmpeg")),
                    {"-v", "error", "-y", "-f", "lavfi", "-i", "anoisesrc=d=300:c=pink:r=44100",
                     "-ac", "2", "-c:a", "flac", g_file})) {
        std::fprintf(stderr, "cannot make the 5-minute FLAC file with ffmpeg\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_RenderFXBlocking", "BM_FfmpegSameArguments");
    reporter.pair("BM_ProbeAudio", "BM_FfprobeBare");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("render temporary-disk use: %.1f MB\n", double(g_renderBytes) / 1e6);
    std::printf("goals: render / bare ffmpeg <= 1.05; probe / bare ffprobe <= 1.1\n");
    return 0;
}
