// Runs the one-shot import of one file through the library backend script
// (the command from importCommand(), BackendCommand.h) and reads its answer.
//
// Standard output is read to its end before the exit is waited for, so a large
// answer cannot block the child; standard error is dropped; the exit status
// is not looked at. A script that is missing or unreadable, or an interpreter
// that cannot be started, fails with the Korean text of its cause and the
// name (FailureText.h; the caller shows it in the interface language); one
// that hangs (a file on a dead mount) is killed when the limit runs out and
// fails with "음원을 여는 데 시간이 너무 오래 걸렸습니다.".
//
// Each import runs in a process group of its own, and whatever ends it (its
// limit, or `stop`, which the quit requests) kills the whole group at once:
// neither the interpreter nor anything it started is left behind, still
// blocked on the file. A run stopped so fails with "음원을 열지 못했습니다.";
// the imports after it do not start.
//
// Blocking: call it from a background queue, never from the main thread. Any
// thread; no shared state.
#pragma once

#include "app/FailureText.h"
#include "library/BackendCommand.h"

#include <memory>
#include <optional>
#include <vector>

namespace ql {

namespace platform {
class ChildStop;
}

inline constexpr int kImportLimitMs = 30'000;

ImportOutcome runImport(const BackendCommand& command, int limitMs = kImportLimitMs,
                        std::shared_ptr<const platform::ChildStop> stop = nullptr);

// One intake's imports: each file in order through importCommand(backend,
// file), one after another. The tracks that were opened, and each file that
// did not open with its error (the backend's Korean text), both in order.
struct IntakeFailure {
    QString file;
    QString error;
};
struct IntakeResult {
    std::vector<Track> imported;
    std::vector<IntakeFailure> failures;
};
IntakeResult importFiles(const BackendCommand& backend, const QStringList& files,
                         int limitMs = kImportLimitMs,
                         const std::shared_ptr<const platform::ChildStop>& stop = nullptr);

// Why the script (the command's first argument) is not a readable file, such
// as a resources folder that was not found; nothing when the script is there.
std::optional<Failure> scriptFailure(const BackendCommand& command);

} // namespace ql
