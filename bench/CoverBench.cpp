// Extracting 200 album covers into an empty covers folder through the cover
// service (App::albumCover: the queue, ffmpeg into a temporary name, the
// rename, the read, the answer on the main thread), next to a shell loop of
// bare ffmpeg runs with the same arguments in the same run. Goal: a ratio of at
// most 1.1. The 200 albums share one FLAC file carrying a 1200 × 1200
// picture, so every extraction does the same work. Then 2,000 decoded
// 300 × 300 covers (about 720 MB of pictures) go through the memory cache,
// whose cost must stay within its 256 MB cap.
#include "app/App.h"
#include "library/CoverCommand.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "app/DecodeCommand.h"
#include "ui/AlbumGrouping.h"
#include "ui/CoverCache.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>

#include <algorithm>
#include <cstdio>

using namespace ql;

namespace {

constexpr int kCovers = 200;
QString g_file;

Track albumTrack(int i) {
    return Track{i + 1,
                 g_file,
                 QStringLiteral("t"),
                 QStringLiteral("Lumen"),
                 QStringLiteral("Album %1").arg(i),
                 1,
                 {}};
}

void BM_ServiceExtracts200(benchmark::State& state) {
    platform::Platform plat;
    for (auto _ : state) {
        // Each pass starts with an empty memory cache and covers folder.
        state.PauseTiming();
        auto app = std::make_unique<App>(plat);
        QDir(app->coverFolder()).removeRecursively();
        state.ResumeTiming();
        int answered = 0;
        int pictures = 0;
        for (int i = 0; i < kCovers; ++i) {
            const Track t = albumTrack(i);
            app->albumCover(AlbumItem{App::albumKey(t), t.album, t.artist, {t}, "album", {}},
                            [&](const QImage& image) {
                                ++answered;
                                pictures += image.isNull() ? 0 : 1;
                            });
        }
        while (answered < kCovers)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (pictures != kCovers)
            return state.SkipWithError("a cover was not extracted");
        state.PauseTiming();
        app.reset();
        state.ResumeTiming();
    }
}

// The floor: one shell running the 200 commands one after another.
void BM_BareFfmpeg200(benchmark::State& state) {
    const QString folder = QDir::tempPath() + QStringLiteral("/bare-covers");
    QByteArray script;
    for (int i = 0; i < kCovers; ++i) {
        const QString out = folder + QLatin1Char('/') + coverFileName(App::albumKey(albumTrack(i)));
        QByteArray line = "'" + toolPath("ffmpeg").toUtf8() + "'";
        for (const QString& a : coverArguments(ffmpegInput(g_file, QDir::currentPath()), out))
            line += " '" + a.toUtf8() + "'";
        script += line + " >/dev/null 2>&1 </dev/null || exit 1\n";
    }
    for (auto _ : state) {
        state.PauseTiming();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        state.ResumeTiming();
        if (!bench::runQuietly(QStringLiteral("/bin/sh"),
                               {QStringLiteral("-c"), QString::fromUtf8(script)}))
            return state.SkipWithError("ffmpeg failed");
    }
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    QApplication application(argc, argv);

    QImage picture(1200, 1200, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    const QString png = home.tempPath() + QStringLiteral("/picture.png");
    const QString bare = home.tempPath() + QStringLiteral("/bare.flac");
    g_file = home.tempPath() + QStringLiteral("/pictured.flac");
    if (!picture.save(png) ||
        !bench::runQuietly(toolPath("ffmpeg"),
                           {"-v", "error", "-f", "lavfi", "-i", "sine=duration=30", bare}) ||
        !bench::runQuietly(toolPath("ffmpeg"), {"-v", "error", "-i", bare, "-i", png, "-map", "0:a",
                                                "-map", "1:v", "-c:a", "copy", "-c:v", "png",
                                                "-disposition:v", "attached_pic", g_file})) {
        std::fprintf(stderr, "could not make the pictured file\n");
        return 1;
    }

    bench::RatioReporter reporter;
    benchmark::RegisterBenchmark("cover/bare-ffmpeg/200", BM_BareFfmpeg200)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark("cover/service/200", BM_ServiceExtracts200)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    reporter.pair("cover/service/200", "cover/bare-ffmpeg/200");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: service / bare ffmpeg <= 1.1\n");

    CoverCache cache;
    QImage cover(300, 300, QImage::Format_RGB32);
    qsizetype peak = 0;
    for (int i = 0; i < 2000; ++i) {
        cover.fill(QColor::fromHsv(i % 360, 200, 200));
        cache.insert(QString::number(i), cover.copy());
        peak = std::max(peak, cache.bytes());
    }
    const bool newestKept = cache.contains(QStringLiteral("1999"));
    std::printf("memory cache, 2000 covers: peak %.1f MB, %lld kept, newest kept: %s; "
                "goal <= 256 MB: %s\n",
                double(peak) / (1024 * 1024), qlonglong(cache.count()), newestKept ? "yes" : "no",
                peak <= CoverCache::kMaxBytes && newestKept ? "met" : "MISSED");
    return 0;
}
