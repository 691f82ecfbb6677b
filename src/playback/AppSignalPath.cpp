// ---- playback: the signal-path report and its panel ----
//
// Gathers what the report reads from the controller and hands it to the pure
// signalPathData(). The source probe runs on the file's reader, only when the
// panel opens or while it is visible, and the panel is refreshed when its
// facts come: a file whose tags make ffprobe take minutes, or one on a hung
// mount, never freezes the window. Until then, and after a probe that found
// nothing, the source reads as unknown. A probe's outcome is kept for its
// file; a failed one is asked again when the panel is opened again.
#include "app/App.h"

#include "effects/FXPanel.h"
#include "playback/SignalPath.h"
#include "playback/SignalPathPanel.h"
#include "ui/SeekSlider.h"

namespace ql {

SignalPathReport App::signalPathData() const {
    SignalPathInput in;
    in.hasTrack = playback.current.has_value();
    if (!in.hasTrack)
        return ql::signalPathData(in);
    const Track& track = *playback.current;
    const auto& known = playback.signalSource;
    if (known && known->first == track.path)
        in.source = known->second;
    else if (playback.signalProbing != track.path)
        // Its result lands on the main thread, where App is not const.
        const_cast<App*>(this)->probeSignalSource(track.path);
    in.effectsRoad = fxChainActive().has_value();
    in.decoded = playback.cacheURL.has_value();
    in.bitPerfect = playback.bitPerfect;
    const FXState& fx = fxPanel->state;
    in.fxEnabled = fx.enabled;
    in.fxChain = fxPanel->chain().has_value();
    in.preset = fx.preset;
    in.crossfeed = fx.crossfeed;
    in.wide = fx.wide;
    in.room = fx.room;
    in.night = fx.night;
    for (const PluginSlot& slot : fxPanel->activePlugins())
        in.plugins << slot.name;
    in.upMode = playback.upMode;
    in.effUpMode = effUpMode();
    if (in.effUpMode > 0 && !in.bitPerfect)
        in.upTarget = upsampleTarget(in.source.rate);
    in.levelingOn = listening.levelingOn;
    if (const auto lufs = playback.loud.constFind(track.path); lufs != playback.loud.constEnd())
        in.loudness = *lufs;
    in.volume = views.volume->doubleValue();
    in.sleepOn = playback.sleepEnd.has_value();
    in.gaplessOn = playback.gaplessOn;
    in.crossfadeOn = listening.crossfadeOn;
    in.device = outputDeviceInfo();
    if (in.decoded)
        in.dropped = playback.cacheNote;
    return ql::signalPathData(in);
}

void App::probeSignalSource(const QString& path) {
    playback.signalProbing = path;
    probeOffMain(path, [path](App& app, const StreamFacts& facts, bool) {
        PlaybackState& p = app.playback;
        if (p.signalProbing == path)
            p.signalProbing.reset();
        // An earlier track's facts would only push out the current one's.
        if (!p.current || p.current->path != path)
            return;
        p.signalSource.emplace(path, facts);
        app.refreshSignalPanel();
    });
}

void App::showSignalPath() {
    // A probe that found nothing is asked again by a fresh look.
    if (playback.signalSource && playback.signalSource->second.rate <= 0)
        playback.signalSource.reset();
    signalPathPanel->toggle([this] { return signalPathData(); });
}

void App::refreshSignalPanel() {
    if (signalPathPanel->visible())
        signalPathPanel->refresh(signalPathData());
}

} // namespace ql
