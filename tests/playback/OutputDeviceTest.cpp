// Guards against: the wrong output device listed or chosen.
#include "app/App.h"
#include "platform/sim/SimPlatform.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <functional>
#include <limits>

using namespace ql;
using namespace ql::platform;

namespace {

const QString& kA = test::kDacA;
const QString& kB = test::kAnalogB;

using test::deviceIn;
using Rigged = test::RiggedApp;
using test::addRows;

QStringList entries(const std::vector<OutputDeviceEntry>& list) {
    QStringList out;
    for (const auto& e : list)
        out << e.name + "|" + e.uid;
    return out;
}

using Setup = std::function<void(SimRig&)>;

struct ListCase {
    const char* name;
    Setup setup;
    QStringList listed; // "name|uid" in order
};

const std::vector<ListCase> listCases{
    {"output devices in system order", [](SimRig&) {}, {"DAC A|" + kA, "Analog B|" + kB}},
    {"output streams but no readable UID is left out",
     [](SimRig& r) { deviceIn(r, kA).failing.insert(SimOp::Uid); },
     {"Analog B|" + kB}},
    {"an input-only device is left out",
     [](SimRig& r) { r.devices.insert(r.devices.begin(), SimDevice::inputOnly("Mic", "mic")); },
     {"DAC A|" + kA, "Analog B|" + kB}},
    {"a device whose streams cannot be read is left out",
     [](SimRig& r) { deviceIn(r, kB).failing.insert(SimOp::OutputStreams); },
     {"DAC A|" + kA}},
    {"an unreadable name is listed as empty",
     [](SimRig& r) { deviceIn(r, kA).failing.insert(SimOp::Name); },
     {"|" + kA, "Analog B|" + kB}},
    {"a device list read failure gives an empty list",
     [](SimRig& r) { r.failing.insert(SimOp::Devices); },
     {}},
    {"every UID unreadable gives an empty list",
     [](SimRig& r) { r.failing.insert(SimOp::Uid); },
     {}},
};

struct ChoiceCase {
    const char* name;
    Setup setup;
    std::optional<QString> outputUID;
    QString expected; // the UID of the device playback goes to, "" for none
};

const std::vector<ChoiceCase> choiceCases{
    {"no choice plays on the default", [](SimRig&) {}, std::nullopt, kB},
    {"a connected choice wins over the default", [](SimRig&) {}, kA, kA},
    {"a choice naming an absent device gives the default", [](SimRig&) {}, "usb:gone", kB},
    {"an empty choice gives the default", [](SimRig&) {}, QString(), kB},
    {"an absent choice and no default give none", [](SimRig& r) { r.defaultOutputUid.reset(); },
     "usb:gone", ""},
    {"a default naming an unplugged device gives none",
     [](SimRig& r) { r.defaultOutputUid = "usb:gone"; }, std::nullopt, ""},
    {"a failed UID look-up falls back to the default",
     [](SimRig& r) { r.failing.insert(SimOp::DeviceForUid); }, kA, kB},
    {"a failed default read gives none", [](SimRig& r) { r.failing.insert(SimOp::DefaultOutput); },
     std::nullopt, ""},
    {"a connected choice needs no default",
     [](SimRig& r) { r.failing.insert(SimOp::DefaultOutput); }, kA, kA},
};

struct InfoCase {
    const char* name;
    Setup setup;
    std::optional<OutputInfo> expected;
};

const std::vector<InfoCase> infoCases{
    {"the device as it runs", [](SimRig&) {}, OutputInfo{"Analog B", 44100, 24, 2}},
    {"follows the device's rate", [](SimRig& r) { deviceIn(r, kB).nominalRate = 96000; },
     OutputInfo{"Analog B", 96000, 24, 2}},
    {"an unreadable stream format gives bits and channels 0",
     [](SimRig& r) { deviceIn(r, kB).failing.insert(SimOp::PhysicalFormat); },
     OutputInfo{"Analog B", 44100, 0, 0}},
    {"an unreadable nominal rate gives 0",
     [](SimRig& r) { deviceIn(r, kB).failing.insert(SimOp::NominalRate); },
     OutputInfo{"Analog B", 0, 24, 2}},
    {"an unreadable name gives an empty name",
     [](SimRig& r) { deviceIn(r, kB).failing.insert(SimOp::Name); }, OutputInfo{"", 44100, 24, 2}},
    {"a default without output streams reads no format",
     [](SimRig& r) {
         r.devices.push_back(SimDevice::inputOnly("Mic", "mic"));
         r.defaultOutputUid = "mic";
     },
     OutputInfo{"Mic", 48000, 0, 0}},
    {"no default device gives none", [](SimRig& r) { r.defaultOutputUid.reset(); }, std::nullopt},
};

template <typename Case> SimRig rigFor(const Case& c) {
    SimRig rig = test::twoOutputs();
    c.setup(rig);
    return rig;
}

QString describe(const std::optional<OutputInfo>& i) {
    if (!i)
        return "none";
    return QString("%1, %2 Hz, %3 bits, %4 ch")
        .arg(i->name)
        .arg(i->rate)
        .arg(i->bits)
        .arg(i->channels);
}

} // namespace

class OutputDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void listOutputDevices_data() { addRows(listCases); }
    void listOutputDevices() {
        const ListCase& c = test::currentCase(listCases);
        Rigged r(rigFor(c));
        const auto list = r.app.listOutputDevices();
        QCOMPARE(entries(list), c.listed);
        for (const auto& e : list)
            QCOMPARE(e.id, r.hw().idOf(e.uid));
        QCOMPARE(r.hw().writeCalls().total(), 0);
    }

    void outputDeviceID_data() { addRows(choiceCases); }
    void outputDeviceID() {
        const ChoiceCase& c = test::currentCase(choiceCases);
        Rigged r(rigFor(c));
        r.app.playback.outputUID = c.outputUID;
        const auto id = r.app.outputDeviceID();
        if (c.expected.isEmpty()) {
            QVERIFY2(!id, "expected no device");
            QVERIFY(!r.app.outputDeviceInfo());
        } else {
            QCOMPARE(id, std::optional(r.hw().idOf(c.expected)));
        }
        // Falling back never rewrites the stored choice.
        QCOMPARE(r.app.playback.outputUID, c.outputUID);
    }

    void outputDeviceInfo_data() { addRows(infoCases); }
    void outputDeviceInfo() {
        const InfoCase& c = test::currentCase(infoCases);
        Rigged r(rigFor(c));
        QCOMPARE(describe(r.app.outputDeviceInfo()), describe(c.expected));
        QCOMPARE(r.hw().writeCalls().total(), 0);
    }

    void unreadableRatesAreZero_data() {
        QTest::addColumn<double>("rate");
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
        QTest::newRow("negative") << -44100.0;
    }
    void unreadableRatesAreZero() {
        QFETCH(double, rate);
        Rigged r(test::twoOutputs());
        r.hw().device(kB)->nominalRate = rate;
        QCOMPARE(r.app.outputDeviceInfo()->rate, 0.0);
    }

    void lookUpsByUidAndId() {
        Rigged r(test::twoOutputs());
        const DeviceId a = r.hw().idOf(kA);
        QCOMPARE(r.app.deviceByUID(kA), std::optional(a));
        QCOMPARE(r.app.deviceByUID("usb:gone"), std::nullopt);
        QCOMPARE(r.app.deviceUID(a), std::optional(kA));
        QCOMPARE(r.app.deviceName(a), QString("DAC A"));
        QCOMPARE(r.app.deviceUID(kNoDevice), std::nullopt);
        QCOMPARE(r.app.deviceName(kNoDevice), QString());
    }

    void anEmptyUidCannotBeChosen() {
        Rigged r(test::twoOutputs());
        r.hw().device(kA)->uid = QString();
        QCOMPARE(r.app.deviceUID(r.hw().idOf(QString())), std::nullopt);
        QCOMPARE(entries(r.app.listOutputDevices()), QStringList{"Analog B|" + kB});
    }

    // The chosen device is unplugged and comes back with a new id: playback
    // goes to the default meanwhile, then back to the device under its new id.
    void aChosenDeviceComesBackUnderItsNewId() {
        Rigged r(test::twoOutputs());
        r.app.playback.outputUID = kA;
        const DeviceId before = r.hw().idOf(kA);
        QCOMPARE(r.app.outputDeviceID(), std::optional(before));
        r.hw().unplug(kA);
        QCOMPARE(r.app.outputDeviceID(), std::optional(r.hw().idOf(kB)));
        QCOMPARE(r.app.deviceName(before), QString());
        QCOMPARE(r.app.deviceUID(before), std::nullopt);
        const DeviceId after = r.hw().plug(SimDevice::output("DAC A", kA));
        QVERIFY(after != before);
        QCOMPARE(r.app.outputDeviceID(), std::optional(after));
        QCOMPARE(entries(r.app.listOutputDevices()),
                 (QStringList{"Analog B|" + kB, "DAC A|" + kA}));
    }

    void withoutHardwareEverythingIsEmpty() {
        Platform none;
        App app(none);
        app.playback.outputUID = kA;
        QVERIFY(app.listOutputDevices().empty());
        QVERIFY(!app.deviceByUID(kA));
        QVERIFY(!app.deviceUID(1));
        QCOMPARE(app.deviceName(1), QString());
        QVERIFY(!app.outputDeviceID());
        QVERIFY(!app.outputDeviceInfo());
    }
};

QL_TEST_MAIN(OutputDeviceTest)
#include "OutputDeviceTest.moc"
