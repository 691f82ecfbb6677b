#include "playback/DecodeAhead.h"

#include "app/DecodeCommand.h"
#include "app/WorkFolder.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/InFlightFiles.h"

#include <QFile>
#include <QUuid>

#include <utility>

namespace ql {

platform::ChildRun runDecodeCommand(const QString& ffmpeg, const QStringList& arguments,
                                    double duration,
                                    std::shared_ptr<platform::ChildRegistry> children) {
    platform::ChildOptions options;
    options.timeoutMs = platform::wholeFileLimitMs(duration);
    options.discardStdout = true;
    options.keepStderr = true;
    options.stderrTail = kDecodeErrorTail;
    options.registry = std::move(children);
    return platform::runChild(ffmpeg, arguments, options);
}

DecodedAhead decodeAheadBlocking(const DecodeSnapshot& s) {
    DecodedAhead result;
    if (platform::AudioPlayer::refusal(s.path).isEmpty()) {
        result.direct = true;
        return result;
    }
    const QString output = decodeOutputPath(s.tempDir, QUuid::createUuid());
    if (!s.inFlight->add(output))
        return result; // the quit has begun
    if (!reserveFile(output)) {
        s.inFlight->take(output);
        result.workFault = WorkFileFault::NotMade;
        return result;
    }
    const platform::ChildRun run = runDecodeCommand(
        s.ffmpeg, decodeArguments(s.path, output, s.currentDir), s.duration, s.children);
    if (!run.succeeded())
        result.workFault = ffmpegWriteFault(run.err);
    // A decode that holds nothing (the source yields no samples) is of no
    // use: the play request's own road tells that the file cannot be played.
    if (!run.succeeded() || !platform::AudioPlayer::refusal(output).isEmpty()) {
        // The quit may have taken it already; it is deleted either way.
        s.inFlight->take(output);
        QFile::remove(output);
        return result;
    }
    result.file = output;
    return result;
}

} // namespace ql
