// The blocking effects render: a whole track into a temporary float file.
//
// A render works from a snapshot taken on the main thread when it is queued
// (the track's path and duration, the filter chain, the plug-ins, the
// upsampling mode and the device's rates), so it reads no App state and may
// run while the settings change. Stages:
//   F1  ffmpeg applies the filter chain ("-af" only when there is one) and
//       writes 32-bit float PCM into "Quavelark-fx-<UUID>.caf";
//   F2  the plug-ins render F1 offline (renderAU);
//   F3  the result is upsampled to the target rate for its own rate, read
//       with libsndfile (upsampleTarget in playback/RateMatch.h, upsampleCAF
//       in effects/UpsampleFile.h).
// Every stage's file is made empty with mode 0600 before the stage writes
// it (`tempDir` is the run's private work folder, app/WorkFolder.h); a file
// that cannot be made fails the render at the first stage and skips a later
// stage.
// The first stage is an ffmpeg writer like a decode: it waits for one of
// the writers' `seats` (playback/DecodeAhead.h WriterSeat), so renders and
// decodes together never run more than two ffmpeg writers. A stopped render
// begins no stage, ends the one running (its child killed, the upsampling
// left between two blocks) and deletes every file it made.
// Only a failed first stage fails the render; the result then says whether
// the work folder is to blame (its file could not be made, or ffmpeg found no
// room to write it) or the source itself (it does not open, or ffmpeg cannot
// read it even without the chain), so the play road names the real cause
// rather than the effects. A later stage that fails is
// dropped and its output deleted; the render goes on with the stage before,
// and the result names the first dropped stage's error, so the play road does
// not report a partial render as a complete one. Every file is registered in
// `inFlight` from the moment it is chosen until it is deleted or handed back,
// so the quit deletes whatever a render leaves; deletions ignore errors.
//
// The plug-in stage runs the program quavelark-lv2render (beside the
// player's executable) through the child runner, the slots as JSON on its
// standard input, so a plug-in that crashes or hangs ends only that program.
// No "loaded" line within 15 s: killed, code 2 naming the slot it was
// loading; exit 2: code 2 naming the slot it reports (with the reason when
// the channel layout does not fit); exit 3, a crash, a failed start or no
// end within the whole-file limit: code 3.
//
// Thread: renderFXBlocking blocks a render job's thread, never the main one.
#pragma once

#include "app/DecodeCommand.h"
#include "effects/FXState.h"
#include "effects/RenderNote.h"
#include "platform/ChildProcess.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSemaphore;

namespace ql {

class InFlightFiles;

// How long the plug-in render program may take to load every plug-in.
inline constexpr int kPluginLoadLimitMs = 15'000;

// What the plug-in stage needs besides its files.
struct PluginRun {
    QString program; // the plug-in render program
    std::shared_ptr<platform::ChildRegistry> children;
    int limitMs = platform::kProbeLimitMs;           // the whole run
    int loadLimitMs = kPluginLoadLimitMs;            // until "loaded"
    std::shared_ptr<const platform::ChildStop> stop; // ends the run alone
};

// The plug-in render program beside the running executable.
QString pluginRendererPath();

struct RenderStages {
    // Renders `input` through the plug-ins into `output`; an error, or none.
    std::function<std::optional<RenderNote>(const QString& input, const QString& output,
                                            const std::vector<PluginSlot>& plugins,
                                            const PluginRun& run)>
        renderAU;
    // The upsampling target for a source rate (Hz) under `mode` with the
    // device's rates, or none.
    std::function<std::optional<double>(double rate, int mode, const std::vector<double>& rates)>
        upsampleTarget;
    // Converts `input` into `output` at `rate`; an error, or none. Gives up
    // (an error, no file left) once `stopped` says so.
    std::function<std::optional<RenderNote>(const QString& input, const QString& output,
                                            double rate, const std::function<bool()>& stopped)>
        upsampleCAF;

    // The program's own stages.
    static RenderStages standard();
};

// The plug-in stage: the active slots' plug-ins over `input` into `output`.
std::optional<RenderNote> renderAU(const QString& input, const QString& output,
                                   const std::vector<PluginSlot>& plugins, const PluginRun& run);

struct RenderSnapshot {
    QString path;
    double duration = 0; // seconds; lengthens ffmpeg's time limit
    std::optional<QString> chain;
    std::vector<PluginSlot> plugins;
    int upMode = 0;
    std::vector<double> deviceRates;
    QString ffmpeg;         // the program of the first stage
    QString pluginRenderer; // of the plug-in stage; empty: pluginRendererPath()
    QString tempDir;        // where the stages write
    QString currentDir;     // against which a relative track path is read
    std::shared_ptr<platform::ChildRegistry> children;
    std::shared_ptr<InFlightFiles> inFlight; // none: files are not registered
    // The ffmpeg writers' seats, shared with the decodes; none: no bound.
    std::shared_ptr<QSemaphore> seats;
    RenderStages stages = RenderStages::standard();
    // Ends the render (a prefetch whose track is no longer the next one):
    // its child killed, no later stage begun, no file given back.
    std::shared_ptr<platform::ChildStop> stop = std::make_shared<platform::ChildStop>();
};

struct RenderResult {
    std::optional<QString> file;    // none: the render failed
    std::optional<RenderNote> note; // the first stage dropped, if any
    // Set with no file: the source cannot be read (not the effects' fault).
    bool sourceUnreadable = false;
    // Set with no file: the first stage could not write its file in the work
    // folder (no room there, or no file could be made): not the effects'
    // fault either.
    WorkFileFault workFault = WorkFileFault::None;
    // Set with no file: ffmpeg may not read the source (its tags would keep
    // it busy for minutes: FfmpegGate), and no copy of it can be made
    // that it may: the track plays without the processing.
    bool keptFromFfmpeg = false;
    // Set with no file: the source's disk did not answer in time, or is
    // known not to (platform/UserFiles.h); nothing was read.
    bool tooSlow = false;
};

RenderResult renderFXBlocking(const RenderSnapshot& snapshot);

} // namespace ql
