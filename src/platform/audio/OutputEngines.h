// The output engines of one platform: one per device, made the first time a
// player is bound to that device and kept for the rest of the run. Players
// reach their device's engine through here; the controller tells it when it
// changed a device's rate or format (deviceFormatChanged) so the stream is
// reopened at once rather than at the next play.
//
// Main thread only. Must outlive every AudioPlayer made with it.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/AudioSink.h"

#include <QString>

#include <map>
#include <memory>

namespace ql::platform {

class OutputEngine;

class OutputEngines {
public:
    OutputEngines(AudioHardware& hardware, SinkFactory sinks);
    ~OutputEngines();
    OutputEngines(const OutputEngines&) = delete;
    OutputEngines& operator=(const OutputEngines&) = delete;

    AudioHardware& hardware() { return m_hardware; }

    // The engine of `device`; null when the device has no sink.
    OutputEngine* engine(DeviceId device);
    // The device a player without a chosen one plays on; kNoDevice when none.
    DeviceId defaultDevice() const;
    // Reopens the device's stream when its nominal rate or format changed.
    bool deviceFormatChanged(DeviceId device, QString& error);

private:
    AudioHardware& m_hardware;
    SinkFactory m_sinks;
    std::map<DeviceId, std::unique_ptr<OutputEngine>> m_engines;
};

} // namespace ql::platform
