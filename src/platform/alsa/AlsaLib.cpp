#include "platform/alsa/AlsaLib.h"

#include "platform/alsa/AlsaNative.h"

#include <poll.h>
#include <sys/stat.h>

#include <cerrno>

#include <vector>

namespace ql::platform::alsa {

namespace {

// Where the kernel keeps the cards' device nodes (alsa-lib's own default).
constexpr const char* kDeviceDir = "/dev/snd";

snd_mixer_selem_channel_id_t channelId(int channel) {
    return channel == 1 ? SND_MIXER_SCHN_FRONT_RIGHT : SND_MIXER_SCHN_FRONT_LEFT;
}

QString text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

struct CtlCloser {
    void operator()(snd_ctl_t* c) const { snd_ctl_close(c); }
};
using CtlPtr = std::unique_ptr<snd_ctl_t, CtlCloser>;

CtlPtr openCtl(int card) {
    snd_ctl_t* ctl = nullptr;
    const QByteArray name = QByteArray("hw:") + QByteArray::number(card);
    if (snd_ctl_open(&ctl, name.constData(), SND_CTL_NONBLOCK) < 0)
        return nullptr;
    return CtlPtr(ctl);
}

struct PcmCloser {
    void operator()(snd_pcm_t* p) const { snd_pcm_close(p); }
};
struct ParamsFree {
    void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};

} // namespace

struct AlsaLib::Mixer {
    snd_mixer_t* handle = nullptr;
    ~Mixer() {
        if (handle)
            snd_mixer_close(handle);
    }
};

AlsaLib::AlsaLib() {
    silenceAlsaErrors();
}

AlsaLib::~AlsaLib() {
    for (auto& [id, pcm] : m_holds)
        snd_pcm_close(static_cast<snd_pcm_t*>(pcm));
}

std::vector<CardInfo> AlsaLib::cards() {
    std::vector<CardInfo> list;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        const CtlPtr ctl = openCtl(card);
        if (!ctl)
            continue;
        snd_ctl_card_info_t* info = nullptr;
        snd_ctl_card_info_alloca(&info);
        if (snd_ctl_card_info(ctl.get(), info) < 0)
            continue;
        list.push_back(
            {card, text(snd_ctl_card_info_get_id(info)), text(snd_ctl_card_info_get_name(info))});
    }
    return list;
}

std::optional<QString> AlsaLib::cardsStamp() {
    struct stat st {};
    if (::stat(kDeviceDir, &st) != 0) {
        // No directory, no card; any other failure tells nothing.
        if (errno == ENOENT)
            return QStringLiteral("none");
        return std::nullopt;
    }
    return QStringLiteral("%1:%2.%3:%4.%5")
        .arg(qulonglong(st.st_ino))
        .arg(qlonglong(st.st_mtim.tv_sec))
        .arg(qlonglong(st.st_mtim.tv_nsec))
        .arg(qlonglong(st.st_ctim.tv_sec))
        .arg(qlonglong(st.st_ctim.tv_nsec));
}

std::vector<PcmInfo> AlsaLib::playbackPcms(int card) {
    std::vector<PcmInfo> list;
    const CtlPtr ctl = openCtl(card);
    if (!ctl)
        return list;
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_alloca(&info);
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl.get(), &device) == 0 && device >= 0) {
        snd_pcm_info_set_device(info, unsigned(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, SND_PCM_STREAM_PLAYBACK);
        // A capture-only device answers ENOENT here.
        if (snd_ctl_pcm_info(ctl.get(), info) < 0)
            continue;
        list.push_back(
            {card, device, text(snd_pcm_info_get_id(info)), text(snd_pcm_info_get_name(info))});
    }
    return list;
}

