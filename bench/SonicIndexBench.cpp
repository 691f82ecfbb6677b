// The sonic feature index:
//  - saving "sonic.json" with 50,000 entries (done on the main thread every 50
//    scanned files) next to saving "play-stats.json" with 50,000 entries in
//    the same run (goal: the sonic save within 60 ms);
//  - the background scan of 20 generated 60 s files with the real analysis,
//    from startSonicScan to its closing step, next to running only the
//    analysis's ffmpeg excerpt decodes on the same files one after another
//    (goal: a ratio of at most 1.1), and next to the same analyses called in
//    turn without the scan.
#include "analysis/AnalyzeFile.h"
#include "analysis/SonicFeatures.h"
#include "app/App.h"
#include "app/JSONStore.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "app/DecodeCommand.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace ql;

namespace {

constexpr int kEntries = 50'000;
constexpr int kFiles = 20;
QStringList g_files;

QString libraryPath(int i) {
    return QStringLiteral("/home/user/Music/Artist Name %1/Album Title %2/%3 - Song Title.flac")
        .arg(i % 400)
        .arg(i % 37)
        .arg(i);
}

void BM_SonicSave(benchmark::State& state) {
    QHash<QString, Sonic> index;
    for (int i = 0; i < kEntries; ++i)
        index.insert(libraryPath(i),
                     Sonic{70.0 + i % 90 + 0.123456789, -31.25 - i % 20 * 0.37, 6.5 + i % 7 * 0.11,
                           0.04 + i % 13 * 0.0031, 1990 + i % 35, i % 17 != 0});
    const JSONStore store;
    for (auto _ : state)
        if (!store.save(QString::fromLatin1(stores::kSonic), index))
            return state.SkipWithError("the save failed");
}

void BM_PlayStatsSave(benchmark::State& state) {
    QHash<QString, PlayStat> stats;
    for (int i = 0; i < kEntries; ++i)
        stats.insert(libraryPath(i), PlayStat{i % 50 + 1, 1700000000.0 + i * 37.125});
    const JSONStore store;
    for (auto _ : state)
        if (!store.save(QString::fromLatin1(stores::kPlayStats), stats))
            return state.SkipWithError("the save failed");
}

void BM_SonicScan(benchmark::State& state) {
    platform::Platform plat;
    App app(plat);
    for (int i = 0; i < kFiles; ++i)
        app.library.rows.push_back(Track{i + 1, g_files[i], {}, {}, {}, 60, {}});
    for (auto _ : state) {
        app.listening.sonic.clear();
        app.startSonicScan();
        // An event loop that sleeps between events, as the program's does: a
        // polling loop would take a core from the analyses.
        QEventLoop loop;
        QTimer poll;
        poll.callOnTimeout([&] {
            if (!app.listening.sonicRunning)
                loop.quit();
        });
        poll.start(5);
        loop.exec();
        if (std::count_if(app.listening.sonic.cbegin(), app.listening.sonic.cend(),
                          [](const Sonic& s) { return s.ok; }) != kFiles)
            return state.SkipWithError("an analysis failed");
    }
}

void BM_ExcerptDecodes(benchmark::State& state) {
    const QString ffmpeg = toolPath(QStringLiteral("ffmpeg"));
    for (auto _ : state)
        for (const QString& file : g_files)
            if (!bench::runQuietly(ffmpeg,
                                   sonicDecodeArguments(QStringLiteral("30"),
                                                        ffmpegInput(file, QDir::currentPath()))))
                return state.SkipWithError("ffmpeg failed");
}

// The same analyses called one after another on this thread: what the scan
// adds of its own is the difference to BM_SonicScan.
void BM_AnalyzeInTurn(benchmark::State& state) {
    for (auto _ : state)
        for (const QString& file : g_files)
            if (!analyzeSonic(file))
                return state.SkipWithError("an analysis failed");
}

BENCHMARK(BM_SonicSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlayStatsSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExcerptDecodes)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_AnalyzeInTurn)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SonicScan)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    QApplication application(argc, argv);
    for (int i = 0; i < kFiles; ++i) {
        const QString file = QDir(home.tempPath()).filePath(QStringLiteral("%1.flac").arg(i));
        // Tones and noise of different colours, so the files differ as music does.
        const QString source = i % 2 ? QStringLiteral("anoisesrc=d=60:c=pink:a=0.%1").arg(i % 9 + 1)
                                     : QStringLiteral("sine=f=%1:d=60").arg(220 + 40 * i);
        if (!bench::runQuietly(toolPath(QStringLiteral("ffmpeg")),
                               {"-v", "error", "-y", "-f", "lavfi", "-i", source, "-ac", "2",
                                "-c:a", "flac", file})) {
            std::fprintf(stderr, "cannot make the test files with ffmpeg\n");
            return 1;
        }
        g_files << file;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_SonicSave", "BM_PlayStatsSave");
    reporter.pair("BM_SonicScan", "BM_ExcerptDecodes");
    reporter.pair("BM_SonicScan", "BM_AnalyzeInTurn");
    reporter.goal("BM_SonicSave", 60);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: scan / bare excerpt decodes <= 1.1\n");
    return 0;
}
