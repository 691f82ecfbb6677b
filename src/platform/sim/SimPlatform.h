// The simulated platform: the audio hardware is a SimHardware running the given
// rig, each device plays into a SimSink, and the platform says it is
// simulated. Tests build the rig they need; the start-up fallback uses
// SimRig::noSoundCard() with real-time sinks.
//
// Sinks: a device's sink is made the first time a player uses it, with the
// control given for its UID in SimOutputs, else a fresh one on `clock`. A
// change of a device's nominal rate or physical format reopens its stream at
// once; unplugging a device makes its sink report the device gone.
#pragma once

#include "platform/Platform.h"
#include "platform/sim/SimHardware.h"
#include "platform/sim/SimSink.h"

#include <map>
#include <memory>

namespace ql::platform {

struct SimOutputs {
    SimClock clock = SimClock::RealTime;
    std::map<QString, std::shared_ptr<SimSinkControl>> controls; // by device UID
};

Platform makeSimulatedPlatform(SimRig rig = SimRig::noSoundCard(), SimOutputs outputs = {});

// The simulated hardware of a platform, nullptr when it runs another backend.
SimHardware* simulatedHardware(const Platform& platform);

} // namespace ql::platform
