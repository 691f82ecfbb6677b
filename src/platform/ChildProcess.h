// Runs one probe-style child program to its end and hands back its output.
//
// The program is started from an explicit path with an argument vector (never a
// shell), standard input reads the null device (a child that waits for input
// sees end of file at once), and standard error goes to the null device unless
// asked for. The wait is bounded: a child still running when the time is up is
// killed and the run counts as failed, so one hung ffprobe can never stall the
// serial queue it runs on.
//
// Blocking: call it from a background queue, never from the main thread. It
// needs no event loop and keeps no state; any thread may call it.
#pragma once

#include "app/FailureText.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace ql::platform {

struct ChildOptions {
    // Milliseconds from the start request to the end of the run.
    int timeoutMs = 30'000;
    // Read standard error into ChildRun::err instead of discarding it.
    bool keepStderr = false;
    // Send standard output to the null device (a child that writes a lot
    // there, none of it wanted); `out` stays empty.
    bool discardStdout = false;
    // The child's environment; the caller's own when none is given.
    std::optional<QProcessEnvironment> environment;
};

struct ChildRun {
    bool started = false;  // the program could be executed
    bool timedOut = false; // killed when the time ran out
    bool crashed = false;  // ended by a signal
    int exitCode = -1;     // valid when it exited normally
    QByteArray out;        // standard output, read to its end
    QByteArray err;        // standard error, when kept
    QString errorText;     // the platform's description when it did not start

    // The run reached its end in time, so `out` is complete. The exit status is
    // not judged here: callers that care look at exitCode.
    bool finished() const { return started && !timedOut; }
};

ChildRun runChild(const QString& program, const QStringList& arguments,
                  const ChildOptions& options = {});

// What lies at a program's path (a bare name is looked up in PATH): it tells
// why a program did not start. Any thread.
ProgramFile programFile(const QString& program);

} // namespace ql::platform
