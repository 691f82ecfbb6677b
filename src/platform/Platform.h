// The platform objects the controller works through, chosen once at start-up
// (ALSA on a machine with a sound card, else a simulated rig) or built by a
// test. The owner outlives the App that uses it.
//
// `outputs` holds one output engine per device (made on first use) and is
// what AudioPlayer::open() takes; it is declared after `hardware` so that it
// is destroyed first. `nowPlaying` is set by main() alone (tests choose
// theirs), so the validation mode and tests never take the desktop's name.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/NowPlaying.h"
#include "platform/audio/OutputEngines.h"

#include <memory>

namespace ql::platform {

struct Platform {
    std::unique_ptr<AudioHardware> hardware;
    std::unique_ptr<OutputEngines> outputs;
    // What the desktop shows of the playing track, and its media commands;
    // none: nothing is shown and no command comes.
    std::unique_ptr<NowPlaying> nowPlaying;
    // True when no real device could be used: every place that names the
    // device says so, so a pass here never looks like a pass on hardware.
    bool isSimulated = false;
    // The start-up fallback on a machine without a usable sound device: the
    // simulated rig plays, and nothing is heard anywhere. Tests that build a
    // simulated rig on purpose leave it false.
    bool noSoundDevice = false;
};

} // namespace ql::platform
