// A simulated audio rig described as data: the devices the system lists, the
// default output, and the switches that make hardware operations fail.
// SimHardware runs a rig; tests build one, or take noSoundCard(), the rig the
// program falls back to on a machine with no usable sound card.
//
// Plain values only: copying a rig copies the whole description. The ids of
// devices and streams are not part of it; SimHardware hands them out.
#pragma once

#include "platform/AudioHardware.h"

#include <QString>

#include <array>
#include <optional>
#include <set>
#include <vector>

namespace ql::platform {

// One hardware operation, for failure switches and observers.
enum class SimOp {
    Devices,
    OutputStreams,
    Uid,
    Name,
    DeviceForUid,
    DefaultOutput,
    NominalRate,
    SetNominalRate,
    AvailableNominalRates,
    PhysicalFormat,
    SetPhysicalFormat,
    AvailablePhysicalFormats,
    HasVolume,
    VolumeSettable,
    Volume,
    SetVolume,
    ExclusiveOwner,
    SetExclusiveOwner,
};

// One hardware volume control of a device.
struct SimVolumeElement {
    bool present = false;
    bool settable = false;
    double value = 1.0; // scalar 0…1
};

// One output stream: the format it runs at and the formats it offers, in the
// device's own order.
struct SimStream {
    PhysicalFormat format;
    std::vector<PhysicalFormat> available;
};

struct SimDevice {
    QString name;
    // Persistent and unique among connected devices; plug() refuses a second
    // device with a UID already present.
    QString uid;
    // Empty for an input-only device.
    std::vector<SimStream> outputStreams;
    // Hz. Kept equal to the first stream's format rate by SimHardware.
    double nominalRate = 44100;
    std::vector<RateRange> nominalRates;
    // Elements 0 (main), 1 (left), 2 (right).
    std::array<SimVolumeElement, 3> volume;
    int exclusiveOwner = kNoOwner;
    // Operations that fail for this device only (for example SimOp::Uid for a
    // device whose UID cannot be read, SimOp::PhysicalFormat for its streams).
    std::set<SimOp> failing;

    // A stereo output device at 44.1 kHz offering 44.1, 48, 88.2, 96 and
    // 192 kHz as 16-bit, 24-bit and 32-bit float formats (in that order per
    // rate), with settable main and channel volumes at 1.0.
    static SimDevice output(const QString& name, const QString& uid);
    // A device with input streams only.
    static SimDevice inputOnly(const QString& name, const QString& uid);
};

struct SimRig {
    // In the system's order; ids are given in this order.
    std::vector<SimDevice> devices;
    // The UID of the system default output. When no connected device has it,
    // the rig has no default output (it comes back when that device does).
    std::optional<QString> defaultOutputUid;
    // Operations that fail for every device.
    std::set<SimOp> failing;
    // The pid that counts as "this process" when a device is released: only
    // its own claim (or a free device) can be released. 0 = this process.
    int selfPid = 0;

    // One stereo output device named "Simulated output (no sound card)" (see
    // SimDevice::output), the default output.
    static SimRig noSoundCard();
};

// The name the fallback device carries wherever it is shown.
inline const QString kSimulatedOutputName = QStringLiteral("Simulated output (no sound card)");

} // namespace ql::platform
