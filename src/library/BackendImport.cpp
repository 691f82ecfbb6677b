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

ImportOutcome runImport(const BackendCommand& command, int limitMs) {
    if (const QString problem = missingScript(command); !problem.isEmpty())
        return {std::nullopt, problem};
    platform::ChildOptions options;
    options.environment = command.environment;
    options.timeoutMs = limitMs;
    const platform::ChildRun run = platform::runChild(command.program, command.arguments, options);
    if (!run.started)
        return {std::nullopt, run.errorText};
    // Its cut-off output would only say that it could not be read.
    if (run.timedOut)
        return {std::nullopt, QStringLiteral("음원을 여는 데 시간이 너무 오래 걸렸습니다.")};
    return importOutcome(run.out);
}

IntakeResult importFiles(const BackendCommand& backend, const QStringList& files, int limitMs) {
    IntakeResult result;
    for (const QString& file : files) {
        ImportOutcome outcome = runImport(importCommand(backend, file), limitMs);
        if (outcome.opened)
            result.imported.push_back(std::move(*outcome.opened));
        else
            result.lastError = std::move(outcome.error);
    }
    return result;
}

} // namespace ql
