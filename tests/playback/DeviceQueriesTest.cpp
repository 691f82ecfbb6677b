// Guards against: the sound cards listed again by every tick while a track plays (each listing
// opens every control device), a card plugged or unplugged while playing not shown in the
// device list within 10 s, and a device opened again by every tick to learn its rates (the
// gapless and crossfade checks ask on each whether the playing track needs the effects road,
// which rests on them when upsampling is chosen): rates that answered are kept, and a device
// that would not open (held by another program) is not tried again within the ten seconds.
// The program on the ALSA backend over a fake alsa-lib that counts its card listings, with a
// clock the test moves half a second a tick; the sound goes to a simulated sink.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/CardReserver.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimSink.h"

#include "CaseRows.h"
#include "FakeAlsa.h"
#include "FakeServices.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <functional>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using namespace ql::test;

namespace {

const QString kDac = QStringLiteral("hw:CARD=DAC,DEV=0");

FakeCard usbDac() {
    FakeCard dac;
    dac.info = {1, "DAC", "USB Audio DAC"};
    dac.pcms.push_back(pcm(1, 0, "USB Audio", capsOf({PcmFormat::S32_LE}, {44100, 48000})));
    return dac;
}

struct Program {
    std::shared_ptr<FakeAlsaState> s = std::make_shared<FakeAlsaState>();
    Platform platform;
    std::unique_ptr<App> app;
    std::chrono::steady_clock::time_point now =
        std::chrono::steady_clock::time_point() + std::chrono::hours(1);

