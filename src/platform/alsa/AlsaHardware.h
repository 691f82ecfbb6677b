// The audio hardware on ALSA: real cards behind the AudioHardware interface.
//
// Devices: every playback PCM of every card, UID "hw:CARD=<card id>,DEV=<n>"
// (see AlsaUid.h), named "<card name>: <PCM name>"; plus the pseudo-device
// "default" (the sound server's shared device, or alsa-lib's own default when
// no server runs), listed first and the system default output, when it opened
// at construction. Without it the first `hw:` device is the default output.
// Every query answers from the list kept here, which is made again through
// the control interface only when something says the cards changed: their
// stamp (read without opening a control device, on every query), a rescan()
// (the device menu opening, a device failing), or, where the stamp cannot be
// read, a few seconds passing. Listing opens a control device for every card
// number that may exist, far too costly for the many queries a playing track
// makes each second. So devices still come and go between two calls; a
// device that disappears and comes back gets new ids. Listing, names, rates,
// formats and volumes never open a PCM: only the on-demand questions below do.
//
// Rates and formats: ALSA has no device-wide rate. The nominal rate and the
// physical format of a `hw:` device are those our engine opens its stream
// with. What the device accepts is asked on demand (availableNominalRates,
// availablePhysicalFormats, and the sets that check against it) by opening the
// PCM for a moment (snd_pcm_hw_params_test_*), and kept for the device's life;
// while we hold the PCM ourselves the kept answer is used, and without one the
// question fails. Until the device has been asked, it reports 48 kHz and a
// physical format of unknown depth (bits 0) in stereo. On "default" the
// format is fixed (32-bit float stereo, the sound server converts) and the
// rate is the one our stream opened at (48 kHz before): the engine opens it
// at the rate of the track that starts it, so the server converts at most
// once. Its sets fail and its lists hold that one entry.
//
// Volume: the card's main simple-mixer element, "Master", else "PCM", else the
// first with a playback volume (on "default": the default control's). Element
// 0 sets all its channels; 1 and 2 are front left and right when the element
// has them apart. Scalars map to dB as AlsaVolumeMap says; a value read back
// while the mixer still holds the step we wrote is the value we were given, so
// volume(setVolume(x)) == x even on coarse controls. Digital outputs (HDMI,
// S/PDIF, DisplayPort PCMs) have no hardware volume: the card's analog
// "Master" does not act on them.
//
// Exclusive use (only `hw:` devices; "default" is shared by nature and always
// free): the owner is us while we hold the PCM (a claim, or our engine's open
// stream, seen in /proc/self/fd); else another process holding its device node
// (PcmHolders); else, when the node is busy but its holder is hidden from us,
// kUnknownOwner; else kNoOwner. setExclusiveOwner(id, our pid) asks the card's
// reservation holder (a sound server) to give it up, then opens the PCM and
// keeps it open; setExclusiveOwner(id, kNoOwner) closes it and gives the
// reservation back, and fails while our engine's stream holds the device: a
// give-back (which every pause makes) never closes the stream we play on. A
// busy PCM fails at once (the open never blocks).
//
// The output sink tells this object what it opened (noteStreamOpened /
// noteStreamClosed). After a successful rate or format set the controller
// asks the engine to reopen the device's stream, so a set takes effect at
// once (onStreamChanged is there for a backend that must be told instead).
// A claim's PCM is never handed to the engine (heldPcm only tells whether a
// claim holds one): nothing in the program claims a device to play on (the
// controller only gives claims back), so the engine always opens its own.
// onReleaseStream closes our engine's stream on demand when nothing plays on
// it, so a sound server's request for the card is granted while we are
// paused or idle and refused while we play.
//
// Thread: main thread only. Implemented in AlsaHardware.cpp (devices, rates,
// formats), AlsaHardwareVolume.cpp and AlsaHardwareClaims.cpp (exclusive use,
// reservations, our own stream).
#pragma once

#include "platform/AudioHardware.h"
#include "platform/alsa/AlsaApi.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace ql::platform::alsa {

