#include "platform/SystemPlatform.h"

#include "platform/sim/SimPlatform.h"

namespace ql::platform {

namespace {

// The ALSA platform when it can open at least one device. The ALSA backend
// is not built yet, so there is none.
std::optional<Platform> makeAlsaPlatform() {
    return std::nullopt;
}

} // namespace

Platform makeSystemPlatform() {
    if (auto alsa = makeAlsaPlatform())
        return std::move(*alsa);
    return makeSimulatedPlatform(SimRig::noSoundCard(), SimOutputs{SimClock::RealTime, {}});
}

} // namespace ql::platform
