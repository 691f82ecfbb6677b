#include "platform/sim/SimPlatform.h"

namespace ql::platform {

Platform makeSimulatedPlatform(SimRig rig) {
    Platform p;
    p.hardware = std::make_unique<SimHardware>(std::move(rig));
    p.isSimulated = true;
    return p;
}

SimHardware* simulatedHardware(const Platform& platform) {
    return dynamic_cast<SimHardware*>(platform.hardware.get());
}

} // namespace ql::platform