class CardReserver;

// The owner reported for a busy device whose holder we cannot see (another
// user's process): not free, not us.
constexpr int kUnknownOwner = 0;

// Rates asked of a device when it is probed, ascending.
const std::vector<unsigned>& probeRates();

class AlsaHardware final : public AudioHardware {
public:
    struct Options {
        QString procRoot = QStringLiteral("/proc");
        int selfPid = 0; // 0 = this process
        // Asked before a claim opens a card; null = nobody to ask.
        std::unique_ptr<CardReserver> reserver;
        // The time, for the relisting of a list whose stamp cannot be read;
        // null = the steady clock.
        std::function<std::chrono::steady_clock::time_point()> clock;
    };

    // How long a list is trusted when the cards' stamp cannot be read: well
    // inside the 10 s in which a plugged device must show.
    static constexpr std::chrono::seconds kRelistInterval{3};
    // How long a device whose probe failed (another program holds it, most
    // often) is not opened again to learn its rates: the checks that run
    // while a track plays ask for them every half second. A device plugged
    // again is a new entry and is probed at once; our own stream's open
    // probes regardless.
    static constexpr std::chrono::seconds kProbeRetryInterval{10};

    explicit AlsaHardware(std::unique_ptr<AlsaApi> api);
    AlsaHardware(std::unique_ptr<AlsaApi> api, Options options);
    ~AlsaHardware() override;
    AlsaHardware(const AlsaHardware&) = delete;
    AlsaHardware& operator=(const AlsaHardware&) = delete;

    std::optional<std::vector<DeviceId>> devices() const override;
    std::optional<std::vector<StreamId>> outputStreams(DeviceId id) const override;
    std::optional<QString> uid(DeviceId id) const override;
    std::optional<QString> name(DeviceId id) const override;
    std::optional<DeviceId> deviceForUid(const QString& uid) const override;
    std::optional<DeviceId> defaultOutput() const override;
    std::optional<double> nominalRate(DeviceId id) const override;
    bool setNominalRate(DeviceId id, double hz) override;
    std::optional<std::vector<RateRange>> availableNominalRates(DeviceId id) const override;
    std::optional<PhysicalFormat> physicalFormat(StreamId stream) const override;
    bool setPhysicalFormat(StreamId stream, const PhysicalFormat& format) override;
    std::optional<std::vector<PhysicalFormat>>
    availablePhysicalFormats(StreamId stream) const override;
    bool hasVolume(DeviceId id, VolumeElement element) const override;
    bool volumeSettable(DeviceId id, VolumeElement element) const override;
    std::optional<double> volume(DeviceId id, VolumeElement element) const override;
    bool setVolume(DeviceId id, VolumeElement element, double value) override;
    std::optional<int> exclusiveOwner(DeviceId id) const override;
    bool setExclusiveOwner(DeviceId id, int pid) override;
    void rescan() override;

    // True when "default" opened at construction and is listed.
    bool hasDefaultDevice() const { return m_defaultOpens; }
    // True for "default": shared through the sound server, it takes a stream
    // at any rate.
    bool isSharedDevice(DeviceId id) const;
    // The start-up test: some listed device opens, or is busy with another
    // program (a real card that can be claimed). Opens each device for a moment.
    bool anyDeviceUsable();

    // The PCM name the sink opens for a device; none when it is not connected.
    std::optional<QString> pcmName(DeviceId id) const;
    // The mixer element used for the device's volume, "" when it has none.
    QString volumeElementName(DeviceId id) const;
    // The volume of an element in dB (hundredths), when the mixer gives dB.
    std::optional<long> volumeDb(DeviceId id, VolumeElement element) const;
    std::optional<double> volumeDecibels(DeviceId id, VolumeElement element) const override;
    int selfPid() const { return m_selfPid; }

    // ---- for the output sink ----
    // Readies a device for our engine's stream, before its format is asked:
    // a `hw:` device's card is reserved (its sound server asked to let go)
    // and what the device takes is probed, so physicalFormat() is known.
    // A PCM held by a claim is closed so the stream can open it. False when
    // the device is gone, its holder keeps it, or it does not open.
    bool prepareStream(DeviceId id);
    // The stream is over: gives back a reservation made for it (not one a
    // claim still uses).
    void endStream(DeviceId id);

