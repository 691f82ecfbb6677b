// The program's diagnostics: one Qt logging category per subsystem, each
// declared by the layer that logs in it (this header for the pure units,
// platform/LogCategories.h for the platform, app/ControllerLogCategories.h
// for the controller).
//
//   quavelark.store     store files: a failed write, a damaged file set aside
//   quavelark.audio     output engines: device open, close, loss, under-runs
//   quavelark.alsa      ALSA streams and cards
//   quavelark.playback  play requests, the road each takes and why; pause
//   quavelark.library   the catalog cache
//   quavelark.backend   the library backend process
//   quavelark.remote    the phone remote's server
//
// Levels: a warning is a failure a user would want to report (a device lost,
// a store not written, the backend gone); it is on by default. Routine events
// are debug lines, off unless asked for:
//   QT_LOGGING_RULES="quavelark.*.debug=true" quavelark
// so a normal run prints nothing. Warnings name files by their name only;
// full paths (which say who the user is and what they keep) appear in debug
// lines alone.
//
// The engine's feeder thread never logs (it must not block or allocate): it
// counts, and the engine's upkeep logs the counts on the main thread.
#pragma once

#include <QLoggingCategory>

namespace ql {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

} // namespace ql
