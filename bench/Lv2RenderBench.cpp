// The plug-in host against lilv's own tools, in one run:
//  - the render program (start-up, plug-in loading and writing included) with
//    the swh amplifier at -6 dB and with "MDA Limiter" on a 5-minute 44.1 kHz
//    stereo file, against lv2apply with the same plug-in and control (goal:
//    a ratio of at most 1.0, and the amp at least 50 times real time, that is
//    at most 6 s). lv2apply cannot feed a mono plug-in from a stereo file, so
//    its amp pass reads the same samples as one 10-minute mono file;
//  - discovery (the world loaded and the offered list made) with the system's
//    plug-ins (swh-lv2, mda-lv2), printed next to lv2ls over the same folder
//    (goal: at most 100 ms).
#include "effects/FXRender.h"
#include "library/ToolPaths.h"
#include "platform/PluginHost.h"

#include "BenchHome.h"
#include "QuietRun.h"
#include "RatioReporter.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

using namespace ql;

namespace {

const QString kAmp = QStringLiteral("http://plugin.org.uk/swh-plugins/amp");
const QString kLimiter = QStringLiteral("http://drobilla.net/plugins/mda/Limiter");
constexpr double kFrames = 300.0 * 44100;

QString g_stereo, g_mono, g_out;
PluginSlot g_amp, g_limiter;

using bench::runQuietly;

PluginSlot slotFor(const QString& uri) {
    const PluginCodes c = pluginCodes(uri, false);
    return {uri, c.type, c.sub, c.man, std::nullopt};
}

void frameRate(benchmark::State& state) {
    state.counters["frames/s"] = benchmark::Counter(kFrames, benchmark::Counter::kIsRate);
}

void render(benchmark::State& state, const PluginSlot& slot) {
    const PluginRun how{QCoreApplication::applicationDirPath() + "/../quavelark-lv2render",
                        std::make_shared<platform::ChildRegistry>(), 600'000, kPluginLoadLimitMs,
                        nullptr};
    for (auto _ : state)
        if (const std::optional<RenderNote> error = renderAU(g_stereo, g_out, {slot}, how))
            return state.SkipWithError(qPrintable(error->text + error->name));
    frameRate(state);
}

void lv2apply(benchmark::State& state, const QStringList& arguments) {
    for (auto _ : state)
        if (!runQuietly(QStringLiteral("lv2apply"), arguments))
            return state.SkipWithError("lv2apply failed");
    frameRate(state);
}

void BM_RenderAmp(benchmark::State& state) {
    render(state, g_amp);
}
void BM_Lv2applyAmp(benchmark::State& state) {
    lv2apply(state, {"-i", g_mono, "-o", g_out, "-c", "gain", "-6", kAmp});
}
void BM_RenderLimiter(benchmark::State& state) {
    render(state, g_limiter);
}
void BM_Lv2applyLimiter(benchmark::State& state) {
    lv2apply(state, {"-i", g_stereo, "-o", g_out, kLimiter});
}
void BM_Discovery(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::makePluginHost()->installedEffects().size());
}
void BM_Lv2ls(benchmark::State& state) {
    for (auto _ : state)
        if (!runQuietly(QStringLiteral("lv2ls"), {"-n"}))
            return state.SkipWithError("lv2ls failed");
}

BENCHMARK(BM_Lv2applyAmp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderAmp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Lv2applyLimiter)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderLimiter)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Lv2ls)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_Discovery)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    qputenv("LV2_PATH", "/usr/lib/lv2");
    QCoreApplication application(argc, argv);
    const QDir dir(home.tempPath());
    g_stereo = dir.filePath(QStringLiteral("five-minutes.wav"));
    g_mono = dir.filePath(QStringLiteral("ten-minutes-mono.wav"));
    g_out = dir.filePath(QStringLiteral("out.caf"));
    const QString ffmpeg = toolPath(QStringLiteral("ffmpeg"));
    if (!runQuietly(ffmpeg,
                    {"-v", "error", "-y", "-f", "lavfi", "-i", "anoisesrc=d=300:c=pink:r=44100",
                     "-ac", "2", "-c:a", "pcm_f32le", g_stereo}) ||
        !runQuietly(ffmpeg, {"-v", "error", "-y", "-f", "lavfi", "-i",
                             "anoisesrc=d=600:c=pink:r=44100", "-c:a", "pcm_f32le", g_mono})) {
        std::fprintf(stderr, "cannot make the test files with ffmpeg\n");
        return 1;
    }
    {
        const std::unique_ptr<platform::PluginHost> host = platform::makePluginHost();
        g_amp = slotFor(kAmp);
        std::unique_ptr<platform::PluginEditor> editor = host->openEditor(g_amp);
        if (!editor) {
            std::fprintf(stderr, "the swh amplifier is not installed (swh-lv2)\n");
            return 1;
        }
        editor->setValue(0, -6);
        g_amp.state = editor->state();
        g_limiter = slotFor(kLimiter);
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_RenderAmp", "BM_Lv2applyAmp");
    reporter.pair("BM_RenderLimiter", "BM_Lv2applyLimiter");
    reporter.pair("BM_Discovery", "BM_Lv2ls");
    reporter.goal("BM_RenderAmp", 6000);
    reporter.goal("BM_Discovery", 100);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goals: render / lv2apply <= 1.0; the amp >= 50x real time (<= 6000 ms for "
                "300 s); discovery <= 100 ms\n");
    return 0;
}
