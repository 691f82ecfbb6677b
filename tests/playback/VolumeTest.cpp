// Guards against: a volume the user did not ask for: too loud, wrong keys, wrong label.
#include "app/UserDefaults.h"
#include "playback/VolumeRules.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <QKeyEvent>
#include <QLabel>

#include <cmath>
#include <functional>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::deviceIn;
using test::openPlayer;
using test::RiggedApp;

namespace {

const QString& kB = test::kAnalogB;

// Two devices, B the default, whose hardware volume `volume` describes.
SimRig rigWithDefaultVolume(std::array<SimVolumeElement, 3> volume) {
    SimRig rig = test::twoOutputs();
    deviceIn(rig, kB).volume = volume;
    return rig;
}
const std::array<SimVolumeElement, 3> kNoVolume{};
const std::array<SimVolumeElement, 3> kMainVolume{{{true, true, 0.5}, {}, {}}};

// ---- effective volume ------------------------------------------------------------
struct VolCase {
    const char* name;
    std::array<SimVolumeElement, 3> device; // of the default device
    std::function<void(App&)> set;
    bool passOtherTrack; // effVol for a track that is not the current one
    float expected;
};

const Track kCurrent{1, "/m/current.flac", {}, {}, {}, 200, {}};
const Track kOther{2, "/m/other.flac", {}, {}, {}, 200, {}};

// Leveling on, the current track measured at `lufs`.
std::function<void(App&)> leveled(double slider, double lufs, bool maxQuality = false) {
    return [=](App& a) {
        a.views.volume->setDoubleValue(slider);
        a.listening.levelingOn = true;
        a.playback.maxQuality = maxQuality;
        a.playback.loud[kCurrent.path] = lufs;
    };
}

const std::vector<VolCase> volCases{
    {"bit-perfect without hardware volume is exactly 1", kNoVolume,
     [](App& a) {
         leveled(30, -10)(a);
         a.playback.maxQuality = false;
         a.playback.bitPerfect = true;
         a.playback.sleepFactor = 0.5;
     },
     false, 1.0f},
    {"bit-perfect with hardware volume keeps the sleep fade", kMainVolume,
     [](App& a) {
         leveled(30, -10)(a);
         a.playback.bitPerfect = true;
         a.playback.sleepFactor = 0.5;
     },
     false, 0.5f},
    {"hardware volume: full scale, leveled", kMainVolume, leveled(30, -10), false, 0.501187f},
    {"a loud track is brought down to -16 LUFS", kNoVolume, leveled(100, -10), false, 0.501187f},
    {"a quiet track is never raised", kNoVolume, leveled(50, -20), false, 0.5f},
    {"maximum quality does not level", kNoVolume, leveled(100, -10, true), false, 1.0f},
    {"slider 0 with leveling is silent", kNoVolume, leveled(0, -10), false, 0.0f},
    {"the sleep fade halves it", kNoVolume,
     [](App& a) {
         a.views.volume->setDoubleValue(80);
         a.playback.sleepFactor = 0.5;
     },
     false, 0.4f},
    {"an unmeasured track keeps the slider level", kNoVolume,
     [](App& a) {
         leveled(80, -10)(a);
         a.playback.loud.clear();
     },
     false, 0.8f},
    {"a given track is leveled by its own loudness", kNoVolume,
     [](App& a) {
         leveled(100, -30)(a);
         a.playback.loud[kOther.path] = -10;
     },
     true, 0.501187f},
};

// ---- volume keys and buttons ------------------------------------------------------
// The default device's hardware volume in the key rows.
enum class DefaultVolume { None, Main, RightChannel, ReadOnly };

std::array<SimVolumeElement, 3> volumeOf(DefaultVolume v) {
    switch (v) {
    case DefaultVolume::None:
        return kNoVolume;
    case DefaultVolume::Main:
        return kMainVolume;
    case DefaultVolume::RightChannel:
        return {{{}, {}, {true, true, 0.5}}};
    case DefaultVolume::ReadOnly:
        return {{{true, false, 0.5}, {true, false, 0.5}, {true, false, 0.5}}};
    }
    return kNoVolume;
}

// A focused widget that counts the key events that reach it.
class KeyTarget final : public QWidget {
public:
    int received = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++received; }
    void keyReleaseEvent(QKeyEvent*) override { ++received; }
};

// One input: 'P' press, 'R' release, 'A' auto-repeated press of `key`; 'O'
// a press of another key; '-' and '+' the volume buttons.
void send(App& app, KeyTarget& target, Qt::Key key, QChar input) {
    const auto keyEvent = [&](QEvent::Type type, int k, bool autoRepeat) {
        QKeyEvent e(type, k, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&target, &e);
    };
    switch (input.toLatin1()) {
    case 'P':
        return keyEvent(QEvent::KeyPress, key, false);
    case 'R':
        return keyEvent(QEvent::KeyRelease, key, false);
    case 'A':
        return keyEvent(QEvent::KeyPress, key, true);
    case 'O':
        return keyEvent(QEvent::KeyPress, Qt::Key_A, false);
    case '-':
        return app.volDown();
    case '+':
        return app.volUp();
    }
    qFatal("unknown input");
}

} // namespace

class VolumeTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        UserDefaults().clear();
        L10n::setLanguage("en");
    }

    void effectiveVolume_data() { addRows(volCases); }
    void effectiveVolume() {
        const VolCase& c = test::currentCase(volCases);
        RiggedApp r(rigWithDefaultVolume(c.device));
        r.app.playback.maxQuality = false;
        r.app.playback.current = kCurrent;
        r.app.updateHW(); // hardware volume comes from the device, not from the test
        c.set(r.app);
        const float v = c.passOtherTrack ? r.app.effVol(kOther) : r.app.effVol();
        if (c.expected == 0.0f || c.expected == 1.0f)
            QCOMPARE(v, c.expected); // exact: no rounding may touch silence or full scale
        else
            QVERIFY2(std::abs(v - c.expected) < 1e-5f, qPrintable(QString::number(v)));
    }

    // The player gets the effective volume, scaled by a running crossfade.
    void applyVolumeSetsThePlayer() {
        RiggedApp r(rigWithDefaultVolume(kNoVolume), SimOutputs{SimClock::Manual, {}});
        r.app.applyVolume(); // no player: nothing to do, nothing to crash
        r.app.playback.audio = openPlayer(r, "current.wav");
        QVERIFY(r.app.playback.audio);
        r.app.views.volume->setDoubleValue(80);
        r.app.applyVolume();
        QCOMPARE(r.app.playback.audio->volume(), 0.8f);

        r.app.playback.fadingOut = openPlayer(r, "old.wav");
        r.app.playback.fadingOut->setVolume(0.9f);
        r.app.playback.fadeProgress = 0.25;
        r.app.applyVolume();
        QCOMPARE(r.app.playback.audio->volume(), 0.2f);
        QCOMPARE(r.app.playback.fadingOut->volume(), 0.9f); // the crossfade steps that one
    }

    // A move of the slider by the user drives the device when it has a volume
    // of its own, else the player; either way it is stored and shown.
    void sliderMoves_data() {
        QTest::addColumn<bool>("hardware");
        QTest::addColumn<float>("player");
        QTest::addColumn<double>("device");
        QTest::addColumn<QString>("label");
        // The simulated control has bare steps: a sound server's cubic law.
        QTest::newRow("hardware volume") << true << 1.0f << 0.64 << "-11.6dB";
        QTest::newRow("player volume") << false << 0.64f << 0.5 << "-3.9dB";
    }
    void sliderMoves() {
        QFETCH(bool, hardware);
        QFETCH(float, player);
        QFETCH(double, device);
        QFETCH(QString, label);
        SimRig rig = rigWithDefaultVolume(kMainVolume);
        if (!hardware)
            deviceIn(rig, kB).volume[0].settable = false;
        RiggedApp r(rig, SimOutputs{SimClock::Manual, {}});
        r.app.playback.maxQuality = false;
        r.app.updateHW();
        r.app.playback.audio = openPlayer(r, "moves.wav");
        r.app.views.volume->setValue(r.app.views.volume->maximum() * 64 /
                                     100); // the user drags to 64
        QCOMPARE(r.app.views.volume->doubleValue(), 64.0);
        QCOMPARE(UserDefaults().realIfPresent(keys::kPlayerVolume), std::optional(64.0));
        QCOMPARE(r.app.volDB->text(), label);
        QCOMPARE(r.app.playback.audio->volume(), player);
        QCOMPARE(r.hw().device(kB)->volume[0].value, device);
    }

    void volumeKeys_data() {
        QTest::addColumn<int>("device"); // a DefaultVolume
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<double>("slider");
        QTest::addColumn<double>("beforeMute");
        QTest::addColumn<double>("expectedSlider");
        QTest::addColumn<double>("expectedBeforeMute");
        QTest::addColumn<int>("reachedWidget"); // key events the widget still received
        const int None = int(DefaultVolume::None), Main = int(DefaultVolume::Main);
        const int RightChannel = int(DefaultVolume::RightChannel);
        const int ReadOnly = int(DefaultVolume::ReadOnly);
        const int mute = Qt::Key_VolumeMute, up = Qt::Key_VolumeUp, down = Qt::Key_VolumeDown;
        QTest::newRow("mute at 40") << None << mute << "PR" << 40. << 70. << 0. << 40. << 0;
        QTest::newRow("mute again restores 40")
            << None << mute << "PRPR" << 40. << 70. << 40. << 40. << 0;
        QTest::newRow("un-mute with 0 remembered gives 1")
            << None << mute << "P" << 0. << 0. << 1. << 0. << 0;
        QTest::newRow("an auto-repeated mute does nothing")
            << None << mute << "A" << 40. << 70. << 40. << 70. << 0;
        QTest::newRow("up at 98 stops at 100")
            << None << up << "PR" << 98. << 70. << 100. << 70. << 0;
        QTest::newRow("down at 3 stops at 0")
            << None << down << "PR" << 3. << 70. << 0. << 70. << 0;
        QTest::newRow("held up steps on every repeat")
            << None << up << "PAA" << 50. << 70. << 65. << 70. << 0;
        QTest::newRow("a release alone changes nothing")
            << None << up << "R" << 50. << 70. << 50. << 70. << 0;
        QTest::newRow("other keys pass") << None << up << "O" << 50. << 70. << 50. << 70. << 1;
        QTest::newRow("a default device with its own volume leaves the keys to the desktop")
            << Main << up << "PR" << 50. << 70. << 50. << 70. << 2;
        QTest::newRow("so does one with a settable channel")
            << RightChannel << mute << "P" << 50. << 70. << 50. << 70. << 1;
        QTest::newRow("a read-only device volume does not count")
            << ReadOnly << down << "P" << 50. << 70. << 45. << 70. << 0;
        QTest::newRow("the minus button at 3") << None << 0 << "-" << 3. << 70. << 0. << 70. << 0;
        QTest::newRow("the plus button at 98")
            << None << 0 << "+" << 98. << 70. << 100. << 70. << 0;
    }
    void volumeKeys() {
        QFETCH(int, device);
        QFETCH(int, key);
        QFETCH(QString, inputs);
        QFETCH(double, slider);
        QFETCH(double, beforeMute);
        QFETCH(double, expectedSlider);
        QFETCH(double, expectedBeforeMute);
        QFETCH(int, reachedWidget);
        RiggedApp r(rigWithDefaultVolume(volumeOf(DefaultVolume(device))));
        r.app.registerVolumeKeys();
        r.app.views.volume->setDoubleValue(slider);
        r.app.playback.volumeBeforeMute = beforeMute;
        KeyTarget target;
        for (const QChar input : inputs)
            send(r.app, target, Qt::Key(key), input);

        QCOMPARE(r.app.views.volume->doubleValue(), expectedSlider);
        QCOMPARE(r.app.playback.volumeBeforeMute, expectedBeforeMute);
        QCOMPARE(target.received, reachedWidget);
        if (expectedSlider != slider)
            QCOMPARE(UserDefaults().realIfPresent(keys::kPlayerVolume),
                     std::optional(expectedSlider));
        // Volume keys write the device only through hardware volume, which
        // the keys never see.
        QCOMPARE(r.hw().writeCalls().volume, 0);
    }

    void keyTooltipAndRemoval() {
        RiggedApp r(rigWithDefaultVolume(kNoVolume));
        r.app.registerVolumeKeys();
        r.app.registerVolumeKeys(); // once is enough: a second filter would step twice
        r.app.views.volume->setDoubleValue(70.5);
        KeyTarget target;
        send(r.app, target, Qt::Key_VolumeUp, 'P');
        QCOMPARE(r.app.views.volume->doubleValue(), 75.5);
        QCOMPARE(r.app.views.volume->toolTip(),
                 QString("Quavelark volume: 75% (HDMI: adjust with the keyboard)"));

        r.app.playback.volumeMonitors.clear(); // at quit
        send(r.app, target, Qt::Key_VolumeUp, 'P');
        QCOMPARE(r.app.views.volume->doubleValue(), 75.5);
        QCOMPARE(target.received, 1);
    }

    void repeatButton() {
        RiggedApp r(test::twoOutputs());
        r.app.repeatBtn->click();
        QVERIFY(r.app.playback.repeatOn);
        QCOMPARE(r.app.repeatBtn->contentTint(), Theme::accent());
        QCOMPARE(r.app.status->stringValue(), QString("🔁 Repeating the current track"));
        r.app.repeatBtn->click();
        QVERIFY(!r.app.playback.repeatOn);
        QCOMPARE(r.app.repeatBtn->contentTint(), QColor(Qt::white));
        QCOMPARE(r.app.status->stringValue(), QString("Repeat is off."));
    }

    void decibelLabel_data() {
        QTest::addColumn<double>("slider");
        QTest::addColumn<QString>("text");
        QTest::newRow("silent") << 0.0 << "−∞ dB";
        QTest::newRow("0.01 is still minus infinity") << 0.01 << "−∞ dB";
        QTest::newRow("just above 0.01") << 0.0101 << "-79.9dB";
        QTest::newRow("half") << 50.0 << "-6.0dB";
        QTest::newRow("full scale") << 100.0 << "0.0dB";
    }
    void decibelLabel() {
        QFETCH(double, slider);
        QFETCH(QString, text);
        QCOMPARE(volumeDbText(slider), text);
    }
};

QL_TEST_MAIN(VolumeTest)
#include "VolumeTest.moc"