AlsaResult<PcmCaps> AlsaLib::probe(const QString& pcm, const std::vector<unsigned>& rates) {
    snd_pcm_t* raw = nullptr;
    const int err =
        snd_pcm_open(&raw, pcm.toUtf8().constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0)
        return AlsaResult<PcmCaps>::fail(err);
    const std::unique_ptr<snd_pcm_t, PcmCloser> handle(raw);

    snd_pcm_hw_params_t* p = nullptr;
    if (snd_pcm_hw_params_malloc(&p) < 0)
        return AlsaResult<PcmCaps>::fail(-ENOMEM);
    const std::unique_ptr<snd_pcm_hw_params_t, ParamsFree> any(p);
    if (const int e = snd_pcm_hw_params_any(raw, p); e < 0)
        return AlsaResult<PcmCaps>::fail(e);

    PcmCaps caps;
    int dir = 0;
    snd_pcm_hw_params_get_rate_min(p, &caps.rateMin, &dir);
    snd_pcm_hw_params_get_rate_max(p, &caps.rateMax, &dir);
    snd_pcm_hw_params_get_channels_min(p, &caps.channelsMin);
    snd_pcm_hw_params_get_channels_max(p, &caps.channelsMax);

    snd_pcm_hw_params_t* q = nullptr;
    if (snd_pcm_hw_params_malloc(&q) < 0)
        return AlsaResult<PcmCaps>::fail(-ENOMEM);
    const std::unique_ptr<snd_pcm_hw_params_t, ParamsFree> narrowed(q);
    for (const PcmFormat f : {PcmFormat::S16_LE, PcmFormat::S24_LE, PcmFormat::S32_LE,
                              PcmFormat::FLOAT_LE, PcmFormat::S24_3LE}) {
        if (snd_pcm_hw_params_test_format(raw, p, alsaFormat(f)) < 0)
            continue;
        // Some devices take a format only at some rates: ask with it fixed.
        snd_pcm_hw_params_copy(q, p);
        if (snd_pcm_hw_params_set_format(raw, q, alsaFormat(f)) < 0)
            continue;
        PcmCaps::FormatRates fr{f, {}};
        for (const unsigned r : rates)
            if (snd_pcm_hw_params_test_rate(raw, q, r, 0) == 0)
                fr.rates.push_back(r);
        if (!fr.rates.empty())
            caps.formats.push_back(std::move(fr));
    }

    // Rates between the listed ones tell a continuous range from a list.
    int tested = 0;
    bool allTaken = true;
    for (const unsigned odd : {44101u, 96001u}) {
        if (odd < caps.rateMin || odd > caps.rateMax)
            continue;
        ++tested;
        allTaken = allTaken && snd_pcm_hw_params_test_rate(raw, p, odd, 0) == 0;
    }
    caps.continuousRates = tested > 0 && allTaken;
    return {std::move(caps), 0};
}

AlsaResult<PcmHold> AlsaLib::hold(const QString& pcm) {
    snd_pcm_t* raw = nullptr;
    const int err =
        snd_pcm_open(&raw, pcm.toUtf8().constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0)
        return AlsaResult<PcmHold>::fail(err);
    const PcmHold id = m_nextHold++;
    m_holds.emplace(id, raw);
    return {id, 0};
}

void AlsaLib::release(PcmHold hold) {
    const auto it = m_holds.find(hold);
    if (it == m_holds.end())
        return;
    snd_pcm_close(static_cast<snd_pcm_t*>(it->second));
    m_holds.erase(it);
}

AlsaLib::Mixer* AlsaLib::mixer(const QString& ctl) {
    auto it = m_mixers.find(ctl);
    if (it != m_mixers.end()) {
        snd_mixer_t* h = it->second->handle;
        // Read the changes others made since we last looked, without waiting.
        const int n = snd_mixer_poll_descriptors_count(h);
        std::vector<pollfd> fds(std::size_t(std::max(n, 0)));
        bool alive = n >= 0;
        if (n > 0 && snd_mixer_poll_descriptors(h, fds.data(), unsigned(n)) == n &&
            ::poll(fds.data(), nfds_t(n), 0) > 0) {
            unsigned short revents = 0;
            snd_mixer_poll_descriptors_revents(h, fds.data(), unsigned(n), &revents);
            if (revents & (POLLERR | POLLNVAL | POLLHUP))
                alive = false;
            else if (snd_mixer_handle_events(h) < 0)
                alive = false;
        }
        if (alive)
            return it->second.get();
        m_mixers.erase(it); // the card went away: open it afresh
    }

    auto m = std::make_unique<Mixer>();
    if (snd_mixer_open(&m->handle, 0) < 0) {
        m->handle = nullptr;
        return nullptr;
    }
    const QByteArray name = ctl.toUtf8();
    if (snd_mixer_attach(m->handle, name.constData()) < 0 ||
        snd_mixer_selem_register(m->handle, nullptr, nullptr) < 0 || snd_mixer_load(m->handle) < 0)
        return nullptr;
    snd_hctl_t* hctl = nullptr;
    if (snd_mixer_get_hctl(m->handle, name.constData(), &hctl) == 0)
        snd_hctl_nonblock(hctl, 1);
    return m_mixers.emplace(ctl, std::move(m)).first->second.get();
}

