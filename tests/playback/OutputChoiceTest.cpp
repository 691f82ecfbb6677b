// Guards against: an output choice lost, mis-stored, or applied to the wrong device.
#include "app/UserDefaults.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>

#include <functional>
#include <limits>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::deviceIn;
using test::RiggedApp;

namespace {

const QString& kA = test::kDacA;
const QString& kB = test::kAnalogB;
const QString kNone; // "no choice" in the tables: the system default

void noVolume(SimDevice& d) {
    d.volume = {};
}
void mainVolume(SimDevice& d, double v) {
    d.volume = {};
    d.volume[0] = {true, true, v};
}

// Selects the device with `uid` in the device pop-up ("" = the system
// default) and runs the pop-up's action, as a user's choice does.
void choose(App& app, const QString& uid) {
    app.refreshDevicePopup();
    int index = 0;
    for (std::size_t i = 0; i < app.playback.deviceList.size(); ++i)
        if (app.playback.deviceList[i].uid == uid)
            index = int(i) + 1;
    app.devicePopup->setCurrentIndex(index);
    app.deviceChosen();
}

QStringList popupItems(const App& app) {
    QStringList items;
    for (int i = 0; i < app.devicePopup->count(); ++i)
        items << app.devicePopup->itemText(i);
    return items;
}

// Menu titles, a checked item marked with "*".
QStringList menuItems(const QMenu& menu) {
    QStringList items;
    for (const QAction* a : menu.actions())
        items << a->text() + (a->isChecked() ? "*" : "");
    return items;
}

QString storedUID() {
    return UserDefaults().string(keys::kOutputUID).value_or("(absent)");
}

// ---- hardware volume -----------------------------------------------------------
struct HwCase {
    const char* name;
    std::function<void(SimRig&)> rig;    // B is the default; both start with full volumes
    double slider;                       // before the first poll
    std::function<void(RiggedApp&)> act; // after the first poll
    double expectedSlider;
    QString db;                  // the volume label ("" when the slider never moved)
    int volumeWrites;            // set-volume calls over the whole row
    std::optional<double> aMain; // A's main volume at the end, when it has one
};

const auto follow = [](double deviceVolume, bool held) {
    return [deviceVolume, held](RiggedApp& r) {
        r.hw().device(kB)->volume[0].value = deviceVolume;
        test::fakes(r.app).desktop.mouseButtons = [held] {
            return held ? Qt::LeftButton : Qt::NoButton;
        };
        r.app.updateHW();
    };
};
const std::vector<HwCase> hwCases{
    {"the first poll only reads the device volume",
     [](SimRig& r) { mainVolume(deviceIn(r, kB), 0.42); }, 70, [](RiggedApp&) {}, 42, "-22.6dB", 0,
     std::nullopt},
    {"slider 60, then a device at 0.5: the device gets 0.3",
     [](SimRig& r) {
         noVolume(deviceIn(r, kB));
         mainVolume(deviceIn(r, kA), 0.5);
     },
     60, [](RiggedApp& r) { choose(r.app, kA); }, 30, "-31.4dB", 1, 0.3},
    {"a device without volume after one with it: slider 100",
     [](SimRig& r) {
         mainVolume(deviceIn(r, kB), 0.5);
         noVolume(deviceIn(r, kA));
     },
     70, [](RiggedApp& r) { choose(r.app, kA); }, 100, "0.0dB", 0, std::nullopt},
    {"a held mouse button stops the follow", [](SimRig& r) { mainVolume(deviceIn(r, kB), 0.5); },
     70, follow(0.8, true), 50, "-18.1dB", 0, std::nullopt},
    {"1.4 points apart is left alone", [](SimRig& r) { mainVolume(deviceIn(r, kB), 0.5); }, 70,
     follow(0.514, false), 50, "-18.1dB", 0, std::nullopt},
    {"1.6 points apart is followed", [](SimRig& r) { mainVolume(deviceIn(r, kB), 0.5); }, 70,
     follow(0.516, false), 51.6, "-17.2dB", 0, std::nullopt},
    {"an unreadable device volume moves nothing",
     [](SimRig& r) {
         mainVolume(deviceIn(r, kB), 0.5);
         deviceIn(r, kB).failing.insert(SimOp::Volume);
     },
     70, [](RiggedApp& r) { r.app.updateHW(); }, 70, "", 0, std::nullopt},
};

// ---- volume elements ---------------------------------------------------------
struct ElementCase {
    const char* name;
    std::array<SimVolumeElement, 3> controls; // of the default device B
    bool readsFail;
    std::vector<VolumeElement> elements;
    std::optional<double> volume;
};

SimVolumeElement settable(double v) {
    return {true, true, v};
}
SimVolumeElement readOnly(double v) {
    return {true, false, v};
}
constexpr SimVolumeElement kAbsent{};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<ElementCase> elementCases{
    {"a settable main volume is used alone",
     {settable(0.7), settable(0.1), settable(0.1)},
     false,
     {0},
     0.7},
    {"channels only", {kAbsent, settable(0.2), settable(0.6)}, false, {1, 2}, 0.4},
    {"a read-only channel is skipped", {kAbsent, settable(0.2), readOnly(0.6)}, false, {1}, 0.2},
    {"a read-only main volume falls back to the channels",
     {readOnly(0.9), settable(0.3), kAbsent},
     false,
     {1},
     0.3},
    {"volume that cannot be set anywhere",
     {readOnly(0.9), readOnly(0.9), readOnly(0.9)},
     false,
     {},
     std::nullopt},
    {"a channel reading that is not a level is left out",
     {kAbsent, settable(kNaN), settable(0.6)},
     false,
     {1, 2},
     0.6},
    {"volume reads failing", {settable(0.5), kAbsent, kAbsent}, true, {0}, std::nullopt},
};

// ---- DAC label -------------------------------------------------------------------
struct DacCase {
    const char* name;
    std::function<void(SimDevice&)> device; // the default device B
    bool effects;
    bool simulated;
    QString text;
};

std::function<void(SimDevice&)> format(int bits, double rate, int channels) {
    return [=](SimDevice& d) {
        d.nominalRate = rate;
        d.outputStreams[0].format = PhysicalFormat{rate, bits, false, channels, 4 * channels, true};
    };
}

const std::vector<DacCase> dacCases{
    {"no readable bit depth", format(0, 48000, 2), false, false, "DAC: 48kHz Stereo"},
    {"eight channels", format(32, 48000, 8), false, false, "DAC: 32/48kHz 8ch"},
    {"one channel", format(16, 44100, 1), false, false, "DAC: 16/44.1kHz 1ch"},
    {"effects add their mark", format(24, 96000, 2), true, false,
     "DAC: 24/96kHz Stereo  🎛 FX on"},
    {"the simulated device says so", format(24, 44100, 2), false, true,
     "DAC: 24/44.1kHz Stereo  (simulated output)"},
    {"an unreadable format shows the rate only",
     [](SimDevice& d) { d.failing.insert(SimOp::PhysicalFormat); }, false, false, "DAC: 44.1kHz"},
    {"an unreadable rate empties the label",
     [](SimDevice& d) { d.failing.insert(SimOp::NominalRate); }, false, false, ""},
};

// ---- device menu -------------------------------------------------------------------
// A is unplugged and comes back: now last in the list, under a new id.
void replugA(RiggedApp& r) {
    r.hw().unplug(kA);
    r.hw().plug(SimDevice::output("DAC A", kA));
    r.app.refreshDevicePopup(); // the 10 s tick
}

// What happens between opening the device menu and the pick.
enum class MenuChange { Nothing, ReplugA, UnplugA };

} // namespace

class OutputChoiceTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        UserDefaults().clear();
        L10n::setLanguage("en");
    }

    void popupFollowsTheDevices() {
        RiggedApp r(test::twoOutputs());
        r.app.refreshDevicePopup();
        const QStringList two{"Output: system default", "Output: DAC A", "Output: Analog B"};
        QCOMPARE(popupItems(r.app), two);
        QCOMPARE(r.app.devicePopup->currentIndex(), 0);

        r.hw().plug(SimDevice::output("DAC C", "usb:dac-c"));
        QCOMPARE(popupItems(r.app), two); // only the 10 s refresh sees it
        r.app.refreshDevicePopup();
        QCOMPARE(popupItems(r.app), two + QStringList{"Output: DAC C"});

        choose(r.app, kA);
        QCOMPARE(r.app.devicePopup->currentIndex(), 1);
        r.hw().unplug(kA);
        r.app.refreshDevicePopup();
        QCOMPARE(r.app.devicePopup->currentIndex(), 0);
        QCOMPARE(r.app.playback.outputUID, std::optional(kA));
        QCOMPARE(storedUID(), kA);
        QCOMPARE(r.app.outputDeviceID(), std::optional(r.hw().idOf(kB)));

        r.hw().plug(SimDevice::output("DAC A", kA));
        r.app.refreshDevicePopup();
        QCOMPARE(r.app.devicePopup->currentText(), QString("Output: DAC A"));
        QCOMPARE(r.app.devicePopup->currentIndex(), 3);

        // A new name under the same UID does not rebuild the items.
        r.hw().device(kB)->name = "Speakers";
        r.app.refreshDevicePopup();
        QCOMPARE(r.app.devicePopup->itemText(1), QString("Output: Analog B"));
    }

    void deviceChosen_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QString>("status");
        QTest::newRow("a Korean device name stays Korean")
            << QString("en") << "헤드폰" << kA << "Output device: 헤드폰";
        QTest::newRow("the system default")
            << QString("en") << "DAC A" << kNone << "Output device: system default";
        QTest::newRow("the system default, in Korean")
            << QString("ko") << "DAC A" << kNone << "출력 장치: 시스템 기본";
    }
    void deviceChosen() {
        QFETCH(QString, lang);
        QFETCH(QString, deviceName);
        QFETCH(QString, pick);
        QFETCH(QString, status);
        L10n::setLanguage(lang);
        SimRig rig = test::twoOutputs();
        deviceIn(rig, kA).name = deviceName;
        RiggedApp r(rig);
        UserDefaults().set(keys::kOutputUID, kB); // an earlier choice
        r.app.playback.outputUID = kB;

        choose(r.app, pick);
        r.app.translateUI();

        QCOMPARE(r.app.status->stringValue(), status);
        // The pop-up keeps the device's own name through the translation pass.
        QVERIFY(r.app.devicePopup->itemText(1).endsWith(": " + deviceName));
        QCOMPARE(r.app.playback.outputUID.value_or(kNone), pick);
        QCOMPARE(storedUID(), pick.isEmpty() ? "(absent)" : pick);
        QCOMPARE(r.hw().writeCalls().total(), 0); // choosing is not a device write
    }

    // Choosing a device moves the loaded player to it; choosing the system
    // default moves it back at once.
    void chosenDeviceTakesThePlayer() {
        RiggedApp r(test::twoOutputs(), SimOutputs{SimClock::Manual, {}});
        r.app.playback.audio = test::openPlayer(r, "choice.wav");
        QVERIFY(r.app.playback.audio && r.app.playback.audio->prepareToPlay());

        choose(r.app, kA);
        QCOMPARE(r.app.playback.audio->outputDevice(), kA);
        choose(r.app, kNone);
        QCOMPARE(r.app.playback.audio->outputDevice(), QString());
    }

    // A device that does not open: the player stays where it plays, the
    // earlier choice stays stored and selected, and the failure is shown.
    void aDeviceThatDoesNotOpenKeepsTheEarlierChoice() {
        auto failing = std::make_shared<SimSinkControl>(SimClock::Manual);
        failing->failOpen = true;
        RiggedApp r(test::twoOutputs(), SimOutputs{SimClock::Manual, {{kA, failing}}});
        UserDefaults().set(keys::kOutputUID, kB);
        r.app.playback.outputUID = kB;
        r.app.playback.audio = test::openPlayer(r, "refused.wav");
        r.app.playback.rateMatchOn = true;
        QVERIFY(r.app.playback.audio && r.app.playback.audio->setOutputDevice(kB));
        QVERIFY(r.app.playback.audio->prepareToPlay());
        const int writes = r.hw().writeCalls().total();

        choose(r.app, kA);
        QCOMPARE(r.app.playback.audio->outputDevice(), kB);
        QCOMPARE(r.app.playback.outputUID, std::optional(kB));
        QCOMPARE(storedUID(), kB);
        QCOMPARE(r.app.devicePopup->currentText(), QString("Output: Analog B"));
        QCOMPARE(r.app.status->stringValue(), QString("Can't open the output device: DAC A"));
        QCOMPARE(r.hw().writeCalls().total(), writes); // no rate set on either device
    }

    void hardwareVolume_data() { addRows(hwCases); }
    void hardwareVolume() {
        const HwCase& c = test::currentCase(hwCases);
        SimRig rig = test::twoOutputs();
        c.rig(rig);
        RiggedApp r(rig);
        r.app.views.volume->setDoubleValue(c.slider);
        r.app.updateHW();
        c.act(r);
        QCOMPARE(r.app.views.volume->doubleValue(), c.expectedSlider);
        QCOMPARE(r.app.volDB->text(), c.db);
        QCOMPARE(r.hw().writeCalls().volume, c.volumeWrites);
        if (c.aMain)
            QCOMPARE(r.hw().device(kA)->volume[0].value, *c.aMain);
    }

    void volumeElements_data() { addRows(elementCases); }
    void volumeElements() {
        const ElementCase& c = test::currentCase(elementCases);
        SimRig rig = test::twoOutputs();
        deviceIn(rig, kB).volume = c.controls;
        if (c.readsFail)
            deviceIn(rig, kB).failing.insert(SimOp::Volume);
        RiggedApp r(rig);
        QCOMPARE(r.app.volumeElements(r.hw().idOf(kB)), c.elements);
        const std::optional<double> v = r.app.deviceVolume();
        QCOMPARE(v.has_value(), c.volume.has_value());
        if (v)
            QVERIFY2(std::abs(*v - *c.volume) < 1e-12, qPrintable(QString::number(*v)));
    }

    void noDeviceMeansNoHardwareVolume() {
        SimRig rig = test::twoOutputs();
        rig.defaultOutputUid.reset();
        RiggedApp r(rig);
        r.app.views.volume->setDoubleValue(60);
        r.app.updateHW();
        QVERIFY(!r.app.playback.hwVol);
        QVERIFY(!r.app.deviceVolume());
        r.app.setDeviceVolume(0.5);
        QCOMPARE(r.hw().writeCalls().volume, 0);
        QCOMPARE(r.app.views.volume->doubleValue(), 60.0);
    }

    void dacLabel_data() { addRows(dacCases); }
    void dacLabel() {
        const DacCase& c = test::currentCase(dacCases);
        SimRig rig = test::twoOutputs();
        c.device(deviceIn(rig, kB));
        RiggedApp r(rig);
        // The rig stands for real hardware unless the row says otherwise.
        r.platform.isSimulated = c.simulated;
        if (c.effects)
            test::fakes(r.app).analysers.fxSignature = [] { return std::optional<QString>("eq"); };
        r.app.refreshDACLabel();
        QCOMPARE(r.app.dacLabel->text(), c.text);
    }

    void deviceMenu_data() {
        QTest::addColumn<QString>("chosenBefore"); // "" = the system default
        QTest::addColumn<int>("change");           // a MenuChange
        QTest::addColumn<QString>("pick");         // the title of the item picked
        QTest::addColumn<QString>("items");        // the menu as built, "*" = checked
        QTest::addColumn<QString>("chosenAfter");
        QTest::addColumn<int>("popupIndex"); // selected afterwards
        const int nothing = int(MenuChange::Nothing), replug = int(MenuChange::ReplugA);
        const int unplug = int(MenuChange::UnplugA);
        QTest::newRow("picking the first device")
            << kNone << nothing << "DAC A"
            << "System default output*|DAC A|Analog B" << kA << 1;
        QTest::newRow("picking the system default")
            << kA << nothing << "System default output"
            << "System default output|DAC A*|Analog B" << kNone << 0;
        QTest::newRow("a pick after the list order changed takes the device by UID")
            << kNone << replug << "DAC A"
            << "System default output*|DAC A|Analog B" << kA << 2;
        QTest::newRow("a pick after the device vanished changes nothing")
            << kB << unplug << "DAC A"
            << "System default output|DAC A|Analog B*" << kB << 1;
        QTest::newRow("a pick after the device vanished, before the tick noticed")
            << kNone << unplug << "DAC A"
            << "System default output*|DAC A|Analog B" << kNone << 0;
    }
    void deviceMenu() {
        QFETCH(QString, chosenBefore);
        QFETCH(int, change);
        QFETCH(QString, pick);
        QFETCH(QString, items);
        QFETCH(QString, chosenAfter);
        QFETCH(int, popupIndex);
        RiggedApp r(test::twoOutputs());
        if (!chosenBefore.isEmpty())
            choose(r.app, chosenBefore);
        const QString statusBefore = r.app.status->stringValue();
        const QString storedBefore = storedUID();

        r.app.showDeviceMenu(nullptr);
        QVERIFY(r.app.deviceMenu);
        QCOMPARE(menuItems(*r.app.deviceMenu), items.split('|'));
        if (MenuChange(change) == MenuChange::ReplugA)
            replugA(r);
        else if (MenuChange(change) == MenuChange::UnplugA)
            r.hw().unplug(kA);
        QAction* item = nullptr;
        for (QAction* a : r.app.deviceMenu->actions())
            if (a->text() == pick)
                item = a;
        QVERIFY(item);
        item->trigger();

        QCOMPARE(r.app.playback.outputUID.value_or(kNone), chosenAfter);
        QCOMPARE(r.app.devicePopup->currentIndex(), popupIndex);
        if (chosenAfter == chosenBefore) {
            // Nothing chosen: no message, nothing stored.
            QCOMPARE(r.app.status->stringValue(), statusBefore);
            QCOMPARE(storedUID(), storedBefore);
        } else {
            QCOMPARE(storedUID(), chosenAfter.isEmpty() ? "(absent)" : chosenAfter);
        }
    }

    // The check mark follows the chosen UID wherever the device now stands.
    void menuMarksTheChosenDeviceByUid() {
        RiggedApp r(test::twoOutputs());
        choose(r.app, kA);
        replugA(r);
        r.app.showDeviceMenu(nullptr);
        QCOMPARE(menuItems(*r.app.deviceMenu),
                 (QStringList{"System default output", "Analog B", "DAC A*"}));
    }
};

QL_TEST_MAIN(OutputChoiceTest)
#include "OutputChoiceTest.moc"
