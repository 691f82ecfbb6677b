#include "playback/DecodeAhead.h"

#include "app/DecodeCommand.h"
#include "app/WorkFolder.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/InFlightFiles.h"

#include <QFile>
#include <QSemaphoreReleaser>

#include <utility>

namespace ql {

namespace {
// How often a job waiting for a free slot looks whether it was stopped.
constexpr int kSlotPollMs = 20;
} // namespace

platform::ChildRun runDecodeCommand(const QString& ffmpeg, const QStringList& arguments,
                                    double duration,
                                    std::shared_ptr<platform::ChildRegistry> children,
                                    std::shared_ptr<const platform::ChildStop> stop) {
    platform::ChildOptions options;
    options.timeoutMs = platform::wholeFileLimitMs(duration);
    options.discardStdout = true;
    options.keepStderr = true;
    options.stderrTail = kDecodeErrorTail;
    options.registry = std::move(children);
    options.stop = std::move(stop);
    return platform::runChild(ffmpeg, arguments, options);
}

DecodeOutcome decodeBlocking(const DecodeSnapshot& s) {
    DecodeOutcome result;
    const auto stopped = [&s] { return s.stop->requested(); };
    if (stopped())
        return result;
    result.stamp = fileStamp(s.path, s.currentDir);
    if (s.ahead && platform::AudioPlayer::refusal(s.path).isEmpty()) {
        result.direct = true;
        return result;
    }
    // Our reader refused it, and ffmpeg must not read it either.
    if (platform::FfmpegGate::kept(s.path))
        return result;
    // A stopped job still holding its slot ends within its poll: wait for it
    // rather than run a third ffmpeg beside it.
    while (!s.seats->tryAcquire(1, kSlotPollMs))
        if (stopped())
            return result;
    const QSemaphoreReleaser slot(*s.seats);
    if (stopped() || !s.inFlight->add(s.output))
        return result; // stopped, or the quit has begun
    if (!reserveFile(s.output)) {
        s.inFlight->take(s.output);
        result.workFault = WorkFileFault::NotMade;
        return result;
    }
    const platform::ChildRun run = runDecodeCommand(
        s.ffmpeg, decodeArguments(s.path, s.output, s.currentDir), s.duration, s.children, s.stop);
    if (!run.started && !run.terminated)
        result.notStarted =
            processFailure(QProcess::FailedToStart, platform::programFile(s.ffmpeg));
    else if (!run.succeeded())
        result.workFault = ffmpegWriteFault(run.err);
    // A decode ahead that holds nothing (the source yields no samples) is of
    // no use: the play request's own road tells that the file cannot be played.
    if (!run.succeeded() || stopped() ||
        (s.ahead && !platform::AudioPlayer::refusal(s.output).isEmpty())) {
        // Whoever stopped it, or the quit, may have taken it already; it is
        // deleted either way.
        s.inFlight->take(s.output);
        QFile::remove(s.output);
        return result;
    }
    result.file = s.output;
    return result;
}

} // namespace ql