void* AlsaLib::element(const QString& ctl, const MixerElement& el) {
    Mixer* m = mixer(ctl);
    if (!m)
        return nullptr;
    snd_mixer_selem_id_t* sid = nullptr;
    snd_mixer_selem_id_alloca(&sid);
    snd_mixer_selem_id_set_name(sid, el.name.toUtf8().constData());
    snd_mixer_selem_id_set_index(sid, el.index);
    return snd_mixer_find_selem(m->handle, sid);
}

std::vector<MixerElement> AlsaLib::mixerElements(const QString& ctl) {
    std::vector<MixerElement> list;
    Mixer* m = mixer(ctl);
    if (!m)
        return list;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(m->handle); e; e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_is_active(e))
            continue;
        MixerElement el;
        el.name = text(snd_mixer_selem_get_name(e));
        el.index = snd_mixer_selem_get_index(e);
        el.hasPlaybackVolume = snd_mixer_selem_has_playback_volume(e) != 0;
        if (el.hasPlaybackVolume) {
            el.volumeJoined = snd_mixer_selem_has_playback_volume_joined(e) != 0;
            el.mono = snd_mixer_selem_is_playback_mono(e) != 0;
            el.hasLeft = snd_mixer_selem_has_playback_channel(e, SND_MIXER_SCHN_FRONT_LEFT) != 0;
            el.hasRight = snd_mixer_selem_has_playback_channel(e, SND_MIXER_SCHN_FRONT_RIGHT) != 0;
            snd_mixer_selem_get_playback_volume_range(e, &el.rawMin, &el.rawMax);
            long dbMin = 0;
            long dbMax = 0;
            if (snd_mixer_selem_get_playback_dB_range(e, &dbMin, &dbMax) == 0 && dbMax > dbMin) {
                el.dbMin = dbMin;
                el.dbMax = dbMax;
            }
        }
        list.push_back(std::move(el));
    }
    return list;
}

std::optional<long> AlsaLib::rawVolume(const QString& ctl, const MixerElement& el, int channel) {
    auto* e = static_cast<snd_mixer_elem_t*>(element(ctl, el));
    long v = 0;
    if (!e || snd_mixer_selem_get_playback_volume(e, channelId(channel), &v) < 0)
        return std::nullopt;
    return v;
}

bool AlsaLib::setRawVolume(const QString& ctl, const MixerElement& el, int channel, long raw) {
    auto* e = static_cast<snd_mixer_elem_t*>(element(ctl, el));
    return e && snd_mixer_selem_set_playback_volume(e, channelId(channel), raw) == 0;
}

std::optional<long> AlsaLib::dbOfRaw(const QString& ctl, const MixerElement& el, long raw) {
    auto* e = static_cast<snd_mixer_elem_t*>(element(ctl, el));
    long db = 0;
    if (!e || snd_mixer_selem_ask_playback_vol_dB(e, raw, &db) < 0)
        return std::nullopt;
    return db;
}

std::optional<long> AlsaLib::rawOfDb(const QString& ctl, const MixerElement& el, long db, int dir) {
    auto* e = static_cast<snd_mixer_elem_t*>(element(ctl, el));
    long raw = 0;
    if (!e || snd_mixer_selem_ask_playback_dB_vol(e, db, dir, &raw) < 0)
        return std::nullopt;
    return raw;
}

} // namespace ql::platform::alsa
