// ---- playback: play request, transport, media commands, volume keys ----
//
// Seams for the playback issues: nothing plays yet, so there is nothing to
// pause, skip, seek or publish, no successor to cancel, no command or key to
// answer, and no player whose length could be read.
#include "app/App.h"

namespace ql {

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

} // namespace ql
