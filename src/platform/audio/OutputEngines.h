// The output engines of one platform: one per device, made the first time a
// player is bound to that device. Players reach their device's engine through
// here; the controller tells it when it changed a device's rate or format
// (deviceFormatChanged) so the stream is reopened at once rather than at the
// next play.
//
// Upkeep (tidy(), every OutputEngine::kUpkeepMs on a timer while an event loop runs and a
// stream is open, and before an engine is looked up): what each feeder counted is logged
// (OutputEngine::logChanges); a stream with no running voice for
// OutputEngine::kIdleRelease (or at once after a stop) is closed and its
// device given back; an engine
// whose device is gone and which no player uses any more is dropped with its
// feeder thread (a device plugged in again gets a new id, and a new engine).
//
// Main thread only. Must outlive every AudioPlayer made with it.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/AudioSink.h"

#include <QString>
#include <QTimer>

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
    // Another program asks for the device: its stream is closed when no
    // voice plays on it (true), refused while one does (false).
    bool releaseDevice(DeviceId device);
    // Closes streams idle for long enough, drops engines of devices gone.
    void tidy();
    // Engines (with their feeder threads) kept now.
    int engineCount() const { return int(m_engines.size()); }
    // The upkeep timer runs (only while a stream is open or a device lost).
    bool upkeepRunning() const { return m_upkeep && m_upkeep->isActive(); }

private:
    void keepUp();

    AudioHardware& m_hardware;
    SinkFactory m_sinks;
    std::map<DeviceId, std::unique_ptr<OutputEngine>> m_engines;
    std::unique_ptr<QTimer> m_upkeep;
};

} // namespace ql::platform
