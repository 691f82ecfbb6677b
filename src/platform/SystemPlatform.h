// The platform the program runs on, chosen once at start-up by main() and by
// the validation mode: the real sound system when it has a device, else the
// simulated rig with one real-time device named "Simulated output (no sound
// card)", flagged as simulated so that no pass on it looks like a pass on
// hardware. No environment variable or flag selects it; tests build the
// platform they want instead.
//
// Seam: the ALSA backend comes with its own issue; until then there is no
// real device to find and every start takes the simulated rig.
#pragma once

#include "platform/Platform.h"

namespace ql::platform {

Platform makeSystemPlatform();

} // namespace ql::platform
