// Guards against: the sound cards listed again on every query (a playing track's ticks opening
// every control device many times a second), or a plugged or unplugged card not shown in time.
// The ALSA backend on a fake alsa-lib that counts its listings, with a clock the test moves.
#include "platform/alsa/AlsaSink.h"

#include "AlsaDesk.h"
#include "CaseRows.h"
#include "TestUnits.h"

#include <chrono>
#include <functional>
#include <thread>

using namespace ql::platform;
using namespace ql::platform::alsa;
using namespace ql::test;

namespace {

using Clock = std::chrono::steady_clock;

struct Notices {
    std::shared_ptr<FakeAlsaState> s = desk();
    QTemporaryDir proc;
    Clock::time_point now = Clock::time_point() + std::chrono::hours(1);
    std::unique_ptr<AlsaHardware> hw;

    Notices() {
        AlsaHardware::Options o;
        o.procRoot = proc.path();
        o.selfPid = kSelf;
        o.clock = [this] { return now; };
        hw = std::make_unique<AlsaHardware>(std::make_unique<FakeAlsa>(s), std::move(o));
    }
    // What the ticks of half a second ask while a track plays: the device the
    // player goes to, its rates and format, its volume, and every 10 s the list.
    void tick(int n) {
        const auto id = hw->deviceForUid(kDac).value_or(kNoDevice);
        if (n % 20 == 0)
            for (const DeviceId d : hw->devices().value_or(std::vector<DeviceId>{}))
                hw->uid(d), hw->name(d), hw->hasOutput(d);
        hw->defaultOutput();
        hw->nominalRate(id);
        hw->availableNominalRates(id);
        for (const StreamId st : hw->outputStreams(id).value_or(std::vector<StreamId>{}))
            hw->physicalFormat(st);
        hw->volume(id, 0);
        now += std::chrono::milliseconds(500);
    }
    bool lists(const QString& uid) const {
        for (const DeviceId d : hw->devices().value_or(std::vector<DeviceId>{}))
            if (hw->uid(d) == uid)
                return true;
        return false;
    }
};

struct Case {
    const char* name;
    // Done after the construction's own listing; then `ticks` ticks run.
    std::function<void(Notices&)> change;
    int ticks;
    int listings; // how many times the cards were listed in all
    bool dacListed;
};

FakeCard unplug(Notices& n) {
    FakeCard dac = n.s->cards[1];
    n.s->cards.pop_back();
    return dac;
}

// clang-format off
const std::vector<Case> cases{
    {"10 s of playing on a steady desk list nothing", [](Notices&) {}, 20, 0, true},
    {"a card unplugged is gone at the next query", [](Notices& n) { unplug(n); }, 1, 1, false},
    {"a card plugged shows at the next query",
     [](Notices& n) { FakeCard dac = unplug(n); n.hw->devices(); n.s->cards.push_back(dac); }, 1, 2, true},
    {"a rescan lists once, then the list is kept again",
     [](Notices& n) { n.hw->rescan(); }, 20, 1, true},
    {"a new PCM on a present card is a change",
     [](Notices& n) { n.s->cards[0].pcms.push_back(pcm(0, 7, "HDMI 1", capsOf({PcmFormat::S16_LE}, {48000}))); },
     1, 1, true},
    {"no stamp: listed again every few seconds",
     [](Notices& n) { n.s->stampUnreadable = true; }, 20,
     int(10'000 / std::chrono::milliseconds(AlsaHardware::kRelistInterval).count()), true},
    {"no stamp: an unplug shows within 10 s",
     [](Notices& n) { n.s->stampUnreadable = true; unplug(n); }, 20,
     int(10'000 / std::chrono::milliseconds(AlsaHardware::kRelistInterval).count()), false},
};
// clang-format on

} // namespace

class AlsaDeviceNoticesTest : public QObject {
    Q_OBJECT
private slots:
    void cardsAreListedOnlyWhenTheyChange_data() { addRows(cases); }
    void cardsAreListedOnlyWhenTheyChange() {
        const Case& c = currentCase(cases);
        Notices n;
        QVERIFY(n.lists(kDac));
        n.s->cardListings = 0;
        c.change(n);
        for (int t = 1; t <= c.ticks; ++t)
            n.tick(t);
        QCOMPARE(n.lists(kDac), c.dacListed);
        QCOMPARE(n.s->cardListings, c.listings);
    }

    // A stream that does not open (the fake's card is not on this machine, so
    // alsa-lib refuses it as it refuses a card just pulled) has the list made
    // again at its next use, whatever the stamp says.
    void aStreamThatFailsToOpenHasTheCardsListedAgain() {
        Notices n;
        // A card id no machine has.
        n.s->cards[1].info.id = QStringLiteral("QlNoSuchCard");
        const DeviceId dac =
            n.hw->deviceForUid(QStringLiteral("hw:CARD=QlNoSuchCard,DEV=0")).value_or(kNoDevice);
        QVERIFY(dac != kNoDevice);
        n.s->cardListings = 0;
        AlsaSink sink(*n.hw, dac);
        QString error;
        QVERIFY(!sink.open({44100, SampleFormat::S32, 2}, error));
        QVERIFY(!error.isEmpty());
        n.hw->devices();
        n.hw->devices();
        QCOMPARE(n.s->cardListings, 1);
    }

    // A rescan asked from another thread (a failing device's) is taken at
    // the next query on the main thread.
    void aRescanFromAnotherThreadIsTaken() {
        Notices n;
        n.s->cardListings = 0;
        std::thread([&] { n.hw->rescan(); }).join();
        n.hw->devices();
        n.hw->devices();
        QCOMPARE(n.s->cardListings, 1);
    }
};

QL_TEST_UNIT(AlsaDeviceNoticesTest)
#include "AlsaDeviceNoticesTest.moc"