    explicit Program(bool withDac) {
        UserDefaults().clear();
        s->defaultOpens = true;
        FakeCard onboard;
        onboard.info = {0, "PCH", "HDA Intel PCH"};
        onboard.pcms.push_back(
            pcm(0, 0, "ALC892 Analog", capsOf({PcmFormat::S16_LE}, {44100, 48000})));
        s->cards.push_back(onboard);
        if (withDac)
            s->cards.push_back(usbDac());
        alsa::AlsaHardware::Options options;
        options.clock = [this] { return now; };
        auto hw =
            std::make_unique<alsa::AlsaHardware>(std::make_unique<FakeAlsa>(s), std::move(options));
        alsa::AlsaHardware& alsaHw = *hw;
        platform.hardware = std::move(hw);
        auto sink = std::make_shared<SimSinkControl>(SimClock::RealTime);
        platform.outputs = std::make_unique<OutputEngines>(
            alsaHw, [sink](DeviceId) { return std::make_unique<SimSink>(sink); });
        app = std::make_unique<App>(platform, fakeServices());
        App& a = *app;
        a.playback.maxQuality = false;
        // The signal-path report reads the device of its own; only the
        // checks that run while a track plays count here.
        fakes(a).observer.tickStep = [](const char* step) {
            return QByteArray(step) == "refreshSignalPanel";
        };
    }
    bool play() {
        const QString path =
            writeTemp(QStringLiteral("steady.wav"),
                      {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, .frames = 30 * 44100});
        app->play(Track{1, path, QStringLiteral("Steady"), {}, {}, 30, {}});
        return QTest::qWaitFor([this] { return app->isPlaying(); }, 10'000);
    }
    bool listed(const QString& uid) const {
        for (const auto& e : app->playback.deviceList)
            if (e.uid == uid)
                return true;
        return false;
    }
};

struct Case {
    const char* name;
    int upMode;
    bool dacFirst; // the USB DAC is plugged in from the start
    // Done at the given tick (1 … 20) of the ten seconds.
    int at;
    std::function<void(Program&)> change;
    // Card listings in the ten seconds: fewest and most. Where the stamp
    // cannot be read, how many depends on how often a step asks (at most
    // one each kRelistInterval), but never only the first.
    std::pair<int, int> listings;
    int opens;      // PCM opens in them (each a probe of a device's rates)
    bool dacListed; // the USB DAC in the device list at the end
    bool playing = true; // at the end
};

// Where the cards' stamp cannot be read, the list is made again this often.
constexpr int kRelistings =
    int(std::chrono::seconds(10) / std::chrono::seconds(alsa::AlsaHardware::kRelistInterval));

// clang-format off
const std::vector<Case> cases{
    {"playing steadily: no listing", 0, false, 1, [](Program&) {}, {0, 0}, 0, false},
    {"playing with upsampling chosen: no listing, no device opened", 1, false, 1, [](Program&) {}, {0, 0}, 0, false},
    {"the upsampling mode changes: no device opened", 1, false, 10,
     [](Program& p) { p.app->playback.upMode = 2; }, {0, 0}, 0, false},
    {"upsampling to a DAC chosen: its rates probed once", 1, true, 1,
     [](Program& p) { p.app->playback.outputUID = kDac; }, {0, 0}, 1, true},
    {"upsampling to a DAC another program holds: opened once, not at every tick", 1, true, 1,
     [](Program& p) { p.s->busyCountdown[kDac] = 1000; p.app->playback.outputUID = kDac; },
     {0, 0}, 1, true},
    // The one open is the pause's own look at who holds the device it gives back.
    {"paused with upsampling to a DAC another program holds: no tick opens it", 1, true, 1,
     [](Program& p) { p.s->busyCountdown[kDac] = 1000; p.app->playback.outputUID = kDac; p.app->toggle(); },
     {0, 0}, 1, true, false},
    {"a DAC plugged while playing: in the device list within 10 s", 0, false, 2,
     [](Program& p) { p.s->cards.push_back(usbDac()); }, {1, 1}, 0, true},
    {"a DAC unplugged while playing: gone from the device list within 10 s", 0, true, 2,
     [](Program& p) { p.s->cards.pop_back(); }, {1, 1}, 0, false},
    {"a new PCM on a card already there: listed once", 0, true, 2,
     [](Program& p) { p.s->cards[0].pcms.push_back(pcm(0, 3, "HDMI 0", capsOf({PcmFormat::S16_LE}, {48000}))); },
     {1, 1}, 0, true},
    {"the device menu opening: listed once, then the list is kept", 0, false, 5,
     [](Program& p) { p.app->showDeviceMenu(nullptr); }, {1, 1}, 0, false},
    {"no stamp to read: listed again every few seconds", 0, true, 1,
     [](Program& p) { p.s->stampUnreadable = true; }, {2, kRelistings}, 0, true},
    {"no stamp to read: a DAC unplugged is gone within 10 s", 0, true, 1,
     [](Program& p) { p.s->stampUnreadable = true; p.s->cards.pop_back(); }, {2, kRelistings}, 0, false},
};
// clang-format on

} // namespace

class DeviceQueriesTest : public QObject {
    Q_OBJECT
private slots:
    void tenSecondsOfPlaying_data() { addRows(cases); }
    void tenSecondsOfPlaying() {
        const Case& c = currentCase(cases);
        Program p(c.dacFirst);
        p.app->playback.upMode = c.upMode;
        QVERIFY(p.play());
        p.s->cardListings = 0;
        p.s->pcmOpens = 0;
        // The ten-second step (the device list) falls on the last tick.
        p.app->core.ticks = 1;
        for (int t = 1; t <= 20; ++t) {
            if (t == c.at)
                c.change(p);
            p.app->extrasTick();
            ++p.app->core.ticks;
            p.now += std::chrono::milliseconds(500);
        }
        QCOMPARE(p.app->isPlaying(), c.playing);
        QVERIFY2(p.s->cardListings >= c.listings.first && p.s->cardListings <= c.listings.second,
                 qPrintable(QString::number(p.s->cardListings)));
        QCOMPARE(p.s->pcmOpens, c.opens);
        QCOMPARE(p.listed(kDac), c.dacListed);
    }
};

QL_TEST_MAIN(DeviceQueriesTest)
#include "DeviceQueriesTest.moc"
