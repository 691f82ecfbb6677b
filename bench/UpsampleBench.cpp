// The offline upsampling of a render against ffmpeg's own soxr resampler at
// the same precision, in one run: a 60 s stereo 44.1 kHz float CAF to
// 176.4 kHz (goal: a ratio of at most 1.0). Then the peak resident memory of
// a conversion of a 1-minute and of a 10-minute file, each in a child run of
// this program so that neither sees the other's peak (goal: equal within
// 8 MB, since the conversion streams in fixed blocks).
#include "effects/UpsampleFile.h"
#include "library/ToolPaths.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

using namespace ql;

namespace {

constexpr double kTarget = 176400;
QString g_minute; // the 60 s file
QString g_out;

bool run(const QString& program, const QStringList& arguments, QByteArray* out = nullptr) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    if (!out)
        p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    const bool ok =
        p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput();
    return ok;
}

// `seconds` of stereo pink noise at 44.1 kHz as 32-bit float CAF, as the
// render's first stage writes it.
bool makeInput(const QString& path, int seconds) {
    return run(toolPath(QStringLiteral("ffmpeg")),
               {"-v", "error", "-y", "-f", "lavfi", "-i",
                QStringLiteral("anoisesrc=d=%1:c=pink:r=44100").arg(seconds), "-ac", "2", "-c:a",
                "pcm_f32le", path});
}

void BM_UpsampleCAF(benchmark::State& state) {
    for (auto _ : state)
        if (upsampleCAF(g_minute, g_out, kTarget))
            return state.SkipWithError("the conversion failed");
}

void BM_FfmpegSoxr(benchmark::State& state) {
    for (auto _ : state)
        if (!run(toolPath(QStringLiteral("ffmpeg")),
                 {"-v", "error", "-y", "-i", g_minute, "-af",
                  "aresample=176400:resampler=soxr:precision=28", "-c:a", "pcm_f32le", g_out}))
            return state.SkipWithError("ffmpeg failed");
}

BENCHMARK(BM_FfmpegSoxr)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_UpsampleCAF)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Peak resident memory in MB of a child run converting `input`; -1 on failure.
double childPeakMB(const QString& input) {
    QByteArray out;
    if (!run(QCoreApplication::applicationFilePath(), {"--peak-rss", input, g_out}, &out))
        return -1;
    return out.trimmed().toDouble() / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    // The child run: one conversion, then its peak resident memory in kB.
    if (argc == 4 && std::strcmp(argv[1], "--peak-rss") == 0) {
        if (upsampleCAF(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), kTarget))
            return 1;
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%ld\n", usage.ru_maxrss);
        return 0;
    }
    bench::BenchHome home;
    QTemporaryDir temp;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    QCoreApplication application(argc, argv);
    const QDir dir(temp.path());
    g_minute = dir.filePath(QStringLiteral("one-minute.caf"));
    g_out = dir.filePath(QStringLiteral("upsampled.caf"));
    const QString tenMinutes = dir.filePath(QStringLiteral("ten-minutes.caf"));
    if (!makeInput(g_minute, 60) || !makeInput(tenMinutes, 600)) {
        std::fprintf(stderr, "cannot make the input files with ffmpeg\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_UpsampleCAF", "BM_FfmpegSoxr");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double minute = childPeakMB(g_minute);
    const double ten = childPeakMB(tenMinutes);
    std::printf("peak resident memory: 1-minute input %.1f MB, 10-minute input %.1f MB\n", minute,
                ten);
    std::printf("goals: upsampleCAF / ffmpeg soxr <= 1.0; the two peaks within 8 MB: %s\n",
                minute > 0 && ten > 0 && std::abs(ten - minute) <= 8 ? "met" : "MISSED");
    return 0;
}
