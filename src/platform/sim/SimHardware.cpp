#include "platform/sim/SimHardware.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ql::platform {

SimHardware::SimHardware(SimRig rig) : m_rig(std::move(rig)) {
    std::vector<SimDevice> initial = std::move(m_rig.devices);
    m_rig.devices.clear();
    if (m_rig.selfPid == 0)
        m_rig.selfPid = int(QCoreApplication::applicationPid());
    for (SimDevice& d : initial)
        plug(std::move(d));
}

bool SimHardware::fails(SimOp op, const Connected* c) const {
    return m_rig.failing.count(op) != 0 || (c && c->device.failing.count(op) != 0);
}

const SimHardware::Connected* SimHardware::find(DeviceId id) const {
    if (id == kNoDevice)
        return nullptr;
    for (const Connected& c : m_connected)
        if (c.id == id)
            return &c;
    return nullptr;
}

SimHardware::Connected* SimHardware::find(DeviceId id) {
    return const_cast<Connected*>(std::as_const(*this).find(id));
}

std::optional<SimHardware::StreamRef> SimHardware::findStream(StreamId stream) const {
    if (stream == 0)
        return std::nullopt;
    for (std::size_t d = 0; d < m_connected.size(); ++d) {
        const auto& ids = m_connected[d].streams;
        const auto it = std::find(ids.begin(), ids.end(), stream);
        if (it != ids.end())
            return StreamRef{d, std::size_t(it - ids.begin())};
    }
    return std::nullopt;
}

const SimVolumeElement* SimHardware::element(const Connected& c, VolumeElement el) const {
    if (el >= c.device.volume.size() || !c.device.volume[el].present)
        return nullptr;
    return &c.device.volume[el];
}

void SimHardware::notify(DeviceId id, SimEvent event) {
    // A copy, so an observer may add or remove observers while it runs.
    const auto observers = m_observers;
    for (const auto& [token, fn] : observers)
        fn(id, event);
}

// ---- queries ----------------------------------------------------------------

std::optional<std::vector<DeviceId>> SimHardware::devices() const {
    if (fails(SimOp::Devices, nullptr))
        return std::nullopt;
    std::vector<DeviceId> ids;
    ids.reserve(m_connected.size());
    for (const Connected& c : m_connected)
        ids.push_back(c.id);
    return ids;
}

std::optional<std::vector<StreamId>> SimHardware::outputStreams(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::OutputStreams, c))
        return std::nullopt;
    return c->streams;
}

std::optional<QString> SimHardware::uid(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::Uid, c))
        return std::nullopt;
    return c->device.uid;
}

std::optional<QString> SimHardware::name(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::Name, c))
        return std::nullopt;
    return c->device.name;
}

std::optional<DeviceId> SimHardware::deviceForUid(const QString& uid) const {
    if (fails(SimOp::DeviceForUid, nullptr) || uid.isEmpty())
        return std::nullopt;
    const DeviceId id = idOf(uid);
    if (id == kNoDevice || fails(SimOp::DeviceForUid, find(id)))
        return std::nullopt;
    return id;
}

std::optional<DeviceId> SimHardware::defaultOutput() const {
    if (fails(SimOp::DefaultOutput, nullptr) || !m_rig.defaultOutputUid)
        return std::nullopt;
    const DeviceId id = idOf(*m_rig.defaultOutputUid);
    if (id == kNoDevice)
        return std::nullopt;
    return id;
}

std::optional<double> SimHardware::nominalRate(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::NominalRate, c))
        return std::nullopt;
    return c->device.nominalRate;
}

std::optional<std::vector<RateRange>> SimHardware::availableNominalRates(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::AvailableNominalRates, c))
        return std::nullopt;
    return c->device.nominalRates;
}

std::optional<PhysicalFormat> SimHardware::physicalFormat(StreamId stream) const {
    const auto ref = findStream(stream);
    if (!ref)
        return std::nullopt;
    const Connected& c = m_connected[ref->device];
    if (fails(SimOp::PhysicalFormat, &c))
        return std::nullopt;
    return c.device.outputStreams[ref->stream].format;
}

std::optional<std::vector<PhysicalFormat>>
SimHardware::availablePhysicalFormats(StreamId stream) const {
    const auto ref = findStream(stream);
    if (!ref)
        return std::nullopt;
    const Connected& c = m_connected[ref->device];
    if (fails(SimOp::AvailablePhysicalFormats, &c))
        return std::nullopt;
    return c.device.outputStreams[ref->stream].available;
}

bool SimHardware::hasVolume(DeviceId id, VolumeElement el) const {
    const Connected* c = find(id);
    return c && !fails(SimOp::HasVolume, c) && element(*c, el);
}

bool SimHardware::volumeSettable(DeviceId id, VolumeElement el) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::VolumeSettable, c))
        return false;
    const SimVolumeElement* e = element(*c, el);
    return e && e->settable;
}

std::optional<double> SimHardware::volume(DeviceId id, VolumeElement el) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::Volume, c))
        return std::nullopt;
    const SimVolumeElement* e = element(*c, el);
    if (!e)
        return std::nullopt;
    return e->value;
}

std::optional<int> SimHardware::exclusiveOwner(DeviceId id) const {
    const Connected* c = find(id);
    if (!c || fails(SimOp::ExclusiveOwner, c))
        return std::nullopt;
    return c->device.exclusiveOwner;
}

