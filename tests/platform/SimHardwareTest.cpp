// Guards against: a simulated device that answers unlike hardware, hiding faults in its users.
#include "platform/sim/SimHardware.h"
#include "platform/sim/SimPlatform.h"

#include "CaseRows.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <cmath>
#include <functional>
#include <limits>
#include <set>

using namespace ql::platform;

Q_DECLARE_METATYPE(ql::platform::PhysicalFormat)

namespace {

const QString& kA = ql::test::kDacA;
const QString& kB = ql::test::kAnalogB;

using ql::test::twoOutputs;

// One hardware operation run against a device (or its first stream); true
// when the hardware answered (a read gave a value, a has/settable gave true, a
// write was accepted).
using Call = std::function<bool(SimHardware&, DeviceId, StreamId)>;

struct OpCase {
    const char* name;
    SimOp op;
    Call call;
};

const PhysicalFormat k48x24{48000, 24, false, 2, 8, true};

const std::vector<OpCase> opCases{
    {"outputStreams", SimOp::OutputStreams,
     [](SimHardware& h, DeviceId d, StreamId) { return h.outputStreams(d).has_value(); }},
    {"uid", SimOp::Uid, [](SimHardware& h, DeviceId d, StreamId) { return h.uid(d).has_value(); }},
    {"name", SimOp::Name,
     [](SimHardware& h, DeviceId d, StreamId) { return h.name(d).has_value(); }},
    {"deviceForUid", SimOp::DeviceForUid,
     [](SimHardware& h, DeviceId d, StreamId) { return h.deviceForUid(kA) == d; }},
    {"nominalRate", SimOp::NominalRate,
     [](SimHardware& h, DeviceId d, StreamId) { return h.nominalRate(d).has_value(); }},
    {"setNominalRate", SimOp::SetNominalRate,
     [](SimHardware& h, DeviceId d, StreamId) { return h.setNominalRate(d, 96000); }},
    {"availableNominalRates", SimOp::AvailableNominalRates,
     [](SimHardware& h, DeviceId d, StreamId) { return h.availableNominalRates(d).has_value(); }},
    {"physicalFormat", SimOp::PhysicalFormat,
     [](SimHardware& h, DeviceId, StreamId s) { return h.physicalFormat(s).has_value(); }},
    {"setPhysicalFormat", SimOp::SetPhysicalFormat,
     [](SimHardware& h, DeviceId, StreamId s) { return h.setPhysicalFormat(s, k48x24); }},
    {"availablePhysicalFormats", SimOp::AvailablePhysicalFormats,
     [](SimHardware& h, DeviceId, StreamId s) {
         return h.availablePhysicalFormats(s).has_value();
     }},
    {"hasVolume", SimOp::HasVolume,
     [](SimHardware& h, DeviceId d, StreamId) { return h.hasVolume(d, 0); }},
    {"volumeSettable", SimOp::VolumeSettable,
     [](SimHardware& h, DeviceId d, StreamId) { return h.volumeSettable(d, 1); }},
    {"volume", SimOp::Volume,
     [](SimHardware& h, DeviceId d, StreamId) { return h.volume(d, 2).has_value(); }},
    {"setVolume", SimOp::SetVolume,
     [](SimHardware& h, DeviceId d, StreamId) { return h.setVolume(d, 0, 0.5); }},
    {"exclusiveOwner", SimOp::ExclusiveOwner,
     [](SimHardware& h, DeviceId d, StreamId) { return h.exclusiveOwner(d).has_value(); }},
    {"setExclusiveOwner", SimOp::SetExclusiveOwner,
     [](SimHardware& h, DeviceId d, StreamId) { return h.setExclusiveOwner(d, 4242); }},
};

void addOpRows() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < opCases.size(); ++i)
        QTest::newRow(opCases[i].name) << int(i);
}

} // namespace

