#include "playback/DecodeAhead.h"

#include "app/DecodeCommand.h"
#include "app/WorkFolder.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/InFlightFiles.h"

#include <QFile>

#include <utility>

namespace ql {

namespace {
// How often a job waiting for a free seat looks whether it was stopped.
constexpr int kSeatPollMs = 20;
} // namespace

WriterSeat::WriterSeat(std::shared_ptr<QSemaphore> seats, const platform::ChildStop& stop)
    : m_seats(std::move(seats)) {
    if (!m_seats) {
        m_taken = !stop.requested();
        return;
    }
    while (!stop.requested())
        if (m_seats->tryAcquire(1, kSeatPollMs)) {
            m_taken = true;
            return;
        }
}

WriterSeat::~WriterSeat() {
    if (m_taken && m_seats)
        m_seats->release();
}

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

DecodeTouch decodeTouch(const DecodeSnapshot& s, bool keptFromFfmpeg) {
    DecodeTouch touch;
    if (s.stop->requested()) {
        touch.answer = DecodeOutcome();
        return touch;
    }
    touch.stamp = fileStamp(s.path, s.currentDir);
    DecodeOutcome result;
    result.stamp = touch.stamp;
    if (s.ahead && platform::AudioPlayer::refusal(s.path).isEmpty()) {
        result.direct = true;
        touch.answer = result;
    } else if (keptFromFfmpeg) {
        // Our reader refused it, and ffmpeg must not read it either.
        touch.answer = result;
    }
    return touch;
}

DecodeOutcome decodeBlocking(const DecodeSnapshot& s) {
    const DecodeTouch touch = decodeTouch(s, platform::FfmpegGate::kept(s.path));
    return touch.answer ? *touch.answer : decodeRun(s, touch.stamp);
}

DecodeOutcome decodeRun(const DecodeSnapshot& s, const FileStamp& stamp) {
    DecodeOutcome result;
    result.stamp = stamp;
    const auto stopped = [&s] { return s.stop->requested(); };
    // A stopped writer still holding its seat ends within its poll: wait for
    // it rather than run a third ffmpeg beside it.
    const WriterSeat seat(s.seats, *s.stop);
    if (!seat || stopped() || !s.inFlight->add(s.output))
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
