#include "playback/DecodeAhead.h"

#include "app/WorkFolder.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/DecodeCommand.h"
#include "playback/InFlightFiles.h"

#include <QFile>
#include <QUuid>

namespace ql {

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
    platform::ChildOptions options;
    options.timeoutMs = platform::wholeFileLimitMs(s.duration);
    options.discardStdout = true;
    options.keepStderr = true;
    options.stderrTail = kDecodeErrorTail;
    options.registry = s.children;
    const platform::ChildRun run =
        platform::runChild(s.ffmpeg, decodeArguments(s.path, output, s.currentDir), options);
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
