#include "platform/alsa/AlsaPlatform.h"

#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaLib.h"
#include "platform/alsa/CardReserver.h"
#include "platform/sim/SimPlatform.h"

namespace ql::platform {

std::unique_ptr<alsa::AlsaHardware> makeAlsaHardware() {
    alsa::AlsaHardware::Options options;
    options.reserver = std::make_unique<alsa::DBusCardReserver>();
    return std::make_unique<alsa::AlsaHardware>(std::make_unique<alsa::AlsaLib>(),
                                                std::move(options));
}

Platform choosePlatform(std::unique_ptr<alsa::AlsaHardware> alsa) {
    if (alsa && alsa->anyDeviceUsable()) {
        Platform p;
        p.hardware = std::move(alsa);
        p.isSimulated = false;
        return p;
    }
    return makeSimulatedPlatform();
}

Platform makeStartupPlatform() {
    return choosePlatform(makeAlsaHardware());
}

} // namespace ql::platform
