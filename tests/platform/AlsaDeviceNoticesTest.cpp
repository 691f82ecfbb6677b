// Guards against: a card that vanished under a stream, or a rescan asked for from another
// thread, not making the list of sound cards again at the next query.
// The ALSA backend on a fake alsa-lib that counts its listings. (How often the cards are
// listed while a track plays, and a card plugged or unplugged meanwhile: DeviceQueriesTest,
// through the program's own ticks.)
#include "platform/alsa/AlsaSink.h"

#include "AlsaDesk.h"
#include "TestUnits.h"

#include <QTest>

#include <chrono>
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
};

} // namespace

class AlsaDeviceNoticesTest : public QObject {
    Q_OBJECT
private slots:
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
