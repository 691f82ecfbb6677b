// The platform the program starts on: ALSA when it lists a device that opens
// (or one that is busy with another program: a real card we can claim), else
// the simulated fallback with its one device "Simulated output (no sound
// card)", marked simulated so nothing mistakes it for hardware.
//
// Seam: the output side (the ALSA sink and its engines) joins the hardware in
// the platform when the sink work lands.
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace ql::platform {

namespace alsa {
class AlsaHardware;
}

// The ALSA hardware on alsa-lib, with card reservations on the session bus.
std::unique_ptr<alsa::AlsaHardware> makeAlsaHardware();

// ALSA when `alsa` has a usable device, else the simulated fallback.
Platform choosePlatform(std::unique_ptr<alsa::AlsaHardware> alsa);

// choosePlatform(makeAlsaHardware()).
Platform makeStartupPlatform();

} // namespace ql::platform
