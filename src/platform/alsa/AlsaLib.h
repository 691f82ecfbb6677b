// AlsaApi answered by alsa-lib itself. Only this file's source includes the
// ALSA headers.
//
// It silences alsa-lib's own error printing (the player keeps no log; every
// failure reaches the caller as a value). Mixers are opened once per control
// name and kept, non-blocking, with pending change events read before every
// question; a mixer whose card went away is opened again on next use. PCMs
// held for a claim stay open until release() or destruction. The cards'
// stamp is the change time of the device directory, where the kernel adds
// and removes a card's control node as it comes and goes.
//
// Thread: one thread at a time (the main thread).
#pragma once

#include "platform/alsa/AlsaApi.h"

#include <map>
#include <memory>

namespace ql::platform::alsa {

class AlsaLib final : public AlsaApi {
public:
    AlsaLib();
    ~AlsaLib() override;
    AlsaLib(const AlsaLib&) = delete;
    AlsaLib& operator=(const AlsaLib&) = delete;

    std::vector<CardInfo> cards() override;
    std::optional<QString> cardsStamp() override;
    std::vector<PcmInfo> playbackPcms(int card) override;
    AlsaResult<PcmCaps> probe(const QString& pcm, const std::vector<unsigned>& rates) override;
    AlsaResult<PcmHold> hold(const QString& pcm) override;
    void release(PcmHold hold) override;
    std::vector<MixerElement> mixerElements(const QString& ctl) override;
    std::optional<long> rawVolume(const QString& ctl, const MixerElement& el, int channel) override;
    bool setRawVolume(const QString& ctl, const MixerElement& el, int channel, long raw) override;
    std::optional<long> dbOfRaw(const QString& ctl, const MixerElement& el, long raw) override;
    std::optional<long> rawOfDb(const QString& ctl, const MixerElement& el, long db,
                                int dir) override;

private:
    struct Mixer;
    Mixer* mixer(const QString& ctl);
    void* element(const QString& ctl, const MixerElement& el); // snd_mixer_elem_t*

    std::map<QString, std::unique_ptr<Mixer>> m_mixers;
    std::map<PcmHold, void*> m_holds; // snd_pcm_t*
    PcmHold m_nextHold = 1;
};

} // namespace ql::platform::alsa