    // ---- the output sink's side ----
    // The PCM a claim holds open for the device (0 when none).
    PcmHold heldPcm(DeviceId id) const;
    // The stream our engine opened on the device, or closed.
    void noteStreamOpened(DeviceId id, double rate, PcmFormat format, int channels);
    void noteStreamClosed(DeviceId id);
    // A set changed the rate or format the device's stream should run at.
    std::function<void(DeviceId)> onStreamChanged;
    // Close our stream on the device (release, or another program's
    // request): true when it was closed, false while it plays.
    std::function<bool(DeviceId)> onReleaseStream;

private:
    struct Remembered {
        std::vector<long> raws; // per channel written, in element order
        double value = 0;
    };
    struct Entry {
        DeviceId id = kNoDevice;
        StreamId stream = 0;
        QString uid;
        bool isDefault = false;
        bool present = true;
        int card = -1;
        int device = -1;
        QString cardId;
        QString name;
        bool digital = false; // HDMI, S/PDIF, DisplayPort: no analog volume
        // What the stream runs (or will open) at.
        std::optional<double> rate;
        std::optional<PcmFormat> format;
        int openChannels = 0; // > 0 while our engine's stream is open
        int channels = 0;     // chosen through setPhysicalFormat; 0: stereo where taken
        std::optional<PcmCaps> caps;
        // When a probe last failed; none while the next one may open it.
        std::optional<std::chrono::steady_clock::time_point> probeFailedAt;
        PcmHold hold = 0;
        bool reserved = false;
        std::map<VolumeElement, Remembered> remembered;
    };
    struct Mixer {
        QString ctl;
        MixerElement element;
    };

    // Lists the cards again when something says they changed.
    void refresh() const;
    void relist() const;
    Entry* find(DeviceId id) const;
    Entry* findStream(StreamId stream) const;
    // What the device takes, probed once and kept. A failed probe is not
    // tried again before kProbeRetryInterval unless `retryNow`.
    const PcmCaps* capsOf(Entry& e, bool retryNow = false) const;
    bool heldByUs(const Entry& e) const;
    double rateOf(const Entry& e) const;
    int channelsOf(const Entry& e) const;
    std::optional<PhysicalFormat> formatOf(const Entry& e) const;
    std::vector<PhysicalFormat> formatsOf(const Entry& e, const PcmCaps& caps) const;
    std::optional<Mixer> mixerOf(const Entry& e) const;
    std::vector<int> channelsOfElement(const MixerElement& el, VolumeElement element) const;
    std::optional<double> scalarOf(const Mixer& m, long raw) const;
    void dropHold(Entry& e);
    // Reserves the card for a `hw:` device; false when its holder keeps it.
    // `now` tells whether this call made the reservation.
    bool reserveCard(Entry& e, bool& now);
    AlsaResult<PcmHold> openHeld(Entry& e, bool patient);
    bool releaseForOther(int card);
    void cardLost(int card);

    std::unique_ptr<AlsaApi> m_api;
    QString m_procRoot;
    int m_selfPid = 0;
    std::unique_ptr<CardReserver> m_reserver;
    std::function<std::chrono::steady_clock::time_point()> m_clock;
    bool m_defaultOpens = false;
    // Everything ever listed, in the order first seen; entries of devices that
    // went away stay (present false) so their ids are never handed out again.
    // A deque keeps entries in place while refresh() appends. Mutable: queries
    // refresh what the system lists.
    mutable std::deque<Entry> m_entries;
    mutable std::uint32_t m_nextId = 100;
    // The cards' stamp at the last listing, and when that was.
    mutable std::optional<QString> m_listedStamp;
    mutable std::chrono::steady_clock::time_point m_listedAt;
    mutable std::atomic<bool> m_stale{true};
};

} // namespace ql::platform::alsa