class SimHardwareTest : public QObject {
    Q_OBJECT
private slots:
    void idsAreStableWhileConnected() {
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        const DeviceId b = hw.idOf(kB);
        QVERIFY(a != kNoDevice && b != kNoDevice && a != b);
        const auto streamsA = hw.streamsOf(a);
        hw.plug(SimDevice::output("C", "c"));
        hw.unplug("c");
        hw.unplug(kB);
        QCOMPARE(hw.idOf(kA), a);
        QCOMPARE(hw.streamsOf(a), streamsA);
        QCOMPARE(hw.devices(), std::optional(std::vector<DeviceId>{a}));
    }

    void idsAreNeverReusedAfterReplug() {
        SimHardware hw(twoOutputs());
        std::set<std::uint32_t> seen;
        auto collect = [&](DeviceId id) {
            QVERIFY(seen.insert(id).second);
            for (StreamId s : hw.streamsOf(id))
                QVERIFY2(seen.insert(s).second, "a stream id repeats an earlier id");
        };
        collect(hw.idOf(kA));
        collect(hw.idOf(kB));
        for (int round = 0; round < 5; ++round) {
            QVERIFY(hw.unplug(kA));
            const DeviceId again = hw.plug(SimDevice::output("DAC A", kA));
            QVERIFY(again != kNoDevice);
            collect(again);
        }
        // A replugged device goes to the end of the system order.
        QCOMPARE(hw.devices()->back(), hw.idOf(kA));
    }

    void queriesOnAVanishedIdFail_data() { addOpRows(); }
    void queriesOnAVanishedIdFail() {
        const OpCase& c = ql::test::currentCase(opCases);
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        const StreamId s = hw.streamsOf(a).front();
        QVERIFY2(c.call(hw, a, s), "the operation must work while the device is connected");
        hw.unplug(kA);
        QVERIFY(!c.call(hw, a, s));
        // Replugging gives a new id; the old one stays dead.
        hw.plug(SimDevice::output("DAC A", kA));
        QVERIFY(!c.call(hw, a, s));
    }

