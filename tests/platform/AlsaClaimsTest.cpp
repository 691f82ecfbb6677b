// Guards against: a device taken from another program, or never given back.
// The ALSA hardware backend on a fake alsa-lib: exclusive use, card
// reservations, readying our own stream, and the start-up choice of platform.
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/sim/SimRig.h"

#include "AlsaDesk.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <cmath>

using namespace ql::platform;
using namespace ql::platform::alsa;
using namespace ql::test;

Q_DECLARE_METATYPE(ql::platform::PhysicalFormat)

class AlsaClaimsTest : public QObject {
    Q_OBJECT
private slots:
    // ---- exclusive use ----

    void exclusiveOwner_data() {
        QTest::addColumn<QList<int>>("nodeHolders"); // pids holding pcmC1D0p
        QTest::addColumn<bool>("busy");              // opening answers EBUSY
        QTest::addColumn<int>("owner");
        QTest::newRow("free") << QList<int>{} << false << kNoOwner;
        QTest::newRow("a sound server holds it") << QList<int>{1234} << true << 1234;
        QTest::newRow("lowest visible holder") << QList<int>{900, 77} << true << 77;
        QTest::newRow("busy, holder hidden from us") << QList<int>{} << true << kUnknownOwner;
        QTest::newRow("our own engine holds it") << QList<int>{kSelf} << true << kSelf;
    }
    void exclusiveOwner() {
        QFETCH(QList<int>, nodeHolders);
        QFETCH(bool, busy);
        QFETCH(int, owner);
        auto s = desk();
        if (busy)
            s->cards[1].pcms[0].openError = -EBUSY;
        Rig rig(s);
        for (int pid : nodeHolders)
            rig.holdNode(pid, 1, 0);
        QCOMPARE(rig.hw->exclusiveOwner(rig.id(kDac)), std::optional(owner));
        QCOMPARE(rig.s->holds.size(), std::size_t(0)); // a look leaves nothing open
    }

