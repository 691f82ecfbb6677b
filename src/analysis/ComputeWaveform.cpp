#include "analysis/ComputeWaveform.h"

#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"
#include "platform/audio/FfmpegGate.h"

#include <QDir>

namespace ql {

WavePeaks computeWaveform(const QString& path, const WaveformOptions& options, int buckets) {
    const QString input = ffmpegInput(path, QDir::currentPath());
    if (platform::FfmpegGate::kept(input))
        return {};
    platform::ChildOptions child;
    child.timeoutMs = platform::wholeFileLimitMs(options.duration);
    child.registry = options.registry;
    child.stop = options.stop;
    const QString program =
        options.program.isEmpty() ? toolPath(QStringLiteral("ffmpeg")) : options.program;
    const platform::ChildRun run = platform::runChild(program, waveformArguments(input), child);
    if (!run.finished())
        return {};
    return waveformPeaks(run.out, buckets);
}

} // namespace ql
