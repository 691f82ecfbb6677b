// The simulated audio hardware: a full AudioHardware backend running a SimRig.
// Tests build it to drive the output-device code, and the program falls back
// to it (SimRig::noSoundCard()) when no real device can be used.
//
// Public API beyond AudioHardware:
//   plug(device) / unplug(uid)   hot-plug during a run. Each connected device
//                                gets fresh device and stream ids; no id is
//                                ever handed out twice by one SimHardware.
//   idOf(uid), device(uid|id)    inspect or edit the live state of a connected
//                                device (edits bypass counters and observers).
//   failing()                    rig-wide failure switches; per-device ones
//                                live in SimDevice::failing.
//   setDefaultOutput(uid)        change the system default output.
//   writeCalls(), writesApplied() write counters: every call of a set
//                                operation, and those that were accepted.
//   generation(id)               bumps on every change of the device's nominal
//                                rate or of a stream's physical format.
//   addObserver(fn)              fn(id, event) after every change of rate,
//                                format, volume or owner, and after plug and
//                                unplug; removeObserver(token) detaches it.
//
// Rules of the simulated device:
// - Every stream of a device runs at its nominal rate. setNominalRate accepts
//   a finite rate inside one of the device's ranges and moves every stream to
//   it; setPhysicalFormat accepts only a format the stream offers (exactly) and
//   moves the device's nominal rate (and its other streams) to its rate.
// - setVolume needs a present, settable element and a finite value; the value
//   is clamped to 0…1 and reads back exactly.
// - setExclusiveOwner(id, pid > 0) fails while another pid holds the device;
//   setExclusiveOwner(id, kNoOwner) fails while a pid other than the rig's
//   selfPid holds it.
// - A query on an id that is not connected (or on a device id where a stream
//   id is wanted, and the other way round) fails.
//
// Thread: like every AudioHardware, main thread only; observers run on the
// thread that made the change, after it is in place.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/sim/SimRig.h"

#include <cstdint>
#include <functional>
#include <map>

namespace ql::platform {

// What changed on a simulated device, as told to observers.
enum class SimEvent { NominalRate, PhysicalFormat, Volume, ExclusiveOwner, Plugged, Unplugged };

// Calls of the set operations, one count per kind.
struct SimWriteCounts {
    int nominalRate = 0;
    int physicalFormat = 0;
    int volume = 0;
    int exclusiveOwner = 0;
    int total() const { return nominalRate + physicalFormat + volume + exclusiveOwner; }
};

class SimHardware final : public AudioHardware {
public:
    explicit SimHardware(SimRig rig = {});

    std::optional<std::vector<DeviceId>> devices() const override;
    std::optional<std::vector<StreamId>> outputStreams(DeviceId id) const override;
    std::optional<QString> uid(DeviceId id) const override;
    std::optional<QString> name(DeviceId id) const override;
    // nullopt also when no connected device has that UID.
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

    // Connects a device at the end of the system order and returns its new
    // id; kNoDevice (nothing connected) when its UID is empty or already
    // connected.
    DeviceId plug(SimDevice device);
    // Disconnects the device with that UID; its ids fail from now on. False
    // when no such device is connected.
    bool unplug(const QString& uid);

    // The id of the connected device with that UID, kNoDevice when none.
    // Never fails: it is the test's view, not the hardware's.
    DeviceId idOf(const QString& uid) const;
    // The stream ids of a connected device (empty when not connected).
    std::vector<StreamId> streamsOf(DeviceId id) const;
    // Live state of a connected device, nullptr when not connected.
    SimDevice* device(const QString& uid);
    const SimDevice* device(DeviceId id) const;

    std::set<SimOp>& failing() { return m_rig.failing; }
    void setDefaultOutput(std::optional<QString> uid) { m_rig.defaultOutputUid = std::move(uid); }
    int selfPid() const { return m_rig.selfPid; }

    const SimWriteCounts& writeCalls() const { return m_calls; }
    const SimWriteCounts& writesApplied() const { return m_applied; }
    // Starts at 1; 0 for a device that is not connected.
    std::uint64_t generation(DeviceId id) const;

    using Observer = std::function<void(DeviceId, SimEvent)>;
    int addObserver(Observer observer);
    void removeObserver(int token);

private:
    struct Connected {
        DeviceId id = kNoDevice;
        SimDevice device;
        std::vector<StreamId> streams; // parallel to device.outputStreams
        std::uint64_t generation = 1;
    };
    struct StreamRef {
        std::size_t device = 0; // index into m_connected
        std::size_t stream = 0; // index into its streams
    };

    bool fails(SimOp op, const Connected* c) const;
    const Connected* find(DeviceId id) const;
    Connected* find(DeviceId id);
    std::optional<StreamRef> findStream(StreamId stream) const;
    const SimVolumeElement* element(const Connected& c, VolumeElement el) const;
    void moveToRate(Connected& c, double hz);
    void notify(DeviceId id, SimEvent event);

    SimRig m_rig;                       // its device list is moved into m_connected at construction
    std::vector<Connected> m_connected; // system order
    std::uint32_t m_nextId = 100;       // devices and streams share one id space
    SimWriteCounts m_calls;
    SimWriteCounts m_applied;
    std::map<int, Observer> m_observers;
    int m_nextObserver = 1;
};

} // namespace ql::platform
