// The quality analysis and the sonic features on a 5-minute 96 kHz/24-bit
// FLAC made here:
//  - analyzeScan next to ffmpeg's showspectrumpic over the same file (goal:
//    at most 0.5 s, and at most 64 MB more memory than before it ran);
//  - analyzeSonic against ffmpeg decoding the same 45 s excerpt bare (goal:
//    at most 0.3 s and a ratio of at most 1.2).
#include "analysis/AnalyzeFile.h"
#include "analysis/SonicFeatures.h"
#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace ql;

namespace {

QString g_file;

bool run(const QStringList& arguments) {
    return bench::runQuietly(toolPath(QStringLiteral("ffmpeg")), arguments);
}

// The process's peak resident memory in kB (VmHWM).
long peakKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void BM_AnalyzeScan(benchmark::State& state) {
    for (auto _ : state)
        if (!analyzeScan(g_file))
            return state.SkipWithError("the analysis failed");
}

void BM_ShowSpectrumPic(benchmark::State& state) {
    const QString out = QDir::temp().filePath(QStringLiteral("spectrum.png"));
    for (auto _ : state)
        if (!run({"-v", "error", "-y", "-i", g_file, "-lavfi", "showspectrumpic", out}))
            return state.SkipWithError("ffmpeg failed");
}

void BM_AnalyzeSonic(benchmark::State& state) {
    for (auto _ : state)
        if (!analyzeSonic(g_file))
            return state.SkipWithError("the analysis failed");
}

void BM_FfmpegSonicExcerpt(benchmark::State& state) {
    const QStringList arguments =
        sonicDecodeArguments(QStringLiteral("30"), ffmpegInput(g_file, QDir::currentPath()));
    for (auto _ : state)
        if (!run(arguments))
            return state.SkipWithError("ffmpeg failed");
}

BENCHMARK(BM_ShowSpectrumPic)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_AnalyzeScan)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_FfmpegSonicExcerpt)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_AnalyzeSonic)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    QCoreApplication application(argc, argv);
    g_file = QDir(home.tempPath()).filePath(QStringLiteral("five-minutes-96k.flac"));
    if (!run({"-v", "error", "-y", "-f", "lavfi", "-i", "anoisesrc=d=300:c=pink:r=96000", "-ac",
              "2", "-c:a", "flac", "-sample_fmt", "s32", g_file})) {
        std::fprintf(stderr, "cannot make the 5-minute FLAC file with ffmpeg\n");
        return 1;
    }
    // The memory the analysis adds, measured first from a reset peak.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const long before = peakKb();
    const bool analysed = analyzeScan(g_file).has_value();
    const long added = peakKb() - before;

    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_AnalyzeScan", "BM_ShowSpectrumPic");
    reporter.pair("BM_AnalyzeSonic", "BM_FfmpegSonicExcerpt");
    reporter.goal("BM_AnalyzeScan", 500);
    reporter.goal("BM_AnalyzeSonic", 300);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("analyzeScan added memory: %.1f MB%s (goal <= 64 MB)\n", double(added) / 1024,
                analysed ? "" : " (the analysis failed)");
    std::printf("goals: analyzeSonic / bare excerpt decode <= 1.2\n");
    return 0;
}
