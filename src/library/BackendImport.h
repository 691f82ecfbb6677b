// Runs the one-shot import of one file through the library backend script
// (the command from importCommand(), BackendCommand.h) and reads its answer.
//
// Standard output is read to its end before the exit is waited for, so a large
// answer cannot block the child; standard error is dropped; the exit status
// is not looked at. A script that is missing or unreadable, or an interpreter
// that cannot be started, fails with the Korean text of its cause and the
// name (FailureText.h; the caller shows it in the interface language); one
// that hangs is killed by the bounded wait of runChild and its unfinished
// output fails to decode.
//
// Blocking: call it from a background queue, never from the main thread. Any
// thread; no shared state.
#pragma once

#include "app/FailureText.h"
#include "library/BackendCommand.h"

#include <optional>

namespace ql {

ImportOutcome runImport(const BackendCommand& command);

// Why the script (the command's first argument) is not a readable file, such
// as a resources folder that was not found; nothing when the script is there.
std::optional<Failure> scriptFailure(const BackendCommand& command);

} // namespace ql
