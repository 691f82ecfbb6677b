#include "analysis/AnalyzeFile.h"

#include "analysis/ProbeAudio.h"
#include "analysis/SonicFeatures.h"
#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"
#include "platform/audio/FfmpegGate.h"

#include <QDir>

#include <future>

namespace ql {

namespace {

QString program(const QString& given, const char* name) {
    return given.isEmpty() ? toolPath(QLatin1String(name)) : given;
}

platform::ChildRun run(const QString& program, const QStringList& arguments,
                       const AnalysisTools& tools) {
    platform::ChildOptions options;
    options.timeoutMs = platform::kProbeLimitMs;
    options.registry = tools.registry;
    options.stop = tools.stop;
    return platform::runChild(program, arguments, options);
}

} // namespace

std::optional<ScanResult> analyzeScan(const QString& path, const AnalysisTools& tools) {
    ProbeOptions probe;
    probe.program = tools.ffprobe;
    probe.registry = tools.registry;
    const StreamFacts facts = probeAudio(path, probe);
    if (!(facts.rate > 0))
        return std::nullopt;
    const QString input = ffmpegInput(path, QDir::currentPath());
    platform::ChildRun decode =
        run(program(tools.ffmpeg, "ffmpeg"),
            scanDecodeArguments(scanStartText(facts.duration), input), tools);
    if (!decode.finished())
        return std::nullopt;
    const std::vector<std::int32_t> samples = scanSamples(decode.out);
    decode.out = {}; // the excerpt is held once, as samples
    const std::optional<ScanBands> spectrum = scanSpectrum(samples);
    if (!spectrum)
        return std::nullopt;
    return scanVerdict(facts, *spectrum);
}

std::optional<Sonic> analyzeSonic(const QString& path, const AnalysisTools& tools) {
    const QString input = ffmpegInput(path, QDir::currentPath());
    if (platform::FfmpegGate::kept(input))
        return Sonic{}; // nothing to measure: `ok` false
    // The tags are read while the excerpt decodes: a track then costs little
    // more than its decode.
    std::future<platform::ChildRun> tags =
        std::async(std::launch::async, [program = program(tools.ffprobe, "ffprobe"),
                                        arguments = sonicYearArguments(input),
                                        tools] { return run(program, arguments, tools); });
    const QString ffmpeg = program(tools.ffmpeg, "ffmpeg");
    platform::ChildRun decode =
        run(ffmpeg, sonicDecodeArguments(QStringLiteral("30"), input), tools);
    std::vector<std::int16_t> samples = sonicSamples(decode.out);
    if (!decode.terminated && samples.size() < std::size_t(kSonicRetrySamples)) {
        decode = run(ffmpeg, sonicDecodeArguments(QStringLiteral("0"), input), tools);
        samples = sonicSamples(decode.out);
    }
    const platform::ChildRun year = tags.get();
    // The quit ends both runs; a year probe that is missing, fails or runs
    // out of time only costs the year, never the measured features.
    if (!decode.finished() || year.terminated)
        return std::nullopt;
    std::optional<Sonic> sonic = measureSonic(samples);
    if (!sonic)
        return Sonic{}; // too little audio: `ok` false
    sonic->year = year.finished() ? yearFromTags(year.out) : 0;
    return sonic;
}

} // namespace ql
