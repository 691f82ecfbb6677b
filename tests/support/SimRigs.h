// Guards against: (fixture) rigs that differ between tests.
// Simulated rigs shared by the tests of the audio hardware and its users.
// Header only: a test that includes it links ql_platform.
#pragma once

#include "platform/sim/SimRig.h"

namespace ql::test {

inline const QString kDacA = QStringLiteral("usb:dac-a");
inline const QString kAnalogB = QStringLiteral("hda:analog-b");

// Two stereo output devices, "DAC A" then "Analog B", B the system default;
// pid 4242 stands for this process.
inline platform::SimRig twoOutputs() {
    platform::SimRig rig;
    rig.devices = {platform::SimDevice::output(QStringLiteral("DAC A"), kDacA),
                   platform::SimDevice::output(QStringLiteral("Analog B"), kAnalogB)};
    rig.defaultOutputUid = kAnalogB;
    rig.selfPid = 4242;
    return rig;
}

} // namespace ql::test
