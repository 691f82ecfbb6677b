#include "analysis/ProbeAudio.h"

#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"
#include "platform/audio/FfmpegGate.h"

#include <QDir>

namespace ql {

StreamFacts probeAudio(const QString& path, const ProbeOptions& options) {
    const QString input = ffmpegInput(path, QDir::currentPath());
    if (platform::FfmpegGate::kept(input)) {
        if (options.cutShort)
            *options.cutShort = false; // a lasting fact of the file
        return {};
    }
    platform::ChildOptions child;
    child.timeoutMs = options.timeoutMs;
    child.registry = options.registry;
    const QString program =
        options.program.isEmpty() ? toolPath(QStringLiteral("ffprobe")) : options.program;
    const platform::ChildRun run = platform::runChild(program, probeArguments(input), child);
    if (options.cutShort)
        *options.cutShort = !run.finished();
    if (!run.finished())
        return {};
    return parseStreamFacts(run.out);
}

} // namespace ql