// ---- writes -----------------------------------------------------------------

void SimHardware::moveToRate(Connected& c, double hz) {
    c.device.nominalRate = hz;
    for (SimStream& s : c.device.outputStreams)
        s.format.rate = hz;
}

bool SimHardware::setNominalRate(DeviceId id, double hz) {
    ++m_calls.nominalRate;
    Connected* c = find(id);
    if (!c || fails(SimOp::SetNominalRate, c) || !std::isfinite(hz) || hz <= 0)
        return false;
    const auto& ranges = c->device.nominalRates;
    const bool supported = std::any_of(ranges.begin(), ranges.end(), [hz](const RateRange& r) {
        return hz >= r.min && hz <= r.max;
    });
    if (!supported)
        return false;
    ++m_applied.nominalRate;
    const bool changed = c->device.nominalRate != hz ||
                         std::any_of(c->device.outputStreams.begin(), c->device.outputStreams.end(),
                                     [hz](const SimStream& s) { return s.format.rate != hz; });
    if (!changed)
        return true;
    moveToRate(*c, hz);
    ++c->generation;
    notify(id, SimEvent::NominalRate);
    return true;
}

bool SimHardware::setPhysicalFormat(StreamId stream, const PhysicalFormat& format) {
    ++m_calls.physicalFormat;
    const auto ref = findStream(stream);
    if (!ref)
        return false;
    Connected& c = m_connected[ref->device];
    SimStream& s = c.device.outputStreams[ref->stream];
    if (fails(SimOp::SetPhysicalFormat, &c) ||
        std::find(s.available.begin(), s.available.end(), format) == s.available.end())
        return false;
    ++m_applied.physicalFormat;
    if (s.format == format && c.device.nominalRate == format.rate)
        return true;
    moveToRate(c, format.rate);
    s.format = format;
    ++c.generation;
    notify(c.id, SimEvent::PhysicalFormat);
    return true;
}

bool SimHardware::setVolume(DeviceId id, VolumeElement el, double value) {
    ++m_calls.volume;
    Connected* c = find(id);
    if (!c || fails(SimOp::SetVolume, c) || !std::isfinite(value))
        return false;
    const SimVolumeElement* e = element(*c, el);
    if (!e || !e->settable)
        return false;
    ++m_applied.volume;
    const double v = std::clamp(value, 0.0, 1.0);
    if (c->device.volume[el].value == v)
        return true;
    c->device.volume[el].value = v;
    notify(id, SimEvent::Volume);
    return true;
}

bool SimHardware::setExclusiveOwner(DeviceId id, int pid) {
    ++m_calls.exclusiveOwner;
    Connected* c = find(id);
    if (!c || fails(SimOp::SetExclusiveOwner, c) || (pid != kNoOwner && pid <= 0))
        return false;
    const int owner = c->device.exclusiveOwner;
    if (pid == kNoOwner) {
        if (owner != kNoOwner && owner != m_rig.selfPid)
            return false; // another process holds it; only it can let go
    } else if (owner != kNoOwner && owner != pid) {
        return false; // busy
    }
    ++m_applied.exclusiveOwner;
    if (owner == pid)
        return true;
    c->device.exclusiveOwner = pid;
    notify(id, SimEvent::ExclusiveOwner);
    return true;
}

// ---- the rig ----------------------------------------------------------------

DeviceId SimHardware::plug(SimDevice device) {
    if (device.uid.isEmpty() || idOf(device.uid) != kNoDevice)
        return kNoDevice;
    Connected c;
    c.id = m_nextId++;
    for (std::size_t i = 0; i < device.outputStreams.size(); ++i)
        c.streams.push_back(m_nextId++);
    // The streams run at the device's rate from the start, whatever the rig
    // wrote into their formats.
    c.device = std::move(device);
    moveToRate(c, c.device.nominalRate);
    const DeviceId id = c.id;
    m_connected.push_back(std::move(c));
    notify(id, SimEvent::Plugged);
    return id;
}

bool SimHardware::unplug(const QString& uid) {
    const auto it = std::find_if(m_connected.begin(), m_connected.end(),
                                 [&uid](const Connected& c) { return c.device.uid == uid; });
    if (it == m_connected.end())
        return false;
    const DeviceId id = it->id;
    m_connected.erase(it);
    notify(id, SimEvent::Unplugged);
    return true;
}

DeviceId SimHardware::idOf(const QString& uid) const {
    for (const Connected& c : m_connected)
        if (c.device.uid == uid)
            return c.id;
    return kNoDevice;
}

std::vector<StreamId> SimHardware::streamsOf(DeviceId id) const {
    const Connected* c = find(id);
    return c ? c->streams : std::vector<StreamId>{};
}

SimDevice* SimHardware::device(const QString& uid) {
    Connected* c = find(idOf(uid));
    return c ? &c->device : nullptr;
}

const SimDevice* SimHardware::device(DeviceId id) const {
    const Connected* c = find(id);
    return c ? &c->device : nullptr;
}

std::uint64_t SimHardware::generation(DeviceId id) const {
    const Connected* c = find(id);
    return c ? c->generation : 0;
}

int SimHardware::addObserver(Observer observer) {
    const int token = m_nextObserver++;
    m_observers.emplace(token, std::move(observer));
    return token;
}

void SimHardware::removeObserver(int token) {
    m_observers.erase(token);
}

} // namespace ql::platform
