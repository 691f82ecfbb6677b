#include "library/BackendImport.h"

#include "platform/ChildProcess.h"

#include <QFileInfo>

namespace ql {

std::optional<Failure> scriptFailure(const BackendCommand& command) {
    const QFileInfo info(command.arguments.value(0));
    if (info.isFile() && info.isReadable())
        return std::nullopt;
    return info.exists() ? Failure::FileUnreadable : Failure::ProgramMissing;
}

ImportOutcome runImport(const BackendCommand& command, int limitMs,
                        std::shared_ptr<const platform::ChildStop> stop) {
    // Not on the main thread: the text stays Korean, for the caller to show.
    if (const std::optional<Failure> failure = scriptFailure(command))
        return {std::nullopt, failureKorean(*failure) + command.arguments.value(0)};
    platform::ChildOptions options;
    options.environment = command.environment;
    options.timeoutMs = limitMs;
    options.ownGroup = true;
    options.stop = std::move(stop);
    const platform::ChildRun run = platform::runChild(command.program, command.arguments, options);
    if (run.terminated)
        return {std::nullopt, QStringLiteral("음원을 열지 못했습니다.")};
    if (!run.started)
        return {std::nullopt,
                failureKorean(processFailure(QProcess::FailedToStart,
                                             platform::programFile(command.program))) +
                    command.program};
    // Its cut-off output would only say that it could not be read.
    if (run.timedOut)
        return {std::nullopt, QStringLiteral("음원을 여는 데 시간이 너무 오래 걸렸습니다.")};
    return importOutcome(run.out);
}

IntakeResult importFiles(const BackendCommand& backend, const QStringList& files, int limitMs,
                         const std::shared_ptr<const platform::ChildStop>& stop) {
    IntakeResult result;
    for (const QString& file : files) {
        ImportOutcome outcome = runImport(importCommand(backend, file), limitMs, stop);
        if (outcome.opened)
            result.imported.push_back(std::move(*outcome.opened));
        else
            result.failures.push_back({file, std::move(outcome.error)});
    }
    return result;
}

} // namespace ql
