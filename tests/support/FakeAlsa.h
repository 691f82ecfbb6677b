// Guards against: (fixture) a fake alsa-lib that answers unlike the real one.
// A fake alsa-lib for the ALSA backend's tests: cards, PCMs, what each PCM
// accepts, which are busy, and mixers with stepped volume controls, all as
// data the test edits while the backend runs. It counts every PCM open and
// every listing of the cards (which opens control devices on real hardware),
// so a test can prove that a poll opened none. The cards' stamp follows the
// cards and PCMs the test lists, as the device directory follows the
// kernel's device nodes.
//
// Mixer controls step like real ones: raw steps rawMin…rawMax, each step a
// fixed number of hundredths of a dB (the dB range spread evenly), with the
// lowest step "muted" when `mutedMin` is set.
#pragma once

#include "platform/alsa/AlsaApi.h"
#include "platform/alsa/AlsaVolumeMap.h"

#include <cerrno>
#include <cmath>
#include <map>
#include <memory>
#include <set>

namespace ql::test {

using namespace ql::platform::alsa;

struct FakePcm {
    PcmInfo info;
    PcmCaps caps;
    int openError = 0; // negative errno every open answers, 0 = opens
};

struct FakeControl {
    MixerElement element;
    long raw[2] = {0, 0}; // channels 0 and 1
    bool mutedMin = false;
    int failWrites = 0; // > 0: refuse writes

    long dbOf(long r) const {
        const long span = element.rawMax - element.rawMin;
        if (!element.dbMin || !element.dbMax || span <= 0)
            return 0;
        if (mutedMin && r <= element.rawMin)
            return kDbMuted;
        const long lo = mutedMin ? realDbMin : *element.dbMin;
        const long steps = mutedMin ? span - 1 : span;
        const long from = mutedMin ? element.rawMin + 1 : element.rawMin;
        return steps <= 0 ? *element.dbMax : lo + (r - from) * (*element.dbMax - lo) / steps;
    }
    long realDbMin = 0; // the lowest audible step's dB when mutedMin is set
};

struct FakeCard {
    CardInfo info;
    std::vector<FakePcm> pcms;
    std::vector<FakeControl> mixer;
};

struct FakeAlsaState {
    std::vector<FakeCard> cards;
    bool defaultOpens = false;
    std::vector<FakeControl> defaultMixer;
    int pcmOpens = 0;                 // every probe and hold
    int cardListings = 0;             // every cards(): each listing of the cards
    bool stampUnreadable = false;     // cardsStamp() answers none
    std::map<PcmHold, QString> holds; // open now
    PcmHold nextHold = 1;
    std::map<QString, int> busyCountdown; // PCM -> opens that still answer EBUSY

    FakeCard* card(const QString& id) {
        for (auto& c : cards)
            if (c.info.id == id)
                return &c;
        return nullptr;
    }
    FakePcm* pcm(const QString& name) {
        for (auto& c : cards)
            for (auto& p : c.pcms)
                if (name == QStringLiteral("hw:CARD=%1,DEV=%2").arg(c.info.id).arg(p.info.device))
                    return &p;
        return nullptr;
    }
    std::vector<FakeControl>* mixer(const QString& ctl) {
        if (ctl == QLatin1String("default"))
            return &defaultMixer;
        for (auto& c : cards)
            if (ctl == QStringLiteral("hw:CARD=%1").arg(c.info.id))
                return &c.mixer;
        return nullptr;
    }
    FakeControl* control(const QString& ctl, const MixerElement& el) {
        auto* m = mixer(ctl);
        if (!m)
            return nullptr;
        for (auto& c : *m)
            if (c.element.name == el.name && c.element.index == el.index)
                return &c;
        return nullptr;
    }
    bool isHeld(const QString& name) const {
        for (const auto& [id, n] : holds)
            if (n == name)
                return true;
        return false;
    }
};

class FakeAlsa final : public AlsaApi {
public:
    explicit FakeAlsa(std::shared_ptr<FakeAlsaState> state) : m_s(std::move(state)) {}

    std::vector<CardInfo> cards() override {
        ++m_s->cardListings;
        std::vector<CardInfo> list;
        for (const auto& c : m_s->cards)
            list.push_back(c.info);
        return list;
    }
    std::optional<QString> cardsStamp() override {
        if (m_s->stampUnreadable)
            return std::nullopt;
        QString stamp;
        for (const auto& c : m_s->cards) {
            stamp += QStringLiteral("%1=%2:").arg(c.info.number).arg(c.info.id);
            for (const auto& p : c.pcms)
                stamp += QString::number(p.info.device) + u',';
        }
        return stamp;
    }
    std::vector<PcmInfo> playbackPcms(int card) override {
        std::vector<PcmInfo> list;
        for (const auto& c : m_s->cards)
            if (c.info.number == card)
                for (const auto& p : c.pcms)
                    list.push_back(p.info);
        return list;
    }
    AlsaResult<PcmCaps> probe(const QString& pcm, const std::vector<unsigned>& rates) override {
        const int err = open(pcm);
        if (err < 0)
            return AlsaResult<PcmCaps>::fail(err);
        if (pcm == QLatin1String("default")) {
            PcmCaps caps;
            caps.formats.push_back({PcmFormat::FLOAT_LE, rates});
            return {caps, 0};
        }
        PcmCaps caps = m_s->pcm(pcm)->caps;
        for (auto& f : caps.formats) {
            std::vector<unsigned> kept;
            for (unsigned r : f.rates)
                if (std::find(rates.begin(), rates.end(), r) != rates.end())
                    kept.push_back(r);
            f.rates = kept;
        }
        return {caps, 0};
    }
    AlsaResult<PcmHold> hold(const QString& pcm) override {
        const int err = open(pcm);
        if (err < 0)
            return AlsaResult<PcmHold>::fail(err);
        const PcmHold id = m_s->nextHold++;
        m_s->holds.emplace(id, pcm);
        return {id, 0};
    }
    void release(PcmHold hold) override { m_s->holds.erase(hold); }

