// The simulated platform: the audio hardware is a SimHardware running the given
// rig, and the platform says it is simulated. Tests build the rig they need;
// the start-up fallback uses SimRig::noSoundCard().
//
// Seam: the audio engine work adds the simulated output side (the sink and
// its clocks) next to the hardware.
#pragma once

#include "platform/Platform.h"
#include "platform/sim/SimHardware.h"

namespace ql::platform {

Platform makeSimulatedPlatform(SimRig rig = SimRig::noSoundCard());

// The simulated hardware of a platform, nullptr when it runs another backend.
SimHardware* simulatedHardware(const Platform& platform);

} // namespace ql::platform
