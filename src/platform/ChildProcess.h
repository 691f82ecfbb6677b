// Runs one child program to its end and hands back its output.
//
// The program is started from an explicit path with an argument vector (never a
// shell), standard input reads the null device (a child that waits for input
// sees end of file at once; or reads the caller's bytes), and standard error goes to the null
// device unless asked for; standard output can go there too, for a child that writes a file. The
// wait is bounded: a child still running when the time is up is killed and the run counts as
// failed, so one hung ffprobe can never stall the queue it runs on. The limits are named below: a
// probe-style run keeps 30 s, a run that processes a whole file gets 120 s plus the file's
// duration.
//
// A run can also be ended alone: its ChildStop, once requested, kills the
// child (its whole process group, when it was given one) at once (its output is of no use to anyone any more) and the run
// reports failure (`terminated`); a run asked to stop before its start never
// starts the program.
//
// Every run registers itself in a ChildRegistry (the caller's, or the
// process-wide one). The quit calls terminateAll(): each running child is
// terminated, killed if it is still there 1 s later, and the registry closes,
// so a run that starts afterwards fails at once. A run ended this way reports
// failure (`terminated`).
//
// Blocking: call it from a background queue, never from the main thread. It
// needs no event loop; any thread may call it.
#pragma once

#include "app/FailureText.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace ql::platform {

// Limits of a run, in milliseconds.
inline constexpr int kProbeLimitMs = 30'000;
// A whole-file run (render, waveform): 120 s plus the file's duration.
int wholeFileLimitMs(double durationSeconds);

class ChildRegistry {
public:
    // The registry of runs that name none.
    static std::shared_ptr<ChildRegistry> global();

    // Ends every registered run (terminate, then kill after 1 s) and waits
    // until their runners have let go of them; closes the registry first.
    void terminateAll();
    bool isClosed() const;

    // For runChild: one ticket per run.
    struct Ticket {
        bool stop = false;
    };
    // False once closed.
    bool enter(Ticket* ticket);
    void leave(Ticket* ticket);
    bool stopRequested(const Ticket* ticket) const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_left;
    std::set<Ticket*> m_runs;
    bool m_closed = false;
};

// Ends one run (or the runs that share it) from any thread, without waiting.
class ChildStop {
public:
    void request() { m_requested.store(true); }
    bool requested() const { return m_requested.load(); }

private:
    std::atomic<bool> m_requested{false};
};

struct ChildOptions {
    // Milliseconds from the start request to the end of the run.
    int timeoutMs = kProbeLimitMs;
    // Read standard error into ChildRun::err instead of discarding it.
    bool keepStderr = false;
    // With keepStderr, the most bytes of standard error kept: it is read
    // while the child runs and only its last whole lines within the bound
    // stay, so a chatty child cannot grow the caller's memory. Negative: all.
    qsizetype stderrTail = -1;
    // Send standard output to the null device (ChildRun::out stays empty).
    bool discardStdout = false;
    // The child's environment; the caller's own when none is given.
    std::optional<QProcessEnvironment> environment;
    // Where the run registers; the process-wide registry when none is given.
    std::shared_ptr<ChildRegistry> registry;
    // Ends this run alone when requested; none: only the registry's quit.
    std::shared_ptr<const ChildStop> stop;
    // Bytes for standard input (then closed); the null device when none.
    std::optional<QByteArray> input;
    // Milliseconds from the start for a first complete line on standard
    // output; a child without one by then is killed (`noFirstLine`). Negative:
    // no such deadline.
    int firstLineMs = -1;
    // Start the child in a process group of its own, and end the whole group
    // whenever the run ends the child: a program that starts programs of its
    // own (an interpreter) leaves none of them behind, held by a disk.
    bool ownGroup = false;
};

struct ChildRun {
    bool started = false;     // the program could be executed
    bool timedOut = false;    // killed when the time ran out
    bool terminated = false;  // ended by ChildRegistry::terminateAll or its ChildStop
    bool crashed = false;     // ended by a signal
    bool noFirstLine = false; // killed for want of a first line (also timedOut)
    int exitCode = -1;        // valid when it exited normally
    QByteArray out;           // standard output, read to its end
    QByteArray err;           // standard error, when kept
    QString errorText;        // the platform's description when it did not start

    // The run reached its end in time, so `out` is complete. The exit status is
    // not judged here: callers that care look at exitCode.
    bool finished() const { return started && !timedOut && !terminated; }
    // Finished with exit status 0.
    bool succeeded() const { return finished() && !crashed && exitCode == 0; }
};

ChildRun runChild(const QString& program, const QStringList& arguments,
                  const ChildOptions& options = {});

// What lies at a program's path (a bare name is looked up in PATH): it tells
// why a program did not start. Any thread.
ProgramFile programFile(const QString& program);

} // namespace ql::platform
