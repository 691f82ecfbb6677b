#include "platform/alsa/AlsaHardware.h"

#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/CardReserver.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <unistd.h>

namespace ql::platform::alsa {

const std::vector<unsigned>& probeRates() {
    static const std::vector<unsigned> rates{8000,   11025,  16000,  22050, 32000,  44100,
                                             48000,  64000,  88200,  96000, 176400, 192000,
                                             352800, 384000, 705600, 768000};
    return rates;
}

namespace {

// The rate the shared device runs at, and a `hw:` device until asked: the rate
// sound servers and most hardware run at.
constexpr double kFallbackRate = 48000;
const QString kDefaultName = QStringLiteral("Default output (shared)");

// Digital outputs carry the samples as they are; the card's mixer elements
// belong to its analog side.
bool isDigital(const PcmInfo& pcm) {
    static const char* const marks[] = {"HDMI", "IEC958", "S/PDIF", "SPDIF", "DisplayPort"};
    for (const char* mark : marks) {
        const QString m = QString::fromLatin1(mark);
        if (pcm.id.contains(m, Qt::CaseInsensitive) || pcm.name.contains(m, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString displayName(const CardInfo& card, const PcmInfo& pcm, const QString& uid) {
    const QString c = card.name.trimmed();
    const QString p = pcm.name.trimmed();
    if (c.isEmpty() && p.isEmpty())
        return uid;
    if (p.isEmpty() || p == c)
        return c;
    if (c.isEmpty())
        return p;
    return c + QStringLiteral(": ") + p;
}

bool takesRate(const PcmCaps& caps, unsigned rate) {
    if (caps.continuousRates)
        return rate >= caps.rateMin && rate <= caps.rateMax;
    return std::any_of(caps.formats.begin(), caps.formats.end(), [rate](const auto& f) {
        return std::find(f.rates.begin(), f.rates.end(), rate) != f.rates.end();
    });
}

bool formatTakesRate(const PcmCaps& caps, PcmFormat format, unsigned rate) {
    for (const auto& f : caps.formats) {
        if (f.format != format)
            continue;
        if (caps.continuousRates)
            return rate >= caps.rateMin && rate <= caps.rateMax;
        return std::find(f.rates.begin(), f.rates.end(), rate) != f.rates.end();
    }
    return false;
}

// The format our engine opens with when nothing was set: the deepest the
// device takes at that rate (at any rate when none takes it).
std::optional<PcmFormat> bestFormat(const PcmCaps& caps, unsigned rate) {
    std::optional<PcmFormat> best;
    for (int pass = 0; pass < 2 && !best; ++pass) {
        for (const auto& f : caps.formats) {
            if (pass == 0 && !formatTakesRate(caps, f.format, rate))
                continue;
            if (!best || preferredFormat(f.format, *best))
                best = f.format;
        }
    }
    return best;
}

// A rate as ALSA takes it (whole hertz), when the value is one.
std::optional<unsigned> wholeRate(double hz) {
    if (!std::isfinite(hz) || hz < 1 || hz > 4'000'000)
        return std::nullopt;
    const double r = std::round(hz);
    if (std::abs(hz - r) > 0.5)
        return std::nullopt;
    return unsigned(r);
}

} // namespace

AlsaHardware::AlsaHardware(std::unique_ptr<AlsaApi> api)
    : AlsaHardware(std::move(api), Options()) {}

AlsaHardware::AlsaHardware(std::unique_ptr<AlsaApi> api, Options options)
    : m_api(std::move(api)), m_procRoot(std::move(options.procRoot)),
      m_selfPid(options.selfPid > 0 ? options.selfPid : int(::getpid())),
      m_reserver(std::move(options.reserver)), m_clock(std::move(options.clock)) {
    if (!m_clock)
        m_clock = [] { return std::chrono::steady_clock::now(); };
    // "default" is asked once: asking on every poll would connect to the sound
    // server (or open the card) every few seconds.
    const auto probe = m_api->probe(kDefaultUid, {unsigned(kFallbackRate)});
    m_defaultOpens = probe.value.has_value();
    if (m_defaultOpens) {
        Entry e;
        e.id = m_nextId++;
        e.stream = m_nextId++;
        e.uid = kDefaultUid;
        e.isDefault = true;
        e.name = kDefaultName;
        e.rate = kFallbackRate;
        e.format = PcmFormat::FLOAT_LE;
        m_entries.push_back(std::move(e));
    }
    if (m_reserver) {
        m_reserver->onReleaseRequested = [this](int card) { return releaseForOther(card); };
        m_reserver->onLost = [this](int card) { cardLost(card); };
    }
    refresh();
}

AlsaHardware::~AlsaHardware() {
    for (Entry& e : m_entries)
        dropHold(e);
    if (m_reserver) {
        m_reserver->onReleaseRequested = nullptr;
        m_reserver->onLost = nullptr;
    }
}

// ---- the device list ---------------------------------------------------------

void AlsaHardware::rescan() {
    m_stale.store(true);
}

void AlsaHardware::refresh() const {
    const std::optional<QString> stamp = m_api->cardsStamp();
    const auto now = m_clock();
    const bool stampSays = stamp ? stamp != m_listedStamp : now - m_listedAt >= kRelistInterval;
    const bool asked = m_stale.exchange(false);
    if (!asked && !stampSays)
        return;
    m_listedStamp = stamp;
    m_listedAt = now;
    relist();
    // The cards changed, or the list is wanted afresh: a device that would
    // not open may open now. (A list made again only because no stamp can
    // be read says nothing of that.)
    if (asked || stamp)
        for (Entry& e : m_entries)
            e.probeFailedAt.reset();
}

void AlsaHardware::relist() const {
    std::set<QString> seen;
    for (const CardInfo& card : m_api->cards()) {
        // A card whose id cannot stand in a device name cannot be named again
        // after a restart either: leave it out.
        if (!isPlainCardId(card.id))
            continue;
        for (const PcmInfo& pcm : m_api->playbackPcms(card.number)) {
            const QString uid = hwUid(card.id, pcm.device);
            if (uid.isEmpty() || !seen.insert(uid).second)
                continue;
            auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                   [&uid](const Entry& e) { return e.present && e.uid == uid; });
            if (it == m_entries.end()) {
                Entry e;
                e.id = m_nextId++;
                e.stream = m_nextId++;
                e.uid = uid;
                m_entries.push_back(std::move(e));
                it = std::prev(m_entries.end());
            }
            it->card = card.number;
            it->device = pcm.device;
            it->cardId = card.id;
            it->name = displayName(card, pcm, uid);
            it->digital = isDigital(pcm);
        }
    }
    for (Entry& e : m_entries) {
        if (e.isDefault || !e.present || seen.count(e.uid))
            continue;
        e.present = false;
        const_cast<AlsaHardware*>(this)->dropHold(e);
    }
}

AlsaHardware::Entry* AlsaHardware::find(DeviceId id) const {
    if (id == kNoDevice)
        return nullptr;
    for (Entry& e : m_entries)
        if (e.present && e.id == id)
            return &e;
    return nullptr;
}

AlsaHardware::Entry* AlsaHardware::findStream(StreamId stream) const {
    if (stream == 0)
        return nullptr;
    for (Entry& e : m_entries)
        if (e.present && e.stream == stream)
            return &e;
    return nullptr;
}

std::optional<std::vector<DeviceId>> AlsaHardware::devices() const {
    refresh();
    std::vector<const Entry*> present;
    for (const Entry& e : m_entries)
        if (e.present)
            present.push_back(&e);
    // "default" first, then by card and device number: the order the system
    // numbers them now.
    std::stable_sort(present.begin(), present.end(), [](const Entry* a, const Entry* b) {
        if (a->isDefault != b->isDefault)
            return a->isDefault;
        return std::pair(a->card, a->device) < std::pair(b->card, b->device);
    });
    std::vector<DeviceId> ids;
    for (const Entry* e : present)
        ids.push_back(e->id);
    return ids;
}

std::optional<std::vector<StreamId>> AlsaHardware::outputStreams(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    return std::vector<StreamId>{e->stream};
}

std::optional<QString> AlsaHardware::uid(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    return e->uid;
}

std::optional<QString> AlsaHardware::name(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    return e->name;
}

std::optional<DeviceId> AlsaHardware::deviceForUid(const QString& uid) const {
    if (uid != kDefaultUid && !parseHwUid(uid))
        return std::nullopt;
    refresh();
    for (const Entry& e : m_entries)
        if (e.present && e.uid == uid)
            return e.id;
    return std::nullopt;
}

std::optional<DeviceId> AlsaHardware::defaultOutput() const {
    const auto ids = devices();
    if (!ids || ids->empty())
        return std::nullopt;
    return ids->front();
}

std::optional<QString> AlsaHardware::pcmName(DeviceId id) const {
    return uid(id);
}

// ---- rates and formats -------------------------------------------------------

const PcmCaps* AlsaHardware::capsOf(Entry& e, bool retryNow) const {
    if (e.caps)
        return &*e.caps;
    // Our own open PCM would answer "busy": without a kept answer there is none.
    if (e.isDefault || e.hold != 0 || e.openChannels > 0)
        return nullptr;
    const auto now = m_clock();
    if (!retryNow && e.probeFailedAt && now - *e.probeFailedAt < kProbeRetryInterval)
        return nullptr;
    auto result = m_api->probe(e.uid, probeRates());
    if (!result.value || result.value->formats.empty()) {
        e.probeFailedAt = now;
        return nullptr;
    }
    e.probeFailedAt.reset();
    e.caps = std::move(result.value);
    return &*e.caps;
}

double AlsaHardware::rateOf(const Entry& e) const {
    if (e.rate)
        return *e.rate;
    if (e.caps) {
        for (const unsigned r : {48000u, 44100u})
            if (takesRate(*e.caps, r))
                return r;
        for (const unsigned r : probeRates())
            if (takesRate(*e.caps, r))
                return r;
    }
    return kFallbackRate;
}

int AlsaHardware::channelsOf(const Entry& e) const {
    if (e.channels > 0)
        return e.channels;
    if (e.openChannels > 0)
        return e.openChannels;
    if (e.caps && e.caps->channelsMax > 0)
        return int(std::clamp(2u, e.caps->channelsMin, e.caps->channelsMax));
    return 2;
}

std::optional<PhysicalFormat> AlsaHardware::formatOf(const Entry& e) const {
    const double rate = rateOf(e);
    const int channels = channelsOf(e);
    std::optional<PcmFormat> format = e.format;
    if (!format && e.caps)
        format = bestFormat(*e.caps, unsigned(std::lround(rate)));
    if (format)
        return toPhysicalFormat(*format, rate, channels);
    // Not asked yet: the rate and channels are ours to choose, the depth is
    // the device's and unknown.
    PhysicalFormat unknown;
    unknown.rate = rate;
    unknown.channels = channels;
    return unknown;
}

std::vector<PhysicalFormat> AlsaHardware::formatsOf(const Entry& e, const PcmCaps& caps) const {
    std::set<unsigned> rates;
    for (const auto& f : caps.formats)
        rates.insert(f.rates.begin(), f.rates.end());
    std::vector<PhysicalFormat> list;
    const int channels = channelsOf(e);
    for (const unsigned rate : rates)
        for (const auto& f : caps.formats)
            if (formatTakesRate(caps, f.format, rate))
                list.push_back(toPhysicalFormat(f.format, rate, channels));
    return list;
}

bool AlsaHardware::isSharedDevice(DeviceId id) const {
    const Entry* e = find(id);
    return e && e->isDefault;
}

std::optional<double> AlsaHardware::nominalRate(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    return rateOf(*e);
}

bool AlsaHardware::setNominalRate(DeviceId id, double hz) {
    refresh();
    Entry* e = find(id);
    const auto rate = wholeRate(hz);
    if (!e || e->isDefault || !rate)
        return false;
    const PcmCaps* caps = capsOf(*e);
    if (!caps || !takesRate(*caps, *rate))
        return false;
    const bool changed = rateOf(*e) != double(*rate);
    e->rate = double(*rate);
    if (e->format && !formatTakesRate(*caps, *e->format, *rate))
        e->format = bestFormat(*caps, *rate);
    if (changed && onStreamChanged)
        onStreamChanged(id);
    return true;
}

std::optional<std::vector<RateRange>> AlsaHardware::availableNominalRates(DeviceId id) const {
    refresh();
    Entry* e = find(id);
    if (!e)
        return std::nullopt;
    if (e->isDefault) {
        const double r = rateOf(*e);
        return std::vector<RateRange>{{r, r}};
    }
    const PcmCaps* caps = capsOf(*e);
    if (!caps)
        return std::nullopt;
    if (caps->continuousRates)
        return std::vector<RateRange>{{double(caps->rateMin), double(caps->rateMax)}};
    std::set<unsigned> rates;
    for (const auto& f : caps->formats)
        rates.insert(f.rates.begin(), f.rates.end());
    std::vector<RateRange> ranges;
    for (const unsigned r : rates)
        ranges.push_back({double(r), double(r)});
    return ranges;
}

std::optional<PhysicalFormat> AlsaHardware::physicalFormat(StreamId stream) const {
    refresh();
    const Entry* e = findStream(stream);
    if (!e)
        return std::nullopt;
    return formatOf(*e);
}

bool AlsaHardware::setPhysicalFormat(StreamId stream, const PhysicalFormat& format) {
    refresh();
    Entry* e = findStream(stream);
    if (!e || e->isDefault)
        return false;
    const PcmCaps* caps = capsOf(*e);
    if (!caps)
        return false;
    // Another channel count the device takes: the same format at the count
    // the list is made for must be on it.
    const int channels = channelsOf(*e);
    PhysicalFormat asListed = format;
    if (format.channels > 0 && format.channels != channels &&
        format.bytesPerFrame % format.channels == 0 &&
        unsigned(format.channels) >= caps->channelsMin &&
        unsigned(format.channels) <= caps->channelsMax) {
        asListed.channels = channels;
        asListed.bytesPerFrame = format.bytesPerFrame / format.channels * channels;
    }
    const auto offered = formatsOf(*e, *caps);
    if (std::find(offered.begin(), offered.end(), asListed) == offered.end())
        return false;
    const auto sample = pcmFormatOf(format);
    if (!sample)
        return false;
    const bool changed =
        e->format != sample || rateOf(*e) != format.rate || channels != format.channels;
    e->format = sample;
    e->rate = format.rate;
    e->channels = format.channels;
    if (changed && onStreamChanged)
        onStreamChanged(e->id);
    return true;
}

std::optional<std::vector<PhysicalFormat>>
AlsaHardware::availablePhysicalFormats(StreamId stream) const {
    refresh();
    Entry* e = findStream(stream);
    if (!e)
        return std::nullopt;
    if (e->isDefault) {
        const auto f = formatOf(*e);
        return std::vector<PhysicalFormat>{*f};
    }
    const PcmCaps* caps = capsOf(*e);
    if (!caps)
        return std::nullopt;
    return formatsOf(*e, *caps);
}

} // namespace ql::platform::alsa
