#include "platform/sim/SimRig.h"

namespace ql::platform {

namespace {
PhysicalFormat pcm(double rate, int bits, bool isFloat) {
    // 24-bit integer is carried in 32-bit slots, as most USB and HDA devices do.
    const int bytes = bits == 16 ? 2 : 4;
    return PhysicalFormat{rate, bits, isFloat, 2, bytes * 2, true};
}
} // namespace

SimDevice SimDevice::output(const QString& name, const QString& uid) {
    SimDevice d;
    d.name = name;
    d.uid = uid;
    d.nominalRate = 44100;
    SimStream stream;
    for (double rate : {44100.0, 48000.0, 88200.0, 96000.0, 192000.0}) {
        d.nominalRates.push_back({rate, rate});
        stream.available.push_back(pcm(rate, 16, false));
        stream.available.push_back(pcm(rate, 24, false));
        stream.available.push_back(pcm(rate, 32, true));
    }
    stream.format = pcm(44100, 24, false);
    d.outputStreams.push_back(stream);
    for (auto& el : d.volume)
        el = SimVolumeElement{true, true, 1.0};
    return d;
}

SimDevice SimDevice::inputOnly(const QString& name, const QString& uid) {
    SimDevice d;
    d.name = name;
    d.uid = uid;
    d.nominalRate = 48000;
    d.nominalRates.push_back({48000, 48000});
    return d;
}

SimRig SimRig::noSoundCard() {
    SimRig rig;
    const QString uid = QStringLiteral("sim:no-sound-card");
    rig.devices.push_back(SimDevice::output(kSimulatedOutputName, uid));
    rig.defaultOutputUid = uid;
    return rig;
}

} // namespace ql::platform
