#include "platform/audio/OutputEngines.h"

#include "platform/audio/OutputEngine.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

namespace ql::platform {

OutputEngines::OutputEngines(AudioHardware& hardware, SinkFactory sinks)
    : m_hardware(hardware), m_sinks(std::move(sinks)) {
    if (QCoreApplication::instance()) {
        m_upkeep = std::make_unique<QTimer>();
        m_upkeep->setInterval(OutputEngine::kUpkeepMs);
        QObject::connect(m_upkeep.get(), &QTimer::timeout, [this] { tidy(); });
    }
}

OutputEngines::~OutputEngines() = default;

void OutputEngines::tidy() {
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    for (auto it = m_engines.begin(); it != m_engines.end();) {
        it->second->logChanges();
        if (it->second->isAbandoned()) {
            it = m_engines.erase(it);
            continue;
        }
        it->second->releaseWhenIdleFor(now);
        ++it;
    }
    // With every stream closed there is nothing to give back: an idle
    // program is not woken four times a second for nothing. A lost engine
    // keeps the upkeep going until it can be dropped.
    if (m_upkeep && std::none_of(m_engines.begin(), m_engines.end(), [](const auto& e) {
            return e.second->isOpen() || e.second->isLost();
        }))
        m_upkeep->stop();
}

void OutputEngines::keepUp() {
    // Every stream opens through an engine looked up here just before (or
    // through deviceFormatChanged), so the upkeep is running by the time one
    // is open.
    if (m_upkeep && !m_upkeep->isActive())
        m_upkeep->start();
}

bool OutputEngines::releaseDevice(DeviceId device) {
    auto it = m_engines.find(device);
    return it == m_engines.end() || it->second->releaseIfIdle();
}

OutputEngine* OutputEngines::engine(DeviceId device) {
    if (device == kNoDevice)
        return nullptr;
    keepUp();
    std::erase_if(m_engines, [](const auto& e) { return e.second->isAbandoned(); });
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
    keepUp();
    auto it = m_engines.find(device);
    if (it == m_engines.end() || !it->second->isOpen())
        return true; // opens at the new format when first used
    return it->second->refreshFormat(error);
}

} // namespace ql::platform
