// ---- playback: the signal-path report and its panel ----
//
// Gathers what the report reads from the controller and hands it to the pure
// signalPathData(). The source probe runs here, on the main thread, only when
// the panel opens or while it is visible, and is bounded so a file on a hung
// mount cannot freeze the window (a timed-out probe reads like a failed one).
// Facts once found are kept for their file; a failed probe is tried again at
// the next refresh.
#include "app/App.h"

#include "effects/FXPanel.h"
#include "playback/SignalPath.h"
#include "playback/SignalPathPanel.h"
#include "ui/SeekSlider.h"

namespace ql {

namespace {
constexpr int kProbeLimitMs = 3000;
} // namespace

SignalPathReport App::signalPathData() const {
    SignalPathInput in;
    in.hasTrack = playback.current.has_value();
    if (!in.hasTrack)
        return ql::signalPathData(in);
    const Track& track = *playback.current;
    auto& known = playback.signalSource;
    if (known && known->first == track.path) {
        in.source = known->second;
    } else {
        in.source = probeFacts(track.path, kProbeLimitMs);
        if (in.source.rate > 0)
            known.emplace(track.path, in.source);
    }
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

void App::showSignalPath() {
    signalPathPanel->toggle([this] { return signalPathData(); });
}

void App::refreshSignalPanel() {
    if (signalPathPanel->visible())
        signalPathPanel->refresh(signalPathData());
}

} // namespace ql
