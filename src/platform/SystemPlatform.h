// The platform the program runs on, chosen once at start-up by main() and by
// the validation mode: the real sound system when it has a device, else the
// simulated rig with one real-time device named "Simulated output (no sound
// card)", flagged as simulated so that no pass on it looks like a pass on
// hardware. No environment variable or flag selects it; tests build the
// platform they want instead. The real sound system is ALSA
// (platform/alsa/AlsaPlatform.h): chosen when it lists a device that opens,
// or one busy with another program (a real card that can be asked for).
#pragma once

#include "platform/Platform.h"

namespace ql::platform {

Platform makeSystemPlatform();

} // namespace ql::platform
