#include "library/BackendImport.h"

#include "platform/ChildProcess.h"

#include <QFileInfo>

#include <cerrno>

namespace ql {

QString missingScript(const BackendCommand& command) {
    const QString script = command.arguments.value(0);
    const QFileInfo info(script);
    if (info.isFile() && info.isReadable())
        return {};
    return script + QStringLiteral(": ") + qt_error_string(info.exists() ? EACCES : ENOENT);
}

ImportOutcome runImport(const BackendCommand& command) {
    if (const QString problem = missingScript(command); !problem.isEmpty())
        return {std::nullopt, problem};
    platform::ChildOptions options;
    options.environment = command.environment;
    const platform::ChildRun run = platform::runChild(command.program, command.arguments, options);
    if (!run.started)
        return {std::nullopt, run.errorText};
    return importOutcome(run.out);
}

} // namespace ql
