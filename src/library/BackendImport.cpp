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

ImportOutcome runImport(const BackendCommand& command) {
    // Not on the main thread: the text stays Korean, for the caller to show.
    if (const std::optional<Failure> failure = scriptFailure(command))
        return {std::nullopt, failureKorean(*failure) + command.arguments.value(0)};
    platform::ChildOptions options;
    options.environment = command.environment;
    const platform::ChildRun run = platform::runChild(command.program, command.arguments, options);
    if (!run.started)
        return {std::nullopt,
                failureKorean(processFailure(QProcess::FailedToStart,
                                             platform::programFile(command.program))) +
                    command.program};
    return importOutcome(run.out);
}

} // namespace ql
