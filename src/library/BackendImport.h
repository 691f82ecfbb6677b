// Runs the one-shot import of one file through the library backend script
// (the command from importCommand(), BackendCommand.h) and reads its answer.
//
// Standard output is read to its end before the exit is waited for, so a large
// answer cannot block the child; standard error is dropped; the exit status
// is not looked at. A script that is missing or cannot be started fails with
// the platform's description of the launch error; one that hangs is killed by the bounded
// wait of runChild and its unfinished output fails to decode.
//
// Blocking: call it from a background queue, never from the main thread. Any
// thread; no shared state.
#pragma once

#include "library/BackendCommand.h"

namespace ql {

ImportOutcome runImport(const BackendCommand& command);

// The platform's description of a script (the command's first argument)
// that is not a readable file, such as a resources folder that was not
// found; empty when the script is there.
QString missingScript(const BackendCommand& command);

} // namespace ql