    std::vector<MixerElement> mixerElements(const QString& ctl) override {
        std::vector<MixerElement> list;
        if (auto* m = m_s->mixer(ctl))
            for (const auto& c : *m)
                list.push_back(c.element);
        return list;
    }
    std::optional<long> rawVolume(const QString& ctl, const MixerElement& el, int ch) override {
        auto* c = m_s->control(ctl, el);
        if (!c || ch < 0 || ch > 1)
            return std::nullopt;
        return c->raw[c->element.volumeJoined || c->element.mono ? 0 : ch];
    }
    bool setRawVolume(const QString& ctl, const MixerElement& el, int ch, long raw) override {
        auto* c = m_s->control(ctl, el);
        if (!c || ch < 0 || ch > 1 || c->failWrites > 0)
            return false;
        raw = std::clamp(raw, c->element.rawMin, c->element.rawMax);
        if (c->element.volumeJoined || c->element.mono)
            c->raw[0] = c->raw[1] = raw;
        else
            c->raw[ch] = raw;
        return true;
    }
    std::optional<long> dbOfRaw(const QString& ctl, const MixerElement& el, long raw) override {
        auto* c = m_s->control(ctl, el);
        if (!c || !c->element.dbMin)
            return std::nullopt;
        return c->dbOf(std::clamp(raw, c->element.rawMin, c->element.rawMax));
    }
    std::optional<long> rawOfDb(const QString& ctl, const MixerElement& el, long db,
                                int dir) override {
        auto* c = m_s->control(ctl, el);
        if (!c || !c->element.dbMin)
            return std::nullopt;
        const long lo = c->element.rawMin;
        const long hi = c->element.rawMax;
        if (dir < 0) {
            for (long r = hi; r >= lo; --r)
                if (c->dbOf(r) <= db)
                    return r;
            return lo;
        }
        for (long r = lo; r <= hi; ++r)
            if (c->dbOf(r) >= db)
                return r;
        return hi;
    }

private:
    int open(const QString& pcm) {
        ++m_s->pcmOpens;
        if (auto it = m_s->busyCountdown.find(pcm); it != m_s->busyCountdown.end()) {
            if (it->second > 0) {
                --it->second;
                return -EBUSY;
            }
        }
        if (pcm == QLatin1String("default"))
            return m_s->defaultOpens ? 0 : -ENOENT;
        FakePcm* p = m_s->pcm(pcm);
        if (!p)
            return -ENOENT;
        if (p->openError < 0)
            return p->openError;
        // A hw PCM takes one opener.
        if (m_s->isHeld(pcm))
            return -EBUSY;
        return 0;
    }

    std::shared_ptr<FakeAlsaState> m_s;
};

// Builders for common hardware.

inline PcmCaps capsOf(std::vector<PcmFormat> formats, std::vector<unsigned> rates,
                      unsigned chMin = 2, unsigned chMax = 2) {
    PcmCaps c;
    for (auto f : formats)
        c.formats.push_back({f, rates});
    c.rateMin = rates.empty() ? 0 : rates.front();
    c.rateMax = rates.empty() ? 0 : rates.back();
    c.channelsMin = chMin;
    c.channelsMax = chMax;
    return c;
}

inline FakePcm pcm(int card, int device, const QString& id, PcmCaps caps) {
    FakePcm p;
    p.info = {card, device, id, id};
    p.caps = std::move(caps);
    return p;
}

// A stereo control: raw 0…steps, spread over dbMin…dbMax (hundredths).
inline FakeControl stereoControl(const QString& name, long steps, std::optional<long> dbMin,
                                 std::optional<long> dbMax) {
    FakeControl c;
    c.element.name = name;
    c.element.hasPlaybackVolume = true;
    c.element.hasLeft = c.element.hasRight = true;
    c.element.rawMin = 0;
    c.element.rawMax = steps;
    c.element.dbMin = dbMin;
    c.element.dbMax = dbMax;
    c.raw[0] = c.raw[1] = steps;
    return c;
}

// The same with its lowest step muted: raw 0 is silence, 1…steps spread over
// audibleMin…dbMax, and the element reports a muted minimum as ALSA does.
inline FakeControl mutedControl(const QString& name, long steps, long audibleMin, long dbMax) {
    FakeControl c = stereoControl(name, steps, kDbMuted, dbMax);
    c.mutedMin = true;
    c.realDbMin = audibleMin;
    return c;
}

} // namespace ql::test
