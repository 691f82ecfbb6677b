#include "platform/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <chrono>
#include <cmath>
#include <csignal>

#include <unistd.h>

namespace ql::platform {

namespace {
// How often a waiting runner looks for a stop request.
constexpr int kPollMs = 20;
// How long a terminated child may take to end before it is killed.
constexpr int kTerminateGraceMs = 1000;
// Bound on terminateAll's wait for the runners: the grace, the kill, and a
// runner's poll interval.
constexpr int kTerminateWaitMs = kTerminateGraceMs + 1000;
// The last whole lines of `text` within `bytes`: a line cut at the front is
// dropped rather than kept as a fragment that might read as another line.
QByteArray keptTail(const QByteArray& text, qsizetype bytes) {
    QByteArray tail = text.right(bytes);
    if (tail.size() < text.size() && text.at(text.size() - tail.size() - 1) != '\n') {
        const qsizetype end = tail.indexOf('\n');
        tail = end < 0 ? QByteArray() : tail.mid(end + 1);
    }
    return tail;
}
} // namespace

int wholeFileLimitMs(double durationSeconds) {
    const double extra = std::isfinite(durationSeconds) && durationSeconds > 0
                             ? std::min(durationSeconds, 86'400.0) * 1000
                             : 0;
    return 120'000 + int(extra);
}

std::shared_ptr<ChildRegistry> ChildRegistry::global() {
    static const std::shared_ptr<ChildRegistry> registry = std::make_shared<ChildRegistry>();
    return registry;
}

bool ChildRegistry::enter(Ticket* ticket) {
    const std::lock_guard lock(m_mutex);
    if (m_closed)
        return false;
    m_runs.insert(ticket);
    return true;
}

void ChildRegistry::leave(Ticket* ticket) {
    {
        const std::lock_guard lock(m_mutex);
        m_runs.erase(ticket);
    }
    m_left.notify_all();
}

bool ChildRegistry::stopRequested(const Ticket* ticket) const {
    const std::lock_guard lock(m_mutex);
    return ticket->stop;
}

bool ChildRegistry::isClosed() const {
    const std::lock_guard lock(m_mutex);
    return m_closed;
}

void ChildRegistry::terminateAll() {
    std::unique_lock lock(m_mutex);
    m_closed = true;
    for (Ticket* ticket : m_runs)
        ticket->stop = true;
    m_left.wait_for(lock, std::chrono::milliseconds(kTerminateWaitMs),
                    [this] { return m_runs.empty(); });
}

ChildRun runChild(const QString& program, const QStringList& arguments,
                  const ChildOptions& options) {
    ChildRun run;
    const QDeadlineTimer deadline(std::max(0, options.timeoutMs));
    const std::shared_ptr<ChildRegistry> registry =
        options.registry ? options.registry : ChildRegistry::global();
    ChildRegistry::Ticket ticket;
    if (!registry->enter(&ticket)) {
        run.errorText = QStringLiteral("the program is quitting");
        return run;
    }
    struct Leave {
        ChildRegistry& registry;
        ChildRegistry::Ticket* ticket;
        ~Leave() { registry.leave(ticket); }
    } leave{*registry, &ticket};

    const auto stopped = [&options] { return options.stop && options.stop->requested(); };
    if (stopped()) {
        run.terminated = true;
        return run;
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!options.input)
        process.setStandardInputFile(QProcess::nullDevice());
    if (!options.keepStderr)
        process.setStandardErrorFile(QProcess::nullDevice());
    if (options.discardStdout)
        process.setStandardOutputFile(QProcess::nullDevice());
    if (options.environment)
        process.setProcessEnvironment(*options.environment);
    if (options.ownGroup)
        // In the child, before it runs the program: async-signal-safe.
        process.setChildProcessModifier([] { ::setpgid(0, 0); });

    // Standard error so far, trimmed to the tail when bounded.
    const auto readStderr = [&] {
        if (!options.keepStderr)
            return;
        run.err += process.readAllStandardError();
        if (options.stderrTail >= 0 && run.err.size() > options.stderrTail)
            run.err = keptTail(run.err, options.stderrTail);
    };
    const auto readOutput = [&] {
        if (!options.discardStdout)
            run.out = process.readAllStandardOutput();
        readStderr();
    };
    // Ends a child that must not run on; after SIGKILL it is gone as soon as
    // the kernel reaps it, and waiting for that leaves no zombie behind.
    // A child in a group of its own takes the group with it: what it started
    // is ended with it, also when the child itself has ended gently. (Its id
    // names the group for as long as one of the group is left.)
    pid_t group = 0;
    const auto send = [&process, &group](int number) {
        if (group > 0)
            ::kill(-group, number);
        else if (number == SIGKILL)
            process.kill();
        else
            process.terminate();
    };
    const auto end = [&process, &send](bool gently) {
        if (gently) {
            send(SIGTERM);
            if (process.waitForFinished(kTerminateGraceMs)) {
                send(SIGKILL);
                return;
            }
        }
        send(SIGKILL);
        process.waitForFinished(-1);
    };

    process.start(options.input ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (options.ownGroup && process.processId() > 0) {
        group = pid_t(process.processId());
        // Also from here, so that the group exists whether or not the child
        // has come to its own call yet (once it runs its program this fails:
        // it is done).
        ::setpgid(group, group);
    }
    if (!process.waitForStarted(int(std::max<qint64>(1, deadline.remainingTime())))) {
        run.errorText = process.errorString();
        if (process.state() != QProcess::NotRunning) {
            // Started too late to be of use: treat it as hung.
            end(false);
            run.started = true;
            run.timedOut = true;
        }
        return run;
    }
    run.started = true;
    if (options.input) {
        // Written as the child reads it while the loop below waits; a child
        // that ends without reading it all is not an error here.
        process.write(*options.input);
        process.closeWriteChannel();
    }
    const QDeadlineTimer firstLine(std::max(0, options.firstLineMs));
    bool lineSeen = options.firstLineMs < 0;

    // waitForFinished keeps draining the pipes into QProcess's own buffers, so a
    // child with a lot of output cannot block on a full pipe while we wait. It
    // waits in short slices so a quit is noticed at once.
    for (;;) {
        if (registry->stopRequested(&ticket)) {
            end(true);
            run.terminated = true;
            readOutput();
            return run;
        }
        if (stopped()) {
            end(false);
            run.terminated = true;
            readOutput();
            return run;
        }
        lineSeen = lineSeen || process.canReadLine();
        if (deadline.hasExpired() || (!lineSeen && firstLine.hasExpired())) {
            end(false);
            run.timedOut = true;
            run.noFirstLine = !lineSeen;
            readOutput();
            return run;
        }
        const int slice = int(std::clamp<qint64>(deadline.remainingTime(), 1, kPollMs));
        if (process.waitForFinished(slice))
            break;
        if (process.state() == QProcess::NotRunning)
            break;
        if (options.stderrTail >= 0)
            readStderr();
    }

    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = run.crashed ? -1 : process.exitCode();
    readOutput();
    return run;
}

ProgramFile programFile(const QString& program) {
    QString path = program;
    if (!program.contains(QLatin1Char('/'))) {
        path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            return ProgramFile::Missing;
    }
    const QFileInfo info(path);
    if (!info.exists())
        return ProgramFile::Missing;
    if (!info.isFile() || !info.isExecutable())
        return ProgramFile::NotExecutable;
    return ProgramFile::Runnable;
}

} // namespace ql::platform
