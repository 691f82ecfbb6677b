#include "analysis/ProbeAudio.h"

#include "library/ToolPaths.h"
#include "app/DecodeCommand.h"

#include <QDir>

namespace ql {

StreamFacts probeAudio(const QString& path, const ProbeOptions& options) {
    platform::ChildOptions child;
    child.timeoutMs = options.timeoutMs;
    child.registry = options.registry;
    const QString program =
        options.program.isEmpty() ? toolPath(QStringLiteral("ffprobe")) : options.program;
    const platform::ChildRun run =
        platform::runChild(program, probeArguments(ffmpegInput(path, QDir::currentPath())), child);
    if (options.cutShort)
        *options.cutShort = !run.finished();
    if (!run.finished())
        return {};
    return parseStreamFacts(run.out);
}

} // namespace ql