    void claimHoldsTheDeviceUntilRelease() {
        Rig rig;
        const DeviceId id = rig.id(kDac);
        QVERIFY(rig.hw->setExclusiveOwner(id, kSelf));
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kSelf));
        QVERIFY(rig.hw->heldPcm(id) != 0);
        QVERIFY(rig.s->isHeld(kDac));
        QVERIFY(rig.hw->setExclusiveOwner(id, kSelf)); // again: already ours
        QCOMPARE(rig.s->holds.size(), std::size_t(1));
        QVERIFY(rig.hw->setExclusiveOwner(id, kNoOwner));
        QVERIFY(!rig.s->isHeld(kDac));
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kNoOwner));
    }

    void claimsForOthersOrOfOthersFail() {
        Rig rig;
        const DeviceId id = rig.id(kDac);
        QVERIFY(!rig.hw->setExclusiveOwner(id, 999)); // not our pid
        QVERIFY(!rig.hw->setExclusiveOwner(id, 0));
        rig.holdNode(1234, 1, 0);
        QVERIFY(!rig.hw->setExclusiveOwner(id, kNoOwner)); // only its holder lets go
        QVERIFY(!rig.hw->setExclusiveOwner(kNoDevice, kSelf));
    }

    void aBusyClaimFailsAtOnce() {
        auto s = desk();
        s->cards[1].pcms[0].openError = -EBUSY;
        Rig rig(s);
        const int opens = rig.s->pcmOpens;
        QVERIFY(!rig.hw->setExclusiveOwner(rig.id(kDac), kSelf));
        // One open, answered "busy", no retries without a reservation.
        QCOMPARE(rig.s->pcmOpens, opens + 1);
        QVERIFY(rig.s->holds.empty());
        QCOMPARE(rig.hw->exclusiveOwner(rig.id(kDac)), std::optional(kUnknownOwner));
    }

    void claimAsksTheReservationHolderFirst_data() {
        QTest::addColumn<int>("answer"); // CardReserver::Outcome
        QTest::addColumn<int>("busyOpens");
        QTest::addColumn<bool>("claimed");
        QTest::addColumn<bool>("stillReserved");
        using O = CardReserver::Outcome;
        QTest::newRow("server lets go") << int(O::Acquired) << 0 << true << true;
        QTest::newRow("server keeps it") << int(O::Refused) << 0 << false << false;
        QTest::newRow("no reservation system") << int(O::Unavailable) << 0 << true << false;
        QTest::newRow("server closes a moment late") << int(O::Acquired) << 2 << true << true;
        QTest::newRow("server lets go but the card stays busy")
            << int(O::Acquired) << 100 << false << false;
    }
    void claimAsksTheReservationHolderFirst() {
        QFETCH(int, answer);
        QFETCH(int, busyOpens);
        QFETCH(bool, claimed);
        QFETCH(bool, stillReserved);
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome(answer);
        rig.s->busyCountdown[kDac] = busyOpens;
        const int opens = rig.s->pcmOpens;
        QCOMPARE(rig.hw->setExclusiveOwner(rig.id(kDac), kSelf), claimed);
        QCOMPARE(rig.reserver->asked, std::vector<int>{1});
        QCOMPARE(rig.s->isHeld(kDac), claimed);
        QCOMPARE(rig.reserver->held.count(1) == 1, stillReserved);
        if (answer == int(CardReserver::Outcome::Refused))
            QCOMPARE(rig.s->pcmOpens, opens); // the server keeps it: no open at all
        if (claimed) {
            QVERIFY(rig.hw->setExclusiveOwner(rig.id(kDac), kNoOwner));
            QVERIFY(rig.reserver->held.empty());
        }
    }

    void theReservationIsTheCardsNotTheDevices() {
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome::Acquired;
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kAnalog), kSelf));
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kHdmi), kSelf));
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kAnalog), kNoOwner));
        QVERIFY(rig.reserver->released.empty()); // HDMI still plays on card 0
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kHdmi), kNoOwner));
        QCOMPARE(rig.reserver->released, std::vector<int>{0});
    }

    void aHigherPriorityRequestClosesWhatWeHold() {
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome::Acquired;
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kDac), kSelf));
        QVERIFY(rig.reserver->onReleaseRequested);
        QVERIFY(rig.reserver->onReleaseRequested(1));
        QVERIFY(!rig.s->isHeld(kDac));
        rig.reserver->onLost(1);
        QCOMPARE(rig.hw->exclusiveOwner(rig.id(kDac)), std::optional(kNoOwner));
    }

    void aPlayingStreamWithoutAnEngineToCloseItKeepsTheCard() {
        Rig rig(desk(), true);
        const DeviceId id = rig.id(kDac);
        rig.hw->noteStreamOpened(id, 96000, PcmFormat::S32_LE, 2);
        QVERIFY(!rig.reserver->onReleaseRequested(1));
        // Nor can we give it back ourselves while the stream holds it.
        QVERIFY(!rig.hw->setExclusiveOwner(id, kNoOwner));
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kSelf));
        int closed = 0;
        bool playing = true;
        rig.hw->onReleaseStream = [&](DeviceId d) {
            if (playing)
                return false;
            ++closed;
            rig.hw->noteStreamClosed(d);
            return true;
        };
        QVERIFY(!rig.reserver->onReleaseRequested(1)); // refused while it plays
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kSelf));
        playing = false; // paused or idle: the stream closes, the card goes
        QVERIFY(rig.reserver->onReleaseRequested(1));
        QCOMPARE(closed, 1);
        rig.hw->noteStreamOpened(id, 96000, PcmFormat::S32_LE, 2);
        QVERIFY(!rig.hw->setExclusiveOwner(id, kNoOwner)); // a pause's give-back keeps it
        QCOMPARE(closed, 1);
    }

    void aVanishedCardLetsItsHoldGo() {
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome::Acquired;
        QVERIFY(rig.hw->setExclusiveOwner(rig.id(kDac), kSelf));
        rig.s->cards.pop_back();
        rig.hw->devices();
        QVERIFY(rig.s->holds.empty());
        QVERIFY(rig.reserver->held.empty());
    }

    void destructionGivesEverythingBack() {
        auto s = desk();
        {
            Rig rig(s, true);
            rig.reserver->answer = CardReserver::Outcome::Acquired;
            QVERIFY(rig.hw->setExclusiveOwner(rig.id(kDac), kSelf));
            rig.hw.reset();
        }
        QVERIFY(s->holds.empty());
    }

    // ---- readying a stream ----

    void prepareStream_data() {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<int>("answer"); // CardReserver::Outcome
        QTest::addColumn<int>("busyOpens");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<bool>("reserved");
        // Its rates asked first, while the card is busy: the failed probe
        // is kept for a while, but must not stand in for the stream's own.
        QTest::addColumn<bool>("ratesAskedBefore");
        using O = CardReserver::Outcome;
        QTest::newRow("server lets go") << kDac << int(O::Acquired) << 0 << true << true << false;
        QTest::newRow("server closes a moment late")
            << kDac << int(O::Acquired) << 2 << true << true << false;
        QTest::newRow("busy for good") << kDac << int(O::Acquired) << 100 << false << false << false;
        QTest::newRow("server lets go after a rate probe found the card busy")
            << kDac << int(O::Acquired) << 1 << true << true << true;
        QTest::newRow("the shared device needs nobody's leave")
            << "default" << int(O::Refused) << 0 << true << false << false;
    }
    void prepareStream() {
        QFETCH(QString, uid);
        QFETCH(int, answer);
        QFETCH(int, busyOpens);
        QFETCH(bool, ready);
        QFETCH(bool, reserved);
        QFETCH(bool, ratesAskedBefore);
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome(answer);
        rig.s->busyCountdown[kDac] = busyOpens;
        const DeviceId id = rig.id(uid);
        if (ratesAskedBefore) {
            QVERIFY(!rig.hw->availableNominalRates(id));
            QVERIFY(!rig.hw->availableNominalRates(id)); // the failure kept: not opened again
            QCOMPARE(rig.s->busyCountdown[kDac], 0);
        }
        QCOMPARE(rig.hw->prepareStream(id), ready);
        QCOMPARE(!rig.reserver->held.empty(), reserved);
        QVERIFY(rig.s->holds.empty()); // the stream opens it, not us
        const auto format = rig.hw->physicalFormat(rig.stream(uid));
        // Ready means the engine can read the format it is to open with.
        if (ready)
            QVERIFY(format && pcmFormatOf(*format));
        rig.hw->endStream(id);
        QVERIFY(rig.reserver->held.empty());
    }

    void aClaimGivesWayToOurOwnStream() {
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome::Acquired;
        const DeviceId id = rig.id(kDac);
        QVERIFY(rig.hw->setExclusiveOwner(id, kSelf));
        QVERIFY(rig.hw->prepareStream(id));
        QVERIFY(!rig.s->isHeld(kDac));             // free for the stream to open
        QCOMPARE(rig.reserver->held.count(1), 1u); // still ours against the server
        QCOMPARE(rig.reserver->asked.size(), 1u);
        rig.hw->noteStreamOpened(id, 44100, PcmFormat::S32_LE, 2);
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kSelf));
        QCOMPARE(rig.hw->physicalFormat(rig.stream(kDac)),
                 std::optional(toPhysicalFormat(PcmFormat::S32_LE, 44100, 2)));
        rig.hw->endStream(id); // the stream is still open: nothing given back
        QCOMPARE(rig.reserver->held.count(1), 1u);
        rig.hw->noteStreamClosed(id);
        rig.hw->endStream(id);
        QVERIFY(rig.reserver->held.empty());
    }

    // ---- start-up choice ----

    void startupChoice_data() {
        QTest::addColumn<bool>("defaultOpens");
        QTest::addColumn<int>("cardOpenError"); // for every hw PCM; 1 = no cards at all
        QTest::addColumn<bool>("simulated");
        QTest::newRow("a desktop") << true << 0 << false;
        QTest::newRow("cards busy with another program") << false << -EBUSY << false;
        QTest::newRow("cards that do not open") << false << -EIO << true;
        QTest::newRow("no card, no default") << false << 1 << true;
        QTest::newRow("only the shared default") << true << 1 << false;
    }
    void startupChoice() {
        QFETCH(bool, defaultOpens);
        QFETCH(int, cardOpenError);
        QFETCH(bool, simulated);
        auto s = desk();
        s->defaultOpens = defaultOpens;
        if (cardOpenError == 1)
            s->cards.clear();
        for (auto& c : s->cards)
            for (auto& p : c.pcms)
                p.openError = cardOpenError;
        auto p = alsaPlatform(std::make_unique<AlsaHardware>(std::make_unique<FakeAlsa>(s)));
        // No ALSA platform: the caller falls back to the simulated rig.
        QCOMPARE(!p.has_value(), simulated);
        if (p) {
            QVERIFY(!p->isSimulated && p->hardware && p->outputs);
            QVERIFY(p->outputs->defaultDevice() != kNoDevice);
        }
    }
};

QL_TEST_UNIT(AlsaClaimsTest)
#include "AlsaClaimsTest.moc"
