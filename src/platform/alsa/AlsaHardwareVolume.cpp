// AlsaHardware: hardware volume on the card's main simple-mixer element.
#include "platform/alsa/AlsaHardware.h"

#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/AlsaVolumeMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ql::platform::alsa {

// ---- volume ------------------------------------------------------------------

std::optional<AlsaHardware::Mixer> AlsaHardware::mixerOf(const Entry& e) const {
    if (e.digital)
        return std::nullopt;
    const QString ctl = e.isDefault ? kDefaultUid : hwCtlName(e.cardId);
    const auto elements = m_api->mixerElements(ctl);
    for (const char* wanted : {"Master", "PCM"}) {
        for (const MixerElement& el : elements)
            if (el.hasPlaybackVolume && el.name == QLatin1String(wanted))
                return Mixer{ctl, el};
    }
    for (const MixerElement& el : elements)
        if (el.hasPlaybackVolume)
            return Mixer{ctl, el};
    return std::nullopt;
}

std::vector<int> AlsaHardware::channelsOfElement(const MixerElement& el,
                                                 VolumeElement element) const {
    if (el.rawMax <= el.rawMin)
        return {};
    const bool apart = !el.mono && !el.volumeJoined;
    switch (element) {
    case 0:
        if (!apart || (!el.hasLeft && !el.hasRight))
            return {0};
        if (el.hasLeft && el.hasRight)
            return {0, 1};
        return {el.hasLeft ? 0 : 1};
    case 1:
        return apart && el.hasLeft ? std::vector<int>{0} : std::vector<int>{};
    case 2:
        return apart && el.hasRight ? std::vector<int>{1} : std::vector<int>{};
    default:
        return {};
    }
}

std::optional<double> AlsaHardware::scalarOf(const Mixer& m, long raw) const {
    const MixerElement& el = m.element;
    if (el.dbMin && el.dbMax) {
        const DbRange range{*el.dbMin, *el.dbMax};
        if (isUsable(range)) {
            if (const auto db = m_api->dbOfRaw(m.ctl, el, raw))
                return scalarFromDb(*db, range);
        }
    }
    return scalarFromRaw(raw, el.rawMin, el.rawMax);
}

bool AlsaHardware::hasVolume(DeviceId id, VolumeElement element) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return false;
    const auto m = mixerOf(*e);
    return m && !channelsOfElement(m->element, element).empty();
}

bool AlsaHardware::volumeSettable(DeviceId id, VolumeElement element) const {
    // Every playback volume a simple mixer lists can be written.
    return hasVolume(id, element);
}

std::optional<double> AlsaHardware::volume(DeviceId id, VolumeElement element) const {
    refresh();
    Entry* e = find(id);
    if (!e)
        return std::nullopt;
    const auto m = mixerOf(*e);
    if (!m)
        return std::nullopt;
    const auto channels = channelsOfElement(m->element, element);
    if (channels.empty())
        return std::nullopt;
    std::vector<long> raws;
    for (const int ch : channels) {
        const auto raw = m_api->rawVolume(m->ctl, m->element, ch);
        if (!raw)
            return std::nullopt;
        raws.push_back(*raw);
    }
    // The mixer still holds the steps we wrote: the value we were given.
    const auto it = e->remembered.find(element);
    if (it != e->remembered.end() && it->second.raws == raws)
        return it->second.value;
    double sum = 0;
    for (const long raw : raws) {
        const auto s = scalarOf(*m, raw);
        if (!s)
            return std::nullopt;
        sum += *s;
    }
    return sum / double(raws.size());
}

std::optional<long> AlsaHardware::volumeDb(DeviceId id, VolumeElement element) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    const auto m = mixerOf(*e);
    if (!m || !m->element.dbMin || !m->element.dbMax)
        return std::nullopt;
    const auto channels = channelsOfElement(m->element, element);
    if (channels.empty())
        return std::nullopt;
    long sum = 0;
    for (const int ch : channels) {
        const auto raw = m_api->rawVolume(m->ctl, m->element, ch);
        const auto db = raw ? m_api->dbOfRaw(m->ctl, m->element, *raw) : std::nullopt;
        if (!db)
            return std::nullopt;
        sum += *db;
    }
    return sum / long(channels.size());
}

std::optional<double> AlsaHardware::volumeDecibels(DeviceId id, VolumeElement element) const {
    const std::optional<long> db = volumeDb(id, element);
    if (!db)
        return std::nullopt;
    if (*db <= kDbMuted)
        return -std::numeric_limits<double>::infinity();
    return double(*db) / 100.0;
}

bool AlsaHardware::setVolume(DeviceId id, VolumeElement element, double value) {
    refresh();
    Entry* e = find(id);
    if (!e || !std::isfinite(value))
        return false;
    const auto m = mixerOf(*e);
    if (!m)
        return false;
    const auto channels = channelsOfElement(m->element, element);
    if (channels.empty())
        return false;
    const double x = std::clamp(value, 0.0, 1.0);
    const MixerElement& el = m->element;

    long raw = rawFromScalar(x, el.rawMin, el.rawMax);
    if (el.dbMin && el.dbMax && isUsable(DbRange{*el.dbMin, *el.dbMax})) {
        // The control has steps of its own: take the one whose loudness is
        // nearest the scalar, from the steps either side of the wanted dB.
        const double db = dbFromScalar(x, DbRange{*el.dbMin, *el.dbMax});
        const auto below = m_api->rawOfDb(m->ctl, el, long(std::floor(db)), -1);
        const auto above = m_api->rawOfDb(m->ctl, el, long(std::ceil(db)), 1);
        std::optional<long> best;
        double bestGap = 0;
        for (const auto& candidate : {below, above}) {
            if (!candidate)
                continue;
            const auto s = scalarOf(*m, *candidate);
            const double gap = s ? std::abs(*s - x) : 2.0;
            if (!best || gap < bestGap) {
                best = candidate;
                bestGap = gap;
            }
        }
        if (best)
            raw = *best;
    }

    Remembered written;
    written.value = x;
    for (const int ch : channels) {
        if (!m_api->setRawVolume(m->ctl, el, ch, raw))
            return false;
        // The driver may clamp: remember what it holds, not what we sent.
        written.raws.push_back(m_api->rawVolume(m->ctl, el, ch).value_or(raw));
    }
    e->remembered[element] = std::move(written);
    return true;
}

QString AlsaHardware::volumeElementName(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return {};
    const auto m = mixerOf(*e);
    return m ? m->element.name : QString();
}

} // namespace ql::platform::alsa
