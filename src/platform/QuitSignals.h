// SIGTERM, SIGINT and SIGHUP end the program through its normal quit: the
// handler only writes one byte into a pipe of our own; the main thread
// watches the other end and calls QCoreApplication::quit(), so the quit's
// steps (settings, stores, child processes, temporary files) all run and the
// exit status is 0.
//
// quitOnSignals() installs the handlers once, after the application object
// exists; later calls do nothing. Returns false when the pipe or a handler
// cannot be set up (the signals then keep their default action).
#pragma once

namespace ql::platform {

bool quitOnSignals();

} // namespace ql::platform
