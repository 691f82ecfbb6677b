// ---- playback: loudness measurement ----
//
// While leveling is on, every track that starts (and the one that will
// follow it) has its integrated loudness measured once by ffmpeg's EBU R128
// meter, in the background; the value lands in `playback.loud`, which the
// effective volume uses to bring loud tracks down, and is saved with the
// stores. A path is in `loudPending` while its measurement runs, so one file
// is never measured twice at once. At most two measurements run at a time,
// in the order they were asked for; each is bounded by two minutes plus the
// track's length, and one killed at the limit gives no value. A measurement
// of a track that neither plays nor is next any more is stopped (its ffmpeg
// reads the whole file): skipping through tracks leaves no reader behind.
//
// No value (ffmpeg missing or failing, no summary, silence) shows nothing:
// the track stays unmeasured and the next start tries again.
#include "app/App.h"

#include "app/DecodeCommand.h"
#include "app/Delivery.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/UserFiles.h"
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
    const auto stop = std::make_shared<platform::ChildStop>();
    options.stop = stop;
    p.loudStops.insert(track.path, stop);
    const QString path = track.path;
    // A value belongs to its file, whatever plays when it comes back.
    loudQueue->start([delivery = Delivery(this), program, arguments, options, path, stop] {
        std::optional<double> lufs;
        // Through the file's reader: a file refused as slow is not measured.
        platform::UserFiles::readNow(path, [&](const platform::UserFiles::Touch& touch) {
            if (touch.keptFromFfmpeg)
                return;
            const platform::ChildRun run = platform::runChild(program, arguments, options);
            lufs = run.finished() ? integratedLoudness(run.err) : std::nullopt;
        });
        delivery.post([path, lufs, stop](App& app) {
            // A stopped run's mark went with its stop; the file may be
            // measured again by now.
            if (app.playback.loudStops.value(path) != stop)
                return;
            app.playback.loudStops.remove(path);
            app.loudnessMeasured(path, lufs);
        });
    });
}

void App::stopOtherLoudness(const std::optional<QString>& current,
                            const std::optional<QString>& next) {
    PlaybackState& p = playback;
    for (auto it = p.loudStops.begin(); it != p.loudStops.end();) {
        if (it.key() == current || it.key() == next) {
            ++it;
            continue;
        }
        it.value()->request();
        p.loudPending.remove(it.key());
        it = p.loudStops.erase(it);
    }
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
