// ---- playback: play request, transport, media commands ----
//
// Seams for the playback issues. The play request (history, generation,
// labels, the player on its road, the per-track housekeeping) is filled by the
// play-request work; until then a request only reaches seams.playRequest.
// Nothing plays yet, so there is nothing to
// pause, skip, seek or publish, no successor to cancel, no command to answer,
// and no player whose length or position could be read. The checks the tick
// runs (sleep timer, crossfade, gapless successor) and its polls of the lock
// icon and the signal-path panel come with the playback issues; until then
// they do nothing. matchDeviceRate() (choosing and setting the device rate
// for a source) comes with the device sample-rate matching; until then
// matchOutputRate() only binds the player.
#include "app/App.h"

#include "platform/audio/AudioPlayer.h"

namespace ql {

void App::play(const Track& track) {
    if (seams.playRequest)
        seams.playRequest(track);
}

void App::registerRemote() {}
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
void App::updateLockIcon() {}
void App::refreshSignalPanel() {}

void App::matchOutputRate(platform::AudioPlayer& player) {
    bindPlayer(player);
    if (playback.rateMatchOn || playback.bitPerfect) {
        const double rate = player.sourceSampleRate();
        if (rate > 0)
            matchDeviceRate(rate);
    }
}
void App::matchDeviceRate(double) {}

} // namespace ql
