// An App on a simulated platform built from a rig, for the tests of the
// controller's output-device and volume code. Header only; link ql_app.
#pragma once

#include "app/App.h"
#include "platform/sim/SimPlatform.h"

#include <QComboBox>

namespace ql::test {

struct RiggedApp {
    platform::Platform platform;
    App app;
    explicit RiggedApp(platform::SimRig rig, platform::SimOutputs outputs = {})
        : platform(platform::makeSimulatedPlatform(std::move(rig), std::move(outputs))),
          app(platform) {}
    platform::SimHardware& hw() { return *platform::simulatedHardware(platform); }
};

// The device with that UID in a rig (the test's own description of it).
inline platform::SimDevice& deviceIn(platform::SimRig& rig, const QString& uid) {
    for (platform::SimDevice& d : rig.devices)
        if (d.uid == uid)
            return d;
    qFatal("no such device in the rig");
}

// Selects the device with `uid` in the device pop-up ("" = the system
// default) and runs the pop-up's action, as a user's choice does.
inline void choose(App& app, const QString& uid) {
    app.refreshDevicePopup();
    int index = 0;
    for (std::size_t i = 0; i < app.playback.deviceList.size(); ++i)
        if (app.playback.deviceList[i].uid == uid)
            index = int(i) + 1;
    app.devicePopup->setCurrentIndex(index);
    app.deviceChosen();
}

} // namespace ql::test
