#include "platform/SystemPlatform.h"

#include "platform/alsa/AlsaPlatform.h"
#include "platform/sim/SimPlatform.h"

namespace ql::platform {

Platform makeSystemPlatform() {
    if (auto alsa = makeAlsaPlatform())
        return std::move(*alsa);
    Platform simulated =
        makeSimulatedPlatform(SimRig::noSoundCard(), SimOutputs{SimClock::RealTime, {}});
    simulated.noSoundDevice = true;
    return simulated;
}

} // namespace ql::platform
