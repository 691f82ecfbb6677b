// Guards against: (fixture) an App on hardware unlike the rig.
// An App on a simulated platform built from a rig, for the tests of the
// controller's output-device and volume code. Header only; link ql_app.
#pragma once

#include "FakeServices.h"
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "TestAudio.h"

#include <QDir>

#include <sndfile.h>

namespace ql::test {

struct RiggedApp {
    platform::Platform platform;
    App app;
    explicit RiggedApp(platform::SimRig rig, platform::SimOutputs outputs = {})
        : platform(platform::makeSimulatedPlatform(std::move(rig), std::move(outputs))),
          app(platform, fakeServices()) {}
    platform::SimHardware& hw() { return *platform::simulatedHardware(platform); }
};

// The device with that UID in a rig (the test's own description of it).
inline platform::SimDevice& deviceIn(platform::SimRig& rig, const QString& uid) {
    for (platform::SimDevice& d : rig.devices)
        if (d.uid == uid)
            return d;
    qFatal("no such device in the rig");
}

// A player on `name`, a second of 16-bit WAV noise in the temporary folder,
// on the rig's outputs.
inline std::unique_ptr<platform::AudioPlayer> openPlayer(RiggedApp& r, const QString& name) {
    const QString path = writeTemp(name, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16});
    return platform::AudioPlayer::open(*r.platform.outputs, path).player;
}

} // namespace ql::test
