// The validation mode ("--self-test"): checks native decoding, play, pause,
// seek and volume on the platform player, and that a setting written by one
// run is read by the next. Runs without an application object or window.
//
// Seam: the player it drives comes with the audio player issue; until then
// every check run fails with a clear report on standard error and a non-zero
// status, so no caller can mistake it for a pass.
#pragma once

#include <QStringList>

namespace ql {

// Returns the process exit status.
int runValidation(const QStringList& args);

} // namespace ql
