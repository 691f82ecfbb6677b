// ---- playback: output device queries ----
//
// The whole vocabulary for asking the audio hardware about output devices.
// Every call asks again: devices come, go and change rate between two ticks,
// so nothing here keeps an id or a value. A platform without hardware answers
// like hardware whose every read fails.
#include "app/App.h"

#include "platform/Platform.h"
#include "playback/RateText.h"

#include <cmath>

namespace ql {

namespace {
const platform::AudioHardware* hardwareOf(const platform::Platform& p) {
    return p.hardware.get();
}
} // namespace

std::vector<OutputDeviceEntry> App::listOutputDevices() const {
    std::vector<OutputDeviceEntry> list;
    const auto* hw = hardwareOf(platform);
    if (!hw)
        return list;
    const auto ids = hw->devices();
    if (!ids)
        return list;
    for (const platform::DeviceId id : *ids) {
        if (!hw->hasOutput(id))
            continue;
        // Without a UID the choice could not be remembered: leave it out.
        const auto uid = deviceUID(id);
        if (!uid)
            continue;
        list.push_back({id, deviceName(id), *uid});
    }
    return list;
}

std::optional<platform::DeviceId> App::deviceByUID(const QString& uid) const {
    const auto* hw = hardwareOf(platform);
    if (!hw)
        return std::nullopt;
    const auto id = hw->deviceForUid(uid);
    if (!id || *id == platform::kNoDevice)
        return std::nullopt;
    return id;
}

QString App::deviceName(platform::DeviceId id) const {
    const auto* hw = hardwareOf(platform);
    if (!hw)
        return {};
    return hw->name(id).value_or(QString());
}

std::optional<QString> App::deviceUID(platform::DeviceId id) const {
    const auto* hw = hardwareOf(platform);
    if (!hw)
        return std::nullopt;
    auto uid = hw->uid(id);
    // An empty UID cannot name the device again after a restart or a replug;
    // remembering it would store a choice that never comes back.
    if (!uid || uid->isEmpty())
        return std::nullopt;
    return uid;
}

std::optional<platform::DeviceId> App::outputDeviceID() const {
    if (playback.outputUID) {
        if (const auto id = deviceByUID(*playback.outputUID))
            return id;
    }
    // No choice, or the chosen device is away: the system default plays, and
    // the choice stays stored for when the device returns.
    const auto* hw = hardwareOf(platform);
    if (!hw)
        return std::nullopt;
    const auto id = hw->defaultOutput();
    if (!id || *id == platform::kNoDevice)
        return std::nullopt;
    return id;
}

std::optional<OutputInfo> App::outputDeviceInfo() const {
    const auto id = outputDeviceID();
    if (!id)
        return std::nullopt;
    const auto* hw = hardwareOf(platform);
    OutputInfo info;
    info.name = deviceName(*id);
    const double rate = hw->nominalRate(*id).value_or(0.0);
    // A reading that is not a rate is shown and compared as "unknown".
    info.rate = std::isfinite(rate) && rate > 0 ? rate : 0.0;
    const auto streams = hw->outputStreams(*id);
    if (streams && !streams->empty()) {
        if (const auto format = hw->physicalFormat(streams->front())) {
            info.bits = format->bits;
            info.channels = format->channels;
        }
    }
    return info;
}

QString App::khzText(double rate) {
    return ql::khzText(rate);
}

} // namespace ql
