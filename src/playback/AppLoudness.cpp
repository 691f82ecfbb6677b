// ---- playback: loudness measurement ----
//
// While leveling is on, every track that starts (and the one that will
// follow it) has its integrated loudness measured once by ffmpeg's EBU R128
// meter, in the background; the value lands in `playback.loud`, which the
// effective volume uses to bring loud tracks down, and is saved with the
// stores. A path is in `loudPending` while its measurement runs, so one file
// is never measured twice at once. At most two measurements run at a time,
// in the order they were asked for; each is bounded by two minutes plus the
// track's length, and one killed at the limit gives no value.
//
// No value (ffmpeg missing or failing, no summary, silence) shows nothing:
// the track stays unmeasured and the next start tries again.
#include "app/App.h"

#include "app/DecodeCommand.h"
#include "app/Delivery.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "app/DecodeCommand.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/LoudnessMeter.h"

#include <QDir>
#include <QThreadPool>

namespace ql {

void App::ensureLoudness(const Track& track) {
    PlaybackState& p = playback;
    if (!listening.levelingOn || p.loud.contains(track.path) || p.loudPending.contains(track.path))
        return;
    p.loudPending.insert(track.path);

    const QString program = services.tools->loudnessProgram();
    const QStringList arguments = loudnessArguments(ffmpegInput(track.path, QDir::currentPath()));
    platform::ChildOptions options;
    options.keepStderr = true;
    options.discardStdout = true;
    options.timeoutMs = loudnessTimeoutMs(track.duration);
    options.registry = children; // the quit ends a measurement still running
    const QString path = track.path;
    // A value belongs to its file, whatever plays when it comes back.
    loudQueue->start([delivery = Delivery(this), program, arguments, options, path] {
        std::optional<double> lufs;
        if (!platform::FfmpegGate::kept(path)) {
            const platform::ChildRun run = platform::runChild(program, arguments, options);
            lufs = run.finished() ? integratedLoudness(run.err) : std::nullopt;
        }
        delivery.post([path, lufs](App& app) { app.loudnessMeasured(path, lufs); });
    });
}

void App::loudnessMeasured(const QString& path, std::optional<double> lufs) {
    PlaybackState& p = playback;
    p.loudPending.remove(path);
    if (!lufs || !loudnessKept(*lufs))
        return;
    p.loud.insert(path, *lufs);
    p.loudDirty = true;
    // Another track may be playing by now; its volume is not this value's.
    if (p.current && p.current->path == path)
        applyVolume();
}

} // namespace ql