    void failureSwitches_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("rigWide");
        for (std::size_t i = 0; i < opCases.size(); ++i) {
            QTest::addRow("%s, every device", opCases[i].name) << int(i) << true;
            QTest::addRow("%s, one device", opCases[i].name) << int(i) << false;
        }
    }
    void failureSwitches() {
        QFETCH(int, index);
        QFETCH(bool, rigWide);
        const OpCase& c = opCases[std::size_t(index)];
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        const StreamId s = hw.streamsOf(a).front();
        if (rigWide)
            hw.failing().insert(c.op);
        else
            hw.device(kA)->failing.insert(c.op);
        QVERIFY(!c.call(hw, a, s));
        // The switch fails only that operation: the device still answers others.
        QVERIFY(hw.devices().has_value());
        if (c.op != SimOp::Name)
            QCOMPARE(hw.name(a), std::optional<QString>("DAC A"));
        else
            QCOMPARE(hw.uid(a), std::optional<QString>(kA));
        if (!rigWide) {
            const DeviceId b = hw.idOf(kB);
            if (c.op == SimOp::DeviceForUid)
                QCOMPARE(hw.deviceForUid(kB), std::optional(b));
            else
                QVERIFY2(c.call(hw, b, hw.streamsOf(b).front()),
                         "another device must still answer");
        }
    }

    void deviceListAndDefaultSwitches() {
        SimHardware hw(twoOutputs());
        QCOMPARE(hw.defaultOutput(), std::optional(hw.idOf(kB)));
        hw.failing().insert(SimOp::Devices);
        QVERIFY(!hw.devices());
        hw.failing().insert(SimOp::DefaultOutput);
        QVERIFY(!hw.defaultOutput());
        hw.failing().clear();
        QCOMPARE(hw.devices()->size(), std::size_t(2));
    }

    void setNominalRate_data() {
        QTest::addColumn<double>("hz");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("after");
        QTest::addColumn<bool>("changed");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("a listed rate") << 96000.0 << true << 96000.0 << true;
        QTest::newRow("the current rate is accepted without a change")
            << 44100.0 << true << 44100.0 << false;
        QTest::newRow("an unlisted rate") << 32000.0 << false << 44100.0 << false;
        QTest::newRow("not a number") << nan << false << 44100.0 << false;
    }
    void setNominalRate() {
        QFETCH(double, hz);
        QFETCH(bool, accepted);
        QFETCH(double, after);
        QFETCH(bool, changed);
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        const auto gen = hw.generation(a);
        int told = 0;
        hw.addObserver([&](DeviceId id, SimEvent e) {
            QCOMPARE(id, a);
            QCOMPARE(e, SimEvent::NominalRate);
            ++told;
        });
        QCOMPARE(hw.setNominalRate(a, hz), accepted);
        QCOMPARE(*hw.nominalRate(a), after);
        QCOMPARE(hw.physicalFormat(hw.streamsOf(a).front())->rate, after);
        QCOMPARE(hw.generation(a), gen + (changed ? 1 : 0));
        QCOMPARE(told, changed ? 1 : 0);
        QCOMPARE(hw.writeCalls().nominalRate, 1);
        QCOMPARE(hw.writesApplied().nominalRate, accepted ? 1 : 0);
        // The other device is untouched.
        QCOMPARE(*hw.nominalRate(hw.idOf(kB)), 44100.0);
    }

    void setPhysicalFormat_data() {
        QTest::addColumn<PhysicalFormat>("format");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("an offered format at another rate") << k48x24 << true;
        QTest::newRow("an unoffered rate") << PhysicalFormat{32000, 24, false, 2, 8, true} << false;
        QTest::newRow("a packing the device does not use")
            << PhysicalFormat{48000, 24, false, 2, 6, true} << false;
    }
    void setPhysicalFormat() {
        QFETCH(PhysicalFormat, format);
        QFETCH(bool, accepted);
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        const StreamId s = hw.streamsOf(a).front();
        const PhysicalFormat before = *hw.physicalFormat(s);
        std::vector<SimEvent> events;
        hw.addObserver([&](DeviceId, SimEvent e) { events.push_back(e); });
        QCOMPARE(hw.setPhysicalFormat(s, format), accepted);
        QCOMPARE(*hw.physicalFormat(s), accepted ? format : before);
        // The device and its stream never disagree about the rate.
        QCOMPARE(*hw.nominalRate(a), accepted ? format.rate : before.rate);
        QCOMPARE(events.size(), std::size_t(accepted ? 1 : 0));
    }

    void setVolume_data() {
        QTest::addColumn<VolumeElement>("element");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("readBack");
        QTest::newRow("main to a quarter") << 0u << 0.25 << true << 0.25;
        QTest::newRow("above one is clamped") << 2u << 1.7 << true << 1.0;
        QTest::newRow("not a number is refused") << 0u << std::nan("") << false << 1.0;
        QTest::newRow("element 3 does not exist") << 3u << 0.5 << false << -1.0;
    }
    void setVolume() {
        QFETCH(VolumeElement, element);
        QFETCH(double, value);
        QFETCH(bool, accepted);
        QFETCH(double, readBack);
        SimHardware hw(twoOutputs());
        const DeviceId a = hw.idOf(kA);
        QCOMPARE(hw.setVolume(a, element, value), accepted);
        const auto v = hw.volume(a, element);
        if (readBack < 0)
            QVERIFY(!v);
        else
            QCOMPARE(*v, readBack);
    }

    void volumeElementsThatCannotBeSet_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("settable");
        QTest::newRow("absent") << false << false;
        QTest::newRow("read-only") << true << false;
    }
    void volumeElementsThatCannotBeSet() {
        QFETCH(bool, present);
        QFETCH(bool, settable);
        SimHardware hw(twoOutputs());
        hw.device(kA)->volume[0] = SimVolumeElement{present, settable, 0.6};
        const DeviceId a = hw.idOf(kA);
        QCOMPARE(hw.hasVolume(a, 0), present);
        QVERIFY(!hw.volumeSettable(a, 0));
        QVERIFY(!hw.setVolume(a, 0, 0.1));
        QCOMPARE(hw.volume(a, 0).has_value(), present);
        if (present)
            QCOMPARE(*hw.volume(a, 0), 0.6);
        QCOMPARE(hw.writesApplied().total(), 0);
    }

    void exclusiveOwner_data() {
        QTest::addColumn<int>("owner");
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("after");
        QTest::newRow("claim a free device") << kNoOwner << 4242 << true << 4242;
        QTest::newRow("claim a device another process holds") << 777 << 4242 << false << 777;
        QTest::newRow("release our claim") << 4242 << kNoOwner << true << kNoOwner;
        QTest::newRow("release another process's claim") << 777 << kNoOwner << false << 777;
        QTest::newRow("pid 0 is not a process") << kNoOwner << 0 << false << kNoOwner;
    }
    void exclusiveOwner() {
        QFETCH(int, owner);
        QFETCH(int, pid);
        QFETCH(bool, accepted);
        QFETCH(int, after);
        SimHardware hw(twoOutputs());
        hw.device(kA)->exclusiveOwner = owner;
        const DeviceId a = hw.idOf(kA);
        QCOMPARE(hw.setExclusiveOwner(a, pid), accepted);
        QCOMPARE(*hw.exclusiveOwner(a), after);
    }

    void queriesWriteNothing() {
        SimHardware hw(twoOutputs());
        for (const OpCase& c : opCases) {
            if (QByteArray(c.name).startsWith("set"))
                continue;
            const DeviceId a = hw.idOf(kA);
            c.call(hw, a, hw.streamsOf(a).front());
        }
        QCOMPARE(hw.writeCalls().total(), 0);
        // A refused write is still a call.
        QVERIFY(!hw.setNominalRate(hw.idOf(kA), 1));
        QCOMPARE(hw.writeCalls().total(), 1);
        QCOMPARE(hw.writesApplied().total(), 0);
    }

    void hotPlugOfTheDefaultOutput() {
        SimHardware hw(twoOutputs());
        std::vector<std::pair<DeviceId, SimEvent>> events;
        hw.addObserver([&](DeviceId id, SimEvent e) { events.emplace_back(id, e); });
        const DeviceId oldB = hw.idOf(kB);
        QVERIFY(hw.unplug(kB));
        QVERIFY(!hw.defaultOutput());
        QVERIFY(!hw.unplug(kB));
        const DeviceId newB = hw.plug(SimDevice::output("Analog B", kB));
        QCOMPARE(hw.defaultOutput(), std::optional(newB));
        QVERIFY(newB != oldB);
        QCOMPARE(events.size(), std::size_t(2));
        QCOMPARE(events[0], std::make_pair(oldB, SimEvent::Unplugged));
        QCOMPARE(events[1], std::make_pair(newB, SimEvent::Plugged));
        hw.setDefaultOutput(kA);
        QCOMPARE(hw.defaultOutput(), std::optional(hw.idOf(kA)));
        hw.setDefaultOutput(std::nullopt);
        QVERIFY(!hw.defaultOutput());
    }

    void anObserverMayDetachItselfWhileTold() {
        SimHardware hw(twoOutputs());
        int first = 0;
        int second = 0;
        int token = 0;
        token = hw.addObserver([&](DeviceId, SimEvent) {
            ++first;
            hw.removeObserver(token);
        });
        hw.addObserver([&](DeviceId, SimEvent) { ++second; });
        hw.setVolume(hw.idOf(kA), 0, 0.3);
        hw.setVolume(hw.idOf(kA), 0, 0.4);
        QCOMPARE(first, 1);
        QCOMPARE(second, 2);
    }

    void simulatedPlatformSaysSo() {
        const Platform p = makeSimulatedPlatform();
        QVERIFY(p.isSimulated);
        SimHardware* hw = simulatedHardware(p);
        QVERIFY(hw);
        const auto def = hw->defaultOutput();
        QVERIFY(def);
        QCOMPARE(hw->name(*def), std::optional<QString>(kSimulatedOutputName));
        QVERIFY(hw->hasOutput(*def));
        // It can be claimed and released by this process.
        QVERIFY(hw->setExclusiveOwner(*def, hw->selfPid()));
        QVERIFY(hw->setExclusiveOwner(*def, kNoOwner));
        QVERIFY(!simulatedHardware(Platform{}));
    }
};

QL_TEST_MAIN_CORE(SimHardwareTest)
#include "SimHardwareTest.moc"
