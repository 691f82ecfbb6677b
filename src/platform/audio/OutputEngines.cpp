#include "platform/audio/OutputEngines.h"

#include "platform/audio/OutputEngine.h"

namespace ql::platform {

OutputEngines::OutputEngines(AudioHardware& hardware, SinkFactory sinks)
    : m_hardware(hardware), m_sinks(std::move(sinks)) {}

OutputEngines::~OutputEngines() = default;

OutputEngine* OutputEngines::engine(DeviceId device) {
    if (device == kNoDevice)
        return nullptr;
    if (auto it = m_engines.find(device); it != m_engines.end())
        return it->second.get();
    auto sink = m_sinks ? m_sinks(device) : nullptr;
    if (!sink)
        return nullptr;
    auto e = std::make_unique<OutputEngine>(m_hardware, device, std::move(sink));
    OutputEngine* raw = e.get();
    m_engines.emplace(device, std::move(e));
    return raw;
}

DeviceId OutputEngines::defaultDevice() const {
    return m_hardware.defaultOutput().value_or(kNoDevice);
}

bool OutputEngines::deviceFormatChanged(DeviceId device, QString& error) {
    auto it = m_engines.find(device);
    if (it == m_engines.end() || !it->second->isOpen())
        return true; // opens at the new format when first used
    return it->second->refreshFormat(error);
}

} // namespace ql::platform
