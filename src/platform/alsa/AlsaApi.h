// The thin layer between the ALSA backend and alsa-lib: the few questions the
// backend asks of cards, PCMs and mixers, in plain values. AlsaLib answers them
// from the real library; tests answer them from a fake, so the backend's rules
// (names, ids, rates, volume mapping, exclusive use) run without a sound card.
//
// Contract for every implementation:
// - Listing cards and PCMs goes through the control interface only: it never
//   opens a PCM.
// - probe() and hold() open a PCM without blocking (a busy device answers
//   -EBUSY at once, never waits) and report failures as a negative errno.
// - Mixers are addressed by control name ("hw:CARD=<id>" or "default") and
//   elements by (name, index); channel 0 is front left (or mono), 1 front right.
// - Main thread only, like the hardware interface above it.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace ql::platform::alsa {

// The sample formats the output engine writes, in ALSA's own enumeration order
// (S16_LE, S24_LE, S32_LE, FLOAT_LE, S24_3LE), which is the order a device
// lists them in.
enum class PcmFormat { S16_LE, S24_LE, S32_LE, FLOAT_LE, S24_3LE };

struct CardInfo {
    int number = -1; // the kernel's card number: changes on replug
    QString id;      // the card's id ("PCH", "DAC"): survives replug
    QString name;    // short display name
};

struct PcmInfo {
    int card = -1;
    int device = -1;
    QString id;   // the PCM's id ("ALC892 Analog", "HDMI 0")
    QString name; // the PCM's display name
};

// What a PCM accepts for playback, as found by opening it.
struct PcmCaps {
    // Per format the device accepts: the probed rates it takes in that format,
    // ascending. A format the device refuses is absent.
    struct FormatRates {
        PcmFormat format = PcmFormat::S16_LE;
        std::vector<unsigned> rates;
    };
    std::vector<FormatRates> formats; // in PcmFormat order
    unsigned rateMin = 0;
    unsigned rateMax = 0;
    // Every rate between rateMin and rateMax is taken (not only the listed ones).
    bool continuousRates = false;
    unsigned channelsMin = 0;
    unsigned channelsMax = 0;
};

// A negative errno, or a value.
template <class T> struct AlsaResult {
    std::optional<T> value;
    int error = 0; // < 0 when value is empty
    static AlsaResult fail(int err) { return {std::nullopt, err}; }
};

// One simple-mixer element as the backend sees it.
struct MixerElement {
    QString name;
    unsigned index = 0;
    bool hasPlaybackVolume = false;
    // One volume for all channels (the channels cannot be set apart).
    bool volumeJoined = false;
    bool mono = false;     // a single channel
    bool hasLeft = false;  // front left
    bool hasRight = false; // front right
    long rawMin = 0;
    long rawMax = 0;
    // The dB range in hundredths of a dB, when the driver gives one.
    std::optional<long> dbMin;
    std::optional<long> dbMax;
};

// Opaque id of a PCM the layer keeps open for us; 0 is none.
using PcmHold = std::uint32_t;

class AlsaApi {
public:
    virtual ~AlsaApi() = default;

    // The cards present now, by ascending number. Never opens a PCM, but opens
    // the control device of every card number that may exist: costly enough
    // that it is asked only when cardsStamp() says the cards changed.
    virtual std::vector<CardInfo> cards() = 0;
    // A cheap sign of the set of cards, read without opening any control
    // device: it changes whenever a card comes or goes. None when it cannot
    // be read (then only a listing tells).
    virtual std::optional<QString> cardsStamp() = 0;
    // The playback PCM devices of a card, by ascending device number.
    virtual std::vector<PcmInfo> playbackPcms(int card) = 0;

    // Opens the PCM for playback (non-blocking), asks what it accepts among
    // the rates given and the engine's formats, and closes it again.
    virtual AlsaResult<PcmCaps> probe(const QString& pcm, const std::vector<unsigned>& rates) = 0;
    // Opens the PCM for playback (non-blocking) and keeps it open until
    // release(): nobody else can play through it meanwhile.
    virtual AlsaResult<PcmHold> hold(const QString& pcm) = 0;
    virtual void release(PcmHold hold) = 0;

    // The simple-mixer elements of a control, in the mixer's order; empty when
    // the control cannot be opened.
    virtual std::vector<MixerElement> mixerElements(const QString& ctl) = 0;
    virtual std::optional<long> rawVolume(const QString& ctl, const MixerElement& el,
                                          int channel) = 0;
    virtual bool setRawVolume(const QString& ctl, const MixerElement& el, int channel,
                              long raw) = 0;
    // The dB (hundredths) of a raw step, and the raw step nearest a dB value
    // in a direction (< 0 at or below, > 0 at or above).
    virtual std::optional<long> dbOfRaw(const QString& ctl, const MixerElement& el, long raw) = 0;
    virtual std::optional<long> rawOfDb(const QString& ctl, const MixerElement& el, long db,
                                        int dir) = 0;
};

} // namespace ql::platform::alsa
