// ---- backend: the long-lived library backend and its line protocol ----
//
// The catalog comes from one child process, the backend script, started once
// at launch and never restarted, without waiting for its start: the first
// "list" goes when it has started, and requests before that are dropped (the
// poll asks again). Requests go to its standard input, one JSON line each, at
// most one in flight; its standard output is read off the main thread and
// cut into lines there (LineReader), and every line ends the request in
// flight, on the main thread, whether or not it decodes. Replies are not
// matched to requests.
//
// The process's end is watched: a backend that exits or dies would otherwise
// leave a request in flight forever and the catalog silently frozen. Its end
// (once the replies it wrote before are read) clears `pending`, marks the
// backend as failed (no request is sent any more) and says so on the status
// line.
//
// The backend runs in a process group of its own. The quit closes its input
// (its sign to save its cache and exit) and the teardown waits for that for
// at most kBackendSaveMs, counted from then; the whole group is then killed,
// whatever it was doing: a scan or an import held by a hung disk would
// otherwise keep the quit waiting, or outlive the program. Its files are
// written whole or not at all (each replaced by a complete new one), and what
// a cut-short save loses is its tag cache's newest entries, read again at
// the next start.
#include "app/App.h"

#include "app/AppPaths.h"
#include "app/ControllerLogCategories.h"
#include "app/FailureText.h"
#include "library/BackendCommand.h"
#include "library/BackendImport.h"
#include "library/BackendRequest.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ql {

namespace {
// How long the backend may take, once its input is closed, to save its cache
// and exit. Its caches are saved as it scans, so what is left to save then is
// the little its last scan added; the rest of the quit runs meanwhile, and
// the whole quit stays within 2 s.
constexpr int kBackendSaveMs = 1000;
// How long the teardown waits for a killed backend to be gone: a process a
// disk holds in the kernel may outlast even SIGKILL for a while.
constexpr int kBackendKilledMs = 300;
} // namespace

BackendCommand App::backendLaunch() const {
    return services.tools->backendCommand();
}

void App::startBackend() {
    // Writing to a backend that has just exited raises SIGPIPE, whose default
    // ends the player; ignored, the write fails and is reported instead.
    std::signal(SIGPIPE, SIG_IGN);

    // A test that takes the request lines itself runs no process.
    if (services.tools->backendSink()) {
        request(QStringLiteral("list"), std::nullopt, std::nullopt);
        return;
    }

    const BackendCommand command = backendLaunch();
    auto* process = new QProcess(this);
    library.backend = process;
    process->setProgram(command.program);
    process->setArguments(command.arguments);
    process->setProcessEnvironment(command.environment);
    // The backend's own messages go where ours would: they are not read.
    // Its standard output is a pipe of our own, read by library.reader off
    // the main thread (see LineReader.h); Qt's channel for it is unused.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        backendStartFailed(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const int childEnd = out[1];
    process->setChildProcessModifier([childEnd] {
        // In the child, after Qt has set up its descriptors: only async-signal-safe calls.
        if (dup2(childEnd, STDOUT_FILENO) < 0)
            _exit(127);
        // A group of its own, which the teardown ends with everything in it.
        setpgid(0, 0);
    });
    // The start is not waited for: an interpreter on a hung mount must not
    // freeze the window. The first "list" goes once the process runs.
    connect(process, &QProcess::started, this,
            [this] { request(QStringLiteral("list"), std::nullopt, std::nullopt); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        // A crash also ends the process: its end is reported by finished.
        if (e == QProcess::FailedToStart)
            backendStartFailed(failureText(
                processFailure(e, platform::programFile(process->program())), process->program()));
        else if (e == QProcess::WriteError)
            backendWriteFailed();
    });
    connect(process, &QProcess::finished, this, [this] { backendFinished(); });
    qCDebug(lcBackend, "starting %s %s", qUtf8Printable(command.program),
            qUtf8Printable(command.arguments.join(QLatin1Char(' '))));

    // A missing script would only show as an interpreter that exits at once:
    // it is a failed start.
    if (const std::optional<Failure> failure = scriptFailure(command)) {
        close(out[0]);
        close(out[1]);
        backendStartFailed(failureText(*failure, command.arguments.value(0)));
        return;
    }
    startReader(out[0]);
    process->start();
    // The child has its copy (or never came to be): ours would keep the
    // pipe from ever ending.
    close(childEnd);
    if (const qint64 pid = process->processId(); pid > 0) {
        library.backendGroup = pid;
        // Also from here, whether or not the child has come to its own call
        // yet (once it runs the interpreter this fails: it is done).
        setpgid(pid_t(pid), pid_t(pid));
    }
}

void App::startReader(int fd) {
    // Each batch of lines costs the main thread one wake-up; the reader asks
    // the worker for arrays to fill directly.
    CatalogWorker* work = &catalogWork();
    library.reader = std::make_unique<LineReader>(
        fd, LineReader::Hooks{
                .lines =
                    [this](std::vector<LineReader::Line> lines) {
                        QMetaObject::invokeMethod(
                            this,
                            [this, lines = std::move(lines)]() mutable {
                                if (library.reader->muted())
                                    return;
                                for (LineReader::Line& line : lines)
                                    takeReplyLine(std::move(line.bytes), line.tooLong);
                            },
                            Qt::QueuedConnection);
                    },
                .ended =
                    [this] {
                        QMetaObject::invokeMethod(
                            this, [this] { backendOutputEnded(); }, Qt::QueuedConnection);
                    },
                .spare = [work] { return work->recycled(); },
            });
}

