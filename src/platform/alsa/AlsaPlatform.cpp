#include "platform/alsa/AlsaPlatform.h"

#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaLib.h"
#include "platform/alsa/AlsaSink.h"
#include "platform/alsa/CardReserver.h"

namespace ql::platform {

std::unique_ptr<alsa::AlsaHardware> makeAlsaHardware() {
    alsa::AlsaHardware::Options options;
    options.reserver = std::make_unique<alsa::DBusCardReserver>();
    return std::make_unique<alsa::AlsaHardware>(std::make_unique<alsa::AlsaLib>(),
                                                std::move(options));
}

std::optional<Platform> alsaPlatform(std::unique_ptr<alsa::AlsaHardware> alsa) {
    if (!alsa || !alsa->anyDeviceUsable())
        return std::nullopt;
    alsa::AlsaHardware* hw = alsa.get();
    Platform p;
    p.hardware = std::move(alsa);
    p.outputs =
        std::make_unique<OutputEngines>(*hw, [hw](DeviceId id) -> std::unique_ptr<AudioSink> {
            if (!hw->pcmName(id))
                return nullptr;
            // Before the engine asks the format to open with. A device that
            // cannot be readied still gets its sink: opening it says why.
            hw->prepareStream(id);
            return std::make_unique<alsa::AlsaSink>(*hw, id);
        });
    // A sound server asking for the card gets it when nothing plays on it.
    OutputEngines* engines = p.outputs.get();
    hw->onReleaseStream = [engines](DeviceId id) { return engines->releaseDevice(id); };
    p.isSimulated = false;
    return p;
}

std::optional<Platform> makeAlsaPlatform() {
    return alsaPlatform(makeAlsaHardware());
}

} // namespace ql::platform
