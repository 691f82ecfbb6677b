// The audio hardware: output devices, their streams, rates, formats, hardware
// volume and exclusive ownership, as typed operations.
//
// Failure model: every operation may fail. Reads return std::nullopt (or
// false for the has/settable questions) on failure; writes return false. The
// callers turn a failure into a fixed value (empty list, none, "", 0, "no
// change") and report nothing, so an implementation never shows messages.
//
// Ids: DeviceId and StreamId are 32-bit; 0 means "no device" / "no stream".
// An id stays valid while its device is connected and is never reused for
// another device during one run. A query on a vanished id fails.
//
// Backends: platform/alsa (real cards) and platform/sim (a simulated rig for
// tests and machines without a sound card). Main thread only, unless a
// backend says otherwise.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace ql::platform {

using DeviceId = std::uint32_t;
using StreamId = std::uint32_t;
constexpr DeviceId kNoDevice = 0;

// A closed range of nominal rates in Hz; a single rate has min == max.
struct RateRange {
    double min = 0;
    double max = 0;
    bool operator==(const RateRange&) const = default;
};

// The format a stream runs at on the hardware side.
struct PhysicalFormat {
    double rate = 0;      // Hz
    int bits = 0;         // bits per channel (valid bits: 24 for S24_3LE and S24_LE)
    bool isFloat = false; // float samples; integer otherwise
    int channels = 0;
    int bytesPerFrame = 0; // as stored: 6 for 24-bit stereo packed, 8 for 24-in-32 stereo
    bool isLinearPcm = true;
    bool operator==(const PhysicalFormat&) const = default;
};

// Hardware volume elements: 0 the main control (all channels), 1 and 2 the
// front left and right channels.
using VolumeElement = std::uint32_t;

// The process id standing for "nobody holds the device exclusively".
constexpr int kNoOwner = -1;

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    // Every device, in the system's order (input-only ones included).
    virtual std::optional<std::vector<DeviceId>> devices() const = 0;
    // Output stream ids of a device; empty for an input-only device. The first
    // stream carries the device's physical format.
    virtual std::optional<std::vector<StreamId>> outputStreams(DeviceId id) const = 0;
    // True when the device has at least one output stream (false on failure).
    bool hasOutput(DeviceId id) const {
        const auto s = outputStreams(id);
        return s && !s->empty();
    }

    // The persistent UID (stored in settings), the display name, and the way back.
    virtual std::optional<QString> uid(DeviceId id) const = 0;
    virtual std::optional<QString> name(DeviceId id) const = 0;
    // nullopt or kNoDevice when no connected device has that UID; callers
    // treat both as "not found".
    virtual std::optional<DeviceId> deviceForUid(const QString& uid) const = 0;
    // The system default output; nullopt when there is none.
    virtual std::optional<DeviceId> defaultOutput() const = 0;

    // The rate the device runs (or will open) at, in Hz.
    virtual std::optional<double> nominalRate(DeviceId id) const = 0;
    // Succeeds only when the stream now runs (or will open) at that rate.
    virtual bool setNominalRate(DeviceId id, double hz) = 0;
    virtual std::optional<std::vector<RateRange>> availableNominalRates(DeviceId id) const = 0;

    virtual std::optional<PhysicalFormat> physicalFormat(StreamId stream) const = 0;
    virtual bool setPhysicalFormat(StreamId stream, const PhysicalFormat& format) = 0;
    // In the device's own order.
    virtual std::optional<std::vector<PhysicalFormat>>
    availablePhysicalFormats(StreamId stream) const = 0;

    // Hardware volume scalars 0…1; volume(set(x)) reads back within 0.005 of x.
    virtual bool hasVolume(DeviceId id, VolumeElement element) const = 0;
    virtual bool volumeSettable(DeviceId id, VolumeElement element) const = 0;
    virtual std::optional<double> volume(DeviceId id, VolumeElement element) const = 0;
    virtual bool setVolume(DeviceId id, VolumeElement element, double value) = 0;
    // The gain the element applies now, in dB, when it says so (a mixer
    // control with a dB range); none for a control of bare steps.
    virtual std::optional<double> volumeDecibels(DeviceId id, VolumeElement element) const {
        (void)id;
        (void)element;
        return std::nullopt;
    }

    // Asks for the devices to be listed afresh at the next query, whatever
    // the backend's own change notices say: the user opened the device list,
    // or a device failed. A backend that is always current ignores it. Safe
    // from any thread.
    virtual void rescan() {}

    // The process holding the device exclusively, kNoOwner when it is free.
    virtual std::optional<int> exclusiveOwner(DeviceId id) const = 0;
    // Claim with our pid, release with kNoOwner.
    virtual bool setExclusiveOwner(DeviceId id, int pid) = 0;
};

} // namespace ql::platform