void App::backendStartFailed(const QString& description) {
    qCWarning(lcBackend, "the library backend did not start");
    qCDebug(lcBackend, "%s", qUtf8Printable(description));
    backendFailed();
    status->setFailure(L10n::tr(QStringLiteral("음원 라이브러리 시작 실패: ")) + description);
}

void App::backendFailed() {
    library.backendError = true;
    // No catalog will come: a track end waiting for it goes on.
    library.listAwaited = false;
    resumeHeldEnd();
}

void App::stopBackend() {
    QProcess* process = library.backend;
    if (!process)
        return;
    // No reply is read and no end is reported from here on. The reader still
    // empties the pipe, so a backend in the middle of a reply is not left
    // blocked in its write.
    process->disconnect(this);
    if (library.reader)
        library.reader->mute();
    // The end of its input is the backend's signal to save its own cache and
    // exit; a signal now would cut that save short. One that outlasts its
    // time is killed at the teardown (endBackend), counted from here.
    if (!library.backendSaveEnd)
        library.backendSaveEnd = QDeadlineTimer(kBackendSaveMs);
    process->closeWriteChannel();
}

bool App::endBackend() {
    QProcess* process = std::exchange(library.backend, nullptr);
    const pid_t group = pid_t(std::exchange(library.backendGroup, 0));
    const QDeadlineTimer saveEnd = library.backendSaveEnd.value_or(QDeadlineTimer(kBackendSaveMs));
    bool ended = true;
    if (process && process->state() != QProcess::NotRunning &&
        !process->waitForFinished(int(std::max<qint64>(saveEnd.remainingTime(), 1)))) {
        qCWarning(lcBackend, "the library backend did not end in time: its process group is killed");
        // Not reaped yet, so its id still names its group.
        if (group > 0)
            kill(-group, SIGKILL);
        else
            process->kill();
        ended = process->waitForFinished(kBackendKilledMs);
    } else if (group > 0 && kill(-group, 0) == 0) {
        // It ended, and left programs it started in its group.
        kill(-group, SIGKILL);
    }
    if (!process)
        return true;
    if (!ended) {
        // Its destruction would wait for it: it goes with the process.
        process->disconnect();
        process->setParent(nullptr);
        return false;
    }
    delete process;
    return true;
}

void App::request(const QString& action, std::optional<qint64> id,
                  const std::optional<QString>& path) {
    // One request at a time, and none after a failure: a dropped request is
    // lost, the periodic poll asks again.
    if (library.pending || library.backendError)
        return;
    const QByteArray line = backendRequestLine(action, id, path);
    if (const auto sink = services.tools->backendSink()) {
        library.pending = true;
        sink(line);
        return;
    }
    // Until the process has started (or when it never was), a request is
    // dropped like one made while another is in flight: no failure.
    QProcess* process = library.backend;
    if (!process || process->state() != QProcess::Running)
        return;
    library.pending = true;
    // QProcess queues the bytes and writes them from the event loop; a pipe
    // that breaks then reports a write error (see startBackend()).
    if (process->write(line) != line.size())
        backendWriteFailed();
}

void App::backendWriteFailed() {
    qCWarning(lcBackend, "a request could not be written to the library backend");
    library.pending = false;
    backendFailed();
    const QString program = library.backend ? library.backend->program() : QString();
    status->setFailure(failureText(Failure::ProgramNotWritable, program));
}

void App::backendFinished() {
    library.backendExited = true;
    if (library.outputEnded || !library.reader)
        backendEnded();
    else // replies the backend wrote before it ended still count
        library.reader->drain();
}

void App::backendOutputEnded() {
    library.outputEnded = true;
    if (library.backendExited && !library.reader->muted())
        backendEnded();
}

void App::backendEnded() {
    const QProcess* process = library.backend;
    if (process && process->exitStatus() == QProcess::CrashExit)
        qCWarning(lcBackend, "the library backend ended: it crashed");
    else if (process)
        qCWarning(lcBackend, "the library backend ended with exit code %d", process->exitCode());
    else
        qCWarning(lcBackend, "the library backend ended");
    library.pending = false;
    backendFailed();
    status->setFailure(L10n::tr(QStringLiteral("음원 라이브러리가 종료되었습니다.")));
}

void App::takeReplyLine(QByteArray bytes, bool tooLong) {
    library.pending = false;
    if (tooLong)
        return;
    CatalogWorker& work = catalogWork();
    work.follow(library.rows, library.catalogGeneration);
    work.line(std::move(bytes));
}

// A menu click must not be lost to a catalog poll in flight: it waits for the
// tick's next free turn (one rescan; the latest track to complete).
void App::scan() {
    if (library.pending && !library.backendError) {
        library.scanDue = true;
        return;
    }
    request(QStringLiteral("scan"), std::nullopt, std::nullopt);
}

void App::enrich() {
    if (!playback.current)
        return;
    status->setStringValue(L10n::tr(QStringLiteral("MusicBrainz에서 곡 정보 검색 중…")));
    if (library.pending && !library.backendError) {
        library.enrichDue = playback.current->id;
        return;
    }
    request(QStringLiteral("enrich"), playback.current->id, std::nullopt);
}

} // namespace ql
