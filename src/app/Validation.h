// The validation mode ("--self-test"): checks decoding, play, pause, seek
// and volume on the platform player, and that a setting written by one
// run ("--self-test --save") is read by the next. Runs without an application
// object, window or event loop, and touches neither the normal settings nor
// the application-support folder: its one setting lives in its own file
// (organisation "Quavelark", application "Quavelark.Validation": on Linux
// ~/.config/Quavelark/Quavelark.Validation.conf).
//
// Output: standard output carries only "volume saved" after a store run and
// the PASS line after a passed check run, which says who decoded the file:
// "PASS: native decode/…" when our player read it itself, "PASS: ffmpeg
// decode, native play/…" when it played ffmpeg's decode of it. A failure prints nothing there; it
// names the failed check on standard error and returns a non-zero status.
// When the check played on the simulated device (no sound card), standard
// error says so, so that the pass is not mistaken for one on hardware.
//
// The file takes the window's roads: the player on the file itself when it
// opens it with samples and starts, else ffmpeg's decode of it into a
// private temporary file (app/WorkFolder.h), which is then checked. A passed
// run names its road on standard error ("road: direct …" or "road: decode
// …"); a refused file is one neither road plays, and the failure gives both
// reasons.
#pragma once

#include <QStringList>

namespace ql {

// Returns the process exit status.
int runValidation(const QStringList& args);

// The volume check: the player's reported volume after setting 0.37.
bool volumeReadsBack(float reported);

} // namespace ql
