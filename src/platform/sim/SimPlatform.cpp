#include "platform/sim/SimPlatform.h"

#include <set>

namespace ql::platform {

namespace {

// The sink controls handed out so far, by device id, shared by the sink
// factory and the hardware observer.
struct SinkRegistry {
    SimOutputs outputs;
    std::map<DeviceId, std::shared_ptr<SimSinkControl>> byDevice;
    // Controls whose device was unplugged: the loss is ours to undo when the
    // device comes back (as a new id).
    std::set<SimSinkControl*> lostByUnplug;
};

} // namespace

Platform makeSimulatedPlatform(SimRig rig, SimOutputs outputs) {
    Platform p;
    auto hardware = std::make_unique<SimHardware>(std::move(rig));
    SimHardware* hw = hardware.get();
    auto registry = std::make_shared<SinkRegistry>();
    registry->outputs = std::move(outputs);

    p.hardware = std::move(hardware);
    p.outputs = std::make_unique<OutputEngines>(*hw, [hw, registry](DeviceId id) {
        const auto uid = hw->uid(id);
        if (!uid || !hw->hasOutput(id))
            return std::unique_ptr<AudioSink>();
        auto& known = registry->outputs.controls[*uid];
        if (!known)
            known = std::make_shared<SimSinkControl>(registry->outputs.clock);
        registry->byDevice[id] = known;
        if (registry->lostByUnplug.erase(known.get()))
            known->loseAfterFrames.store(-1);
        return std::unique_ptr<AudioSink>(std::make_unique<SimSink>(known));
    });
    OutputEngines* engines = p.outputs.get();
    hw->addObserver([engines, registry](DeviceId id, SimEvent event) {
        if (event == SimEvent::NominalRate || event == SimEvent::PhysicalFormat) {
            QString error;
            engines->deviceFormatChanged(id, error);
        } else if (event == SimEvent::Unplugged) {
            if (auto it = registry->byDevice.find(id); it != registry->byDevice.end()) {
                it->second->loseAfterFrames.store(0);
                registry->lostByUnplug.insert(it->second.get());
            }
        }
    });
    p.isSimulated = true;
    return p;
}

SimHardware* simulatedHardware(const Platform& platform) {
    return dynamic_cast<SimHardware*>(platform.hardware.get());
}

} // namespace ql::platform
