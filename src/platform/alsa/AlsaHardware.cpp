#include "platform/alsa/AlsaHardware.h"

#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/AlsaVolumeMap.h"
#include "platform/alsa/CardReserver.h"
#include "platform/alsa/PcmHolders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <set>
#include <thread>

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

bool formatTakesRate(const PcmCaps& caps, SampleFormat format, unsigned rate) {
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
std::optional<SampleFormat> bestFormat(const PcmCaps& caps, unsigned rate) {
    std::optional<SampleFormat> best;
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
      m_reserver(std::move(options.reserver)) {
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
        e.format = SampleFormat::FLOAT_LE;
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

void AlsaHardware::refresh() const {
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

const PcmCaps* AlsaHardware::capsOf(Entry& e) const {
    if (e.caps)
        return &*e.caps;
    // Our own open PCM would answer "busy": without a kept answer there is none.
    if (e.isDefault || e.hold != 0 || e.openChannels > 0)
        return nullptr;
    auto result = m_api->probe(e.uid, probeRates());
    if (!result.value || result.value->formats.empty())
        return nullptr;
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
    if (e.openChannels > 0)
        return e.openChannels;
    if (e.caps && e.caps->channelsMax > 0)
        return int(std::clamp(2u, e.caps->channelsMin, e.caps->channelsMax));
    return 2;
}

std::optional<PhysicalFormat> AlsaHardware::formatOf(const Entry& e) const {
    const double rate = rateOf(e);
    const int channels = channelsOf(e);
    std::optional<SampleFormat> format = e.format;
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
    const auto offered = formatsOf(*e, *caps);
    if (std::find(offered.begin(), offered.end(), format) == offered.end())
        return false;
    const auto sample = sampleFormatOf(format);
    if (!sample)
        return false;
    const bool changed = e->format != sample || rateOf(*e) != format.rate;
    e->format = sample;
    e->rate = format.rate;
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

// ---- exclusive use -----------------------------------------------------------

bool AlsaHardware::heldByUs(const Entry& e) const {
    return e.hold != 0 || e.openChannels > 0 ||
           pidHolds(m_procRoot, m_selfPid, pcmPlaybackNode(e.card, e.device));
}

std::optional<int> AlsaHardware::exclusiveOwner(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    if (e->isDefault)
        return kNoOwner;
    if (heldByUs(*e))
        return m_selfPid;
    const auto holders = pcmHolders(m_procRoot, pcmPlaybackNode(e->card, e->device));
    for (const int pid : holders)
        if (pid != m_selfPid)
            return pid;
    // Nobody we can see: open it for a moment to learn whether it is busy.
    const auto test = m_api->hold(e->uid);
    if (test.value) {
        m_api->release(*test.value);
        return kNoOwner;
    }
    if (test.error == -EBUSY)
        return kUnknownOwner;
    return std::nullopt;
}

bool AlsaHardware::setExclusiveOwner(DeviceId id, int pid) {
    refresh();
    Entry* e = find(id);
    if (!e || e->isDefault)
        return false;

    if (pid == kNoOwner) {
        if (e->hold == 0 && !e->reserved && e->openChannels == 0) {
            // Not ours: only its holder can let it go.
            const auto holders = pcmHolders(m_procRoot, pcmPlaybackNode(e->card, e->device));
            return std::none_of(holders.begin(), holders.end(),
                                [this](int p) { return p != m_selfPid; });
        }
        if (e->openChannels > 0 && onReleaseStream)
            onReleaseStream(id);
        dropHold(*e);
        return true;
    }

    if (pid != m_selfPid)
        return false;
    if (e->hold != 0 || e->openChannels > 0)
        return true;

    bool reservedNow = false;
    if (!reserveCard(*e, reservedNow))
        return false;
    const auto opened = openHeld(*e, reservedNow);
    if (!opened.value) {
        if (reservedNow)
            dropHold(*e);
        return false;
    }
    e->hold = *opened.value;
    return true;
}

bool AlsaHardware::reserveCard(Entry& e, bool& now) {
    now = false;
    if (!m_reserver || e.reserved || e.isDefault)
        return true;
    switch (m_reserver->reserve(e.card, e.name)) {
    case CardReserver::Outcome::Refused:
        return false;
    case CardReserver::Outcome::Acquired:
        e.reserved = true;
        now = true;
        return true;
    case CardReserver::Outcome::Unavailable:
        return true;
    }
    return true;
}

AlsaResult<PcmHold> AlsaHardware::openHeld(Entry& e, bool patient) {
    auto opened = m_api->hold(e.uid);
    // A server that has just agreed to let go may still be closing the card:
    // give it a few short moments, never an open that waits.
    for (int i = 0; patient && !opened.value && opened.error == -EBUSY && i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        opened = m_api->hold(e.uid);
    }
    return opened;
}

bool AlsaHardware::prepareStream(DeviceId id) {
    refresh();
    Entry* e = find(id);
    if (!e)
        return false;
    if (e->isDefault)
        return true;
    if (e->hold != 0) {
        // Our claim keeps the card reserved; the stream opens in its place.
        m_api->release(e->hold);
        e->hold = 0;
    }
    bool reservedNow = false;
    if (!reserveCard(*e, reservedNow))
        return false;
    // The probe is an open: a server that has just let go may need a moment.
    const PcmCaps* caps = capsOf(*e);
    for (int i = 0; !caps && reservedNow && i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        caps = capsOf(*e);
    }
    if (!caps) {
        if (reservedNow)
            dropHold(*e);
        return false;
    }
    return true;
}

void AlsaHardware::endStream(DeviceId id) {
    Entry* e = find(id);
    if (e && e->hold == 0 && e->openChannels == 0)
        dropHold(*e);
}

void AlsaHardware::dropHold(Entry& e) {
    if (e.hold != 0) {
        m_api->release(e.hold);
        e.hold = 0;
    }
    if (!e.reserved)
        return;
    e.reserved = false;
    // The reservation is the card's; other devices of the card may still use it.
    const bool stillUsed = std::any_of(m_entries.begin(), m_entries.end(), [&e](const Entry& o) {
        return &o != &e && o.present && o.card == e.card && o.reserved;
    });
    if (!stillUsed && m_reserver)
        m_reserver->release(e.card);
}

bool AlsaHardware::releaseForOther(int card) {
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        // A playing stream we cannot close keeps the card.
        if (e.openChannels > 0 && !onReleaseStream)
            return false;
    }
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        if (e.openChannels > 0)
            onReleaseStream(e.id);
        if (e.hold != 0) {
            m_api->release(e.hold);
            e.hold = 0;
        }
    }
    return true;
}

void AlsaHardware::cardLost(int card) {
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        e.reserved = false; // the name is gone already: nothing to give back
        if (e.openChannels > 0 && onReleaseStream)
            onReleaseStream(e.id);
        if (e.hold != 0) {
            m_api->release(e.hold);
            e.hold = 0;
        }
    }
}

bool AlsaHardware::anyDeviceUsable() {
    if (m_defaultOpens)
        return true;
    refresh();
    for (Entry& e : m_entries) {
        if (!e.present || e.isDefault)
            continue;
        if (e.hold != 0 || e.openChannels > 0)
            return true;
        const auto result = m_api->probe(e.uid, probeRates());
        if (result.value && !result.value->formats.empty()) {
            e.caps = result.value;
            return true;
        }
        // Busy: a real card another program plays through, which can be claimed.
        if (result.error == -EBUSY)
            return true;
    }
    return false;
}

QString AlsaHardware::volumeElementName(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return {};
    const auto m = mixerOf(*e);
    return m ? m->element.name : QString();
}

PcmHold AlsaHardware::heldPcm(DeviceId id) const {
    const Entry* e = find(id);
    return e ? e->hold : 0;
}

void AlsaHardware::noteStreamOpened(DeviceId id, double rate, SampleFormat format, int channels) {
    Entry* e = find(id);
    if (!e)
        return;
    e->rate = rate;
    e->format = format;
    e->openChannels = std::max(1, channels);
}

void AlsaHardware::noteStreamClosed(DeviceId id) {
    if (Entry* e = find(id))
        e->openChannels = 0;
}

} // namespace ql::platform::alsa
