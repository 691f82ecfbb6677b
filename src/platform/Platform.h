// The platform objects the controller works through, chosen once at start-up
// (ALSA on a machine with a sound card, else a simulated rig) or built by a
// test. The owner outlives the App that uses it.
//
// Seam: the audio engine work adds its output side here (the engines and the
// player factory) next to the hardware.
#pragma once

#include "platform/AudioHardware.h"

#include <memory>

namespace ql::platform {

struct Platform {
    std::unique_ptr<AudioHardware> hardware;
    // True when no real device could be used: every place that names the
    // device says so, so a pass here never looks like a pass on hardware.
    bool isSimulated = false;
};

} // namespace ql::platform
