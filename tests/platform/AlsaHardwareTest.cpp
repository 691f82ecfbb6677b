// Guards against: devices, rates, formats or volumes misreported by the ALSA backend.
// The ALSA hardware backend on a fake alsa-lib: devices and UIDs, rates and
// formats asked on demand, and hardware volume.
#include "platform/alsa/AlsaFormats.h"

#include "AlsaDesk.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <cmath>

using namespace ql::platform;
using namespace ql::platform::alsa;
using namespace ql::test;

Q_DECLARE_METATYPE(ql::platform::PhysicalFormat)

class AlsaHardwareTest : public QObject {
    Q_OBJECT
private slots:
    // ---- devices ----

    void listsEveryPlaybackPcm_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("name");
        QTest::newRow("the shared default first") << 0 << "default"
                                                  << "Default output (shared)";
        QTest::newRow("onboard analog") << 1 << kAnalog << "HDA Intel PCH: ALC892 Analog";
        QTest::newRow("onboard hdmi") << 2 << kHdmi << "HDA Intel PCH: HDMI 0";
        QTest::newRow("usb dac") << 3 << kDac << "USB Audio DAC: USB Audio";
    }
    void listsEveryPlaybackPcm() {
        QFETCH(int, index);
        QFETCH(QString, uid);
        QFETCH(QString, name);
        Rig rig;
        const auto ids = rig.hw->devices();
        QVERIFY(ids && ids->size() == 4);
        const DeviceId id = (*ids)[std::size_t(index)];
        QCOMPARE(rig.hw->uid(id), std::optional(uid));
        QCOMPARE(rig.hw->name(id), std::optional(name));
        QVERIFY(rig.hw->hasOutput(id));
        QCOMPARE(rig.hw->deviceForUid(uid), std::optional(id));
    }

    void unknownUidsFindNothing_data() {
        QTest::addColumn<QString>("uid");
        QTest::newRow("absent device of a present card") << "hw:CARD=PCH,DEV=7";
        QTest::newRow("absent card") << "hw:CARD=Juli,DEV=0";
        QTest::newRow("case differs") << "hw:CARD=pch,DEV=0";
    }
    void unknownUidsFindNothing() {
        QFETCH(QString, uid);
        Rig rig;
        QVERIFY(!rig.hw->deviceForUid(uid).has_value());
    }

    void cardsWithUnnameableIdsAreLeftOut() {
        auto s = desk();
        s->cards[1].info.id = "USB DAC,1";
        Rig rig(s);
        QCOMPARE(rig.hw->devices()->size(), std::size_t(3));
    }

    void defaultOutput_data() {
        QTest::addColumn<bool>("defaultOpens");
        QTest::addColumn<bool>("withCards");
        QTest::addColumn<QString>("expected"); // "" = none
        QTest::newRow("default opens: it is the default") << true << true << "default";
        QTest::newRow("no default: the first card's first pcm") << false << true << kAnalog;
        QTest::newRow("only default") << true << false << "default";
        QTest::newRow("nothing at all") << false << false << "";
    }
    void defaultOutput() {
        QFETCH(bool, defaultOpens);
        QFETCH(bool, withCards);
        QFETCH(QString, expected);
        auto s = desk();
        s->defaultOpens = defaultOpens;
        if (!withCards)
            s->cards.clear();
        Rig rig(s);
        const auto d = rig.hw->defaultOutput();
        if (expected.isEmpty()) {
            QVERIFY(!d.has_value());
            QVERIFY(rig.hw->devices()->empty());
        } else {
            QVERIFY(d.has_value());
            QCOMPARE(rig.hw->uid(*d), std::optional(expected));
        }
    }

    void replugGivesNewIdsAndFollowsTheCardNumber() {
        Rig rig(desk(), true);
        const DeviceId before = rig.id(kDac);
        const StreamId streamBefore = rig.stream(kDac);
        ql::test::FakeCard dac = rig.s->cards[1];
        rig.s->cards.pop_back();
        QVERIFY(!rig.hw->deviceForUid(kDac));
        QVERIFY(!rig.hw->name(before));
        QVERIFY(!rig.hw->physicalFormat(streamBefore));
        // Back in another USB port: the kernel numbers it 2 now.
        dac.info.number = 2;
        for (auto& p : dac.pcms)
            p.info.card = 2;
        rig.s->cards.push_back(dac);
        const DeviceId after = rig.id(kDac);
        QVERIFY(after != kNoDevice && after != before);
        QVERIFY(rig.stream(kDac) != streamBefore);
        QVERIFY(!rig.hw->name(before));
        // Reservations speak of card numbers: the new one.
        rig.reserver->answer = CardReserver::Outcome::Acquired;
        QVERIFY(rig.hw->setExclusiveOwner(after, kSelf));
        QCOMPARE(rig.reserver->asked.back(), 2);
    }

    void pollsNeverOpenAPcm() {
        Rig rig;
        const int atStart = rig.s->pcmOpens;
        for (int round = 0; round < 3; ++round) {
            const auto ids = rig.hw->devices();
            for (const DeviceId id : ids.value()) {
                rig.hw->uid(id);
                rig.hw->name(id);
                rig.hw->nominalRate(id);
                const auto streams = rig.hw->outputStreams(id);
                for (const StreamId s : streams.value())
                    rig.hw->physicalFormat(s);
                for (VolumeElement el : {0u, 1u, 2u}) {
                    rig.hw->hasVolume(id, el);
                    rig.hw->volumeSettable(id, el);
                    rig.hw->volume(id, el);
                }
            }
            rig.hw->defaultOutput();
            rig.hw->deviceForUid(kDac);
        }
        QCOMPARE(rig.s->pcmOpens, atStart);
    }

    // ---- rates and formats ----

    void ratesAreAskedOnDemandAndKept() {
        Rig rig;
        const int atStart = rig.s->pcmOpens;
        const auto ranges = rig.hw->availableNominalRates(rig.id(kAnalog));
        QCOMPARE(rig.s->pcmOpens, atStart + 1);
        const std::vector<RateRange> expected{
            {44100, 44100}, {48000, 48000}, {96000, 96000}, {192000, 192000}};
        QCOMPARE(ranges, std::optional(expected));
        rig.hw->availableNominalRates(rig.id(kAnalog));
        rig.hw->availablePhysicalFormats(rig.stream(kAnalog));
        QCOMPARE(rig.s->pcmOpens, atStart + 1);
    }

    void continuousRatesAreOneRange() {
        auto s = desk();
        auto& caps = s->cards[1].pcms[0].caps;
        caps.continuousRates = true;
        caps.rateMin = 8000;
        caps.rateMax = 384000;
        Rig rig(s);
        const std::vector<RateRange> one{{8000, 384000}};
        QCOMPARE(rig.hw->availableNominalRates(rig.id(kDac)), std::optional(one));
        QVERIFY(rig.hw->setNominalRate(rig.id(kDac), 22050));
        QCOMPARE(rig.hw->nominalRate(rig.id(kDac)), std::optional(22050.0));
    }

    // Once free, it answers when the failed probe is old enough or the list
    // is wanted afresh; meanwhile the players' checks do not open it again.
    void aBusyDeviceAnswersNothingAndDoesNotWait_data() {
        QTest::addColumn<bool>("rescan");
        QTest::newRow("asked again after the retry interval") << false;
        QTest::newRow("asked again after a rescan") << true;
    }
    void aBusyDeviceAnswersNothingAndDoesNotWait() {
        QFETCH(bool, rescan);
        auto s = desk();
        s->cards[0].pcms[0].openError = -EBUSY;
        Rig rig(s);
        const DeviceId id = rig.id(kAnalog);
        const int opens = rig.s->pcmOpens;
        QVERIFY(!rig.hw->availableNominalRates(id));
        QVERIFY(!rig.hw->availablePhysicalFormats(rig.stream(kAnalog)));
        QVERIFY(!rig.hw->setNominalRate(id, 44100));
        QCOMPARE(rig.s->pcmOpens, opens + 1);
        // Still listed, still named, rate unchanged.
        QCOMPARE(rig.hw->nominalRate(id), std::optional(48000.0));
        QVERIFY(rig.hw->name(id));
        rig.s->cards[0].pcms[0].openError = 0;
        rig.now += AlsaHardware::kProbeRetryInterval - std::chrono::seconds(1);
        QVERIFY(!rig.hw->availableNominalRates(id));
        QCOMPARE(rig.s->pcmOpens, opens + 1);
        if (rescan)
            rig.hw->rescan();
        else
            rig.now += std::chrono::seconds(1);
        QVERIFY(rig.hw->availableNominalRates(id));
    }

    void keptAnswersServeWhileWeHoldTheDevice() {
        Rig rig;
        const DeviceId dac = rig.id(kDac);
        const DeviceId analog = rig.id(kAnalog);
        QVERIFY(rig.hw->availableNominalRates(dac)); // asked before the claim
        QVERIFY(rig.hw->setExclusiveOwner(dac, kSelf));
        QVERIFY(rig.hw->setExclusiveOwner(analog, kSelf));
        const int opens = rig.s->pcmOpens;
        QVERIFY(rig.hw->availableNominalRates(dac));
        QVERIFY(rig.hw->setNominalRate(dac, 96000));
        // Never asked, and we hold it: opening it again could only say "busy".
        QVERIFY(!rig.hw->availableNominalRates(analog));
        QCOMPARE(rig.s->pcmOpens, opens);
    }

    void setNominalRate_data() {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("after");
        QTest::newRow("offered rate") << kAnalog << 96000.0 << true << 96000.0;
        QTest::newRow("not offered") << kAnalog << 88200.0 << false << 48000.0;
        QTest::newRow("within half a hertz") << kDac << 44100.4 << true << 44100.0;
        QTest::newRow("a fraction off") << kDac << 44100.7 << false << 48000.0;
        QTest::newRow("nan") << kDac << qQNaN() << false << 48000.0;
        QTest::newRow("the shared device has no rate to set")
            << "default" << 44100.0 << false << 48000.0;
    }
    void setNominalRate() {
        QFETCH(QString, uid);
        QFETCH(double, rate);
        QFETCH(bool, accepted);
        QFETCH(double, after);
        Rig rig;
        const DeviceId id = rig.id(uid);
        int changed = 0;
        rig.hw->onStreamChanged = [&](DeviceId d) {
            QCOMPARE(d, id);
            ++changed;
        };
        QCOMPARE(rig.hw->setNominalRate(id, rate), accepted);
        QCOMPARE(rig.hw->nominalRate(id), std::optional(after));
        QCOMPARE(changed, accepted ? 1 : 0);
    }

    void formatBeforeAskingIsStereoOfUnknownDepth() {
        Rig rig;
        const auto f = rig.hw->physicalFormat(rig.stream(kDac));
        QVERIFY(f);
        QCOMPARE(f->rate, 48000.0);
        QCOMPARE(f->bits, 0);
        QCOMPARE(f->channels, 2);
        // Once asked, the deepest integer format the device takes at the rate.
        rig.hw->availablePhysicalFormats(rig.stream(kDac));
        const auto known = rig.hw->physicalFormat(rig.stream(kDac));
        QCOMPARE(known->bits, 32);
        QVERIFY(!known->isFloat);
        QCOMPARE(known->bytesPerFrame, 8);
    }

    void formatsAreListedByRateInDeviceOrder() {
        Rig rig;
        const auto list = rig.hw->availablePhysicalFormats(rig.stream(kDac));
        QVERIFY(list);
        // 8 rates × (S16, S32) + 4 rates × S24_3LE.
        QCOMPARE(list->size(), std::size_t(20));
        QCOMPARE(list->at(0), toPhysicalFormat(PcmFormat::S16_LE, 44100, 2));
        QCOMPARE(list->at(1), toPhysicalFormat(PcmFormat::S32_LE, 44100, 2));
        QCOMPARE(list->at(2), toPhysicalFormat(PcmFormat::S24_3LE, 44100, 2));
        QCOMPARE(list->back(), toPhysicalFormat(PcmFormat::S32_LE, 384000, 2));
        for (std::size_t i = 1; i < list->size(); ++i)
            QVERIFY(list->at(i - 1).rate <= list->at(i).rate);
    }

    void setPhysicalFormat_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<PhysicalFormat>("format");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("packed 24-bit at 96k")
            << kDac << toPhysicalFormat(PcmFormat::S24_3LE, 96000, 2) << true;
        QTest::newRow("packed 24-bit where the device has none")
            << kDac << toPhysicalFormat(PcmFormat::S24_3LE, 192000, 2) << false;
        QTest::newRow("24-in-32 the device lacks")
            << kDac << toPhysicalFormat(PcmFormat::S24_LE, 96000, 2) << false;
        QTest::newRow("a channel count the device lacks")
            << kDac << toPhysicalFormat(PcmFormat::S32_LE, 96000, 6) << false;
        QTest::newRow("six channels where two to eight are taken")
            << kAnalog << toPhysicalFormat(PcmFormat::S32_LE, 96000, 6) << true;
        QTest::newRow("nine where two to eight are taken")
            << kAnalog << toPhysicalFormat(PcmFormat::S32_LE, 96000, 9) << false;
    }
    void setPhysicalFormat() {
        QFETCH(QString, device);
        QFETCH(PhysicalFormat, format);
        QFETCH(bool, accepted);
        Rig rig;
        const StreamId s = rig.stream(device);
        QVERIFY(rig.hw->availablePhysicalFormats(s));
        const auto before = rig.hw->physicalFormat(s);
        QCOMPARE(rig.hw->setPhysicalFormat(s, format), accepted);
        if (accepted) {
            QCOMPARE(rig.hw->physicalFormat(s), std::optional(format));
            // The format carries its rate: the stream runs at it.
            QCOMPARE(rig.hw->nominalRate(rig.id(device)), std::optional(format.rate));
        } else {
            QCOMPARE(rig.hw->physicalFormat(s), before);
        }
    }

    void aRateTheSetFormatLacksFallsBackToTheBestAtThatRate() {
        Rig rig;
        const StreamId s = rig.stream(kDac);
        QVERIFY(rig.hw->setPhysicalFormat(s, toPhysicalFormat(PcmFormat::S24_3LE, 96000, 2)));
        QVERIFY(rig.hw->setNominalRate(rig.id(kDac), 192000));
        QCOMPARE(rig.hw->physicalFormat(s),
                 std::optional(toPhysicalFormat(PcmFormat::S32_LE, 192000, 2)));
    }

    void theSharedDeviceIsFixed() {
        Rig rig;
        const DeviceId id = rig.id("default");
        const StreamId s = rig.stream("default");
        const PhysicalFormat f = toPhysicalFormat(PcmFormat::FLOAT_LE, 48000, 2);
        QCOMPARE(rig.hw->physicalFormat(s), std::optional(f));
        QCOMPARE(rig.hw->availablePhysicalFormats(s), std::optional(std::vector{f}));
        QCOMPARE(rig.hw->availableNominalRates(id),
                 std::optional(std::vector<RateRange>{{48000, 48000}}));
        QVERIFY(!rig.hw->setPhysicalFormat(s, f));
        QVERIFY(!rig.hw->setNominalRate(id, 48000));
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kNoOwner));
        QVERIFY(!rig.hw->setExclusiveOwner(id, kSelf));
    }

    // ---- volume ----

    void volumeElements_data() {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QStringList>("controls"); // name:kind, kind stereo|mono|joined|none
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("elements"); // which of 0,1,2 exist
        QTest::newRow("Master first")
            << kAnalog << QStringList{"PCM:stereo", "Master:stereo"} << "Master"
            << "012";
        QTest::newRow("PCM when no Master")
            << kAnalog << QStringList{"Speaker:stereo", "PCM:mono"} << "PCM"
            << "0";
        QTest::newRow("else the first with a volume")
            << kAnalog << QStringList{"Beep:none", "Speaker:joined", "Front:stereo"} << "Speaker"
            << "0";
        QTest::newRow("a Master without volume is skipped")
            << kAnalog << QStringList{"Master:none", "Headphone:stereo"} << "Headphone"
            << "012";
        QTest::newRow("nothing with a volume") << kAnalog << QStringList{"Beep:none"} << ""
                                               << "";
        QTest::newRow("hdmi has none of the analog controls")
            << kHdmi << QStringList{"Master:stereo"} << ""
            << "";
        QTest::newRow("the shared device uses its own control")
            << "default" << QStringList{} << "Master"
            << "012";
    }
    void volumeElements() {
        QFETCH(QString, uid);
        QFETCH(QStringList, controls);
        QFETCH(QString, used);
        QFETCH(QString, elements);
        auto s = desk();
        s->cards[0].mixer.clear();
        for (const QString& c : controls) {
            auto ctl = ql::test::stereoControl(c.section(':', 0, 0), 100, -6000, 0);
            const QString kind = c.section(':', 1);
            ctl.element.hasPlaybackVolume = kind != "none";
            ctl.element.mono = kind == "mono";
            ctl.element.volumeJoined = kind == "joined";
            if (kind == "mono")
                ctl.element.hasRight = false;
            s->cards[0].mixer.push_back(ctl);
        }
        Rig rig(s);
        const DeviceId id = rig.id(uid);
        QCOMPARE(rig.hw->volumeElementName(id), used);
        for (VolumeElement el : {0u, 1u, 2u}) {
            const bool present = elements.contains(QString::number(el));
            QCOMPARE(rig.hw->hasVolume(id, el), present);
            QCOMPARE(rig.hw->volumeSettable(id, el), present);
            QCOMPARE(rig.hw->volume(id, el).has_value(), present);
            QCOMPARE(rig.hw->setVolume(id, el, 0.5), present);
        }
        QVERIFY(!rig.hw->hasVolume(id, 3));
    }

    void volumeReadsBackWhatWasSet_data() {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<VolumeElement>("element");
        QTest::newRow("dB control with a muted floor, all channels") << kAnalog << 0u;
        QTest::newRow("32 raw steps without dB") << kDac << 0u;
        QTest::newRow("sound server control") << "default" << 0u;
    }
    void volumeReadsBackWhatWasSet() {
        QFETCH(QString, uid);
        QFETCH(VolumeElement, element);
        Rig rig;
        const DeviceId id = rig.id(uid);
        for (int i = 0; i <= 200; ++i) {
            const double x = i / 200.0;
            QVERIFY(rig.hw->setVolume(id, element, x));
            const auto v = rig.hw->volume(id, element);
            QVERIFY(v);
            QVERIFY2(std::abs(*v - x) <= 0.005,
                     qPrintable(QStringLiteral("set %1 read %2").arg(x).arg(*v)));
        }
    }

    void volumeSetsTheNearestStep() {
        Rig rig;
        const DeviceId id = rig.id(kDac);
        auto& ctl = rig.control("DAC", "PCM");
        QVERIFY(rig.hw->setVolume(id, 0, 0.5));
        QCOMPARE(ctl.raw[0], 16L);
        QCOMPARE(ctl.raw[1], 16L);
        QVERIFY(rig.hw->setVolume(id, 1, 0.0));
        QCOMPARE(ctl.raw[0], 0L);
        QCOMPARE(ctl.raw[1], 16L);
        // Louder than 1 or not a number: clamped, or refused.
        QVERIFY(rig.hw->setVolume(id, 0, 7.0));
        QCOMPARE(ctl.raw[0], 31L);
        QVERIFY(!rig.hw->setVolume(id, 0, qQNaN()));
        QCOMPARE(rig.hw->volume(id, 0), std::optional(1.0));
    }

    void volumeOnADbControlFollowsLoudness() {
        Rig rig;
        const DeviceId id = rig.id(kAnalog);
        auto& ctl = rig.control("PCH", "Master");
        QVERIFY(rig.hw->setVolume(id, 0, 0.5));
        // About 18 dB down: the step nearest it, not the middle raw step.
        const long db = ctl.dbOf(ctl.raw[0]);
        QVERIFY2(std::abs(db - (-1806)) <= 75 / 2 + 1, qPrintable(QString::number(db)));
        QVERIFY(rig.hw->setVolume(id, 0, 0.0));
        QCOMPARE(ctl.raw[0], 0L); // muted
        QCOMPARE(rig.hw->volumeDb(id, 0), std::optional(kDbMuted));
    }

    void anotherProgramsChangeIsRead() {
        Rig rig;
        const DeviceId id = rig.id(kDac);
        QVERIFY(rig.hw->setVolume(id, 0, 0.333));
        QCOMPARE(rig.hw->volume(id, 0), std::optional(0.333));
        auto& ctl = rig.control("DAC", "PCM");
        ctl.raw[0] = 31;
        ctl.raw[1] = 0;
        // Both channels together are their mean; each apart its own.
        QCOMPARE(rig.hw->volume(id, 0), std::optional(0.5));
        QCOMPARE(rig.hw->volume(id, 1), std::optional(1.0));
        QCOMPARE(rig.hw->volume(id, 2), std::optional(0.0));
    }

    void aRefusedWriteReportsFailure() {
        Rig rig;
        const DeviceId id = rig.id(kDac);
        rig.control("DAC", "PCM").failWrites = 1;
        QVERIFY(!rig.hw->setVolume(id, 0, 0.2));
        QCOMPARE(rig.hw->volume(id, 0), std::optional(1.0));
    }
};

QL_TEST_UNIT(AlsaHardwareTest)
#include "AlsaHardwareTest.moc"
