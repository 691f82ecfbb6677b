// ---- playback: play request, transport, media commands, volume keys ----
//
// Seams for the playback issues. The play request (history, generation,
// labels, the player on its road, the per-track housekeeping) is filled by the
// play-request work; until then a request only reaches seams.playRequest.
// Nothing plays yet, so there is nothing to
// pause, skip, seek or publish, no successor to cancel, no command or key to
// answer, and no player whose length or position could be read. The checks
// the tick runs (sleep timer, crossfade, gapless successor) and its device
// polls (hardware volume, lock icon, DAC label, device pop-up, signal-path
// panel) come with the playback and output-device issues; until then they do
// nothing.
#include "app/App.h"

namespace ql {

void App::play(const Track& track) {
    if (seams.playRequest)
        seams.playRequest(track);
}

void App::registerRemote() {}
void App::registerVolumeKeys() {}
void App::toggle() {}
bool App::isPlaying() const {
    return false;
}
void App::previous() {}
void App::next() {}
void App::cancelQueued() {}
void App::publish() {}
std::optional<double> App::audioDuration() const {
    return std::nullopt;
}
void App::setAudioTime(double) {}

std::optional<double> App::audioCurrentTime() const {
    return std::nullopt;
}
void App::sleepTick() {}
void App::crossfadeCheck() {}
void App::gaplessCheck() {}
void App::updateHW() {}
void App::updateLockIcon() {}
void App::refreshDACLabel() {}
void App::refreshDevicePopup() {}
void App::refreshSignalPanel() {}

} // namespace ql
