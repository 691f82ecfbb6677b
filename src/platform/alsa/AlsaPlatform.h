// The ALSA platform: the hardware on alsa-lib (card reservations on the
// session bus) and one output engine per device writing through an AlsaSink.
// It exists when ALSA lists a device that opens, or one that is busy with
// another program (a real card we can ask for); otherwise the caller falls
// back to the simulated rig (SystemPlatform).
//
// Sinks: a device's sink is made the first time a player uses the device; the
// device is readied then (its card reserved, what it takes probed), so the
// engine knows the format to open with.
//
// When the device is given back (a release, or a program of higher priority
// asking for the card), the hardware asks the engines to close the device's
// open stream (onReleaseStream); they do so only while nothing plays on it,
// so a request is granted while we are paused or idle and refused while we
// play.
#pragma once

#include "platform/Platform.h"

#include <memory>
#include <optional>

namespace ql::platform {

namespace alsa {
class AlsaHardware;
}

// The ALSA hardware on alsa-lib, with card reservations on the session bus.
std::unique_ptr<alsa::AlsaHardware> makeAlsaHardware();

// The platform on `alsa` when it has a usable device; none otherwise.
std::optional<Platform> alsaPlatform(std::unique_ptr<alsa::AlsaHardware> alsa);

// alsaPlatform(makeAlsaHardware()).
std::optional<Platform> makeAlsaPlatform();

} // namespace ql::platform
