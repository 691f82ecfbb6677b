// The ALSA hardware backend on a fake alsa-lib: devices and UIDs, rates and
// formats asked on demand, hardware volume, exclusive use and the start-up
// choice of platform.
#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/CardReserver.h"
#include "platform/sim/SimRig.h"

#include "FakeAlsa.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <set>

using namespace ql::platform;
using namespace ql::platform::alsa;
using ql::test::FakeAlsa;
using ql::test::FakeAlsaState;

Q_DECLARE_METATYPE(ql::platform::PhysicalFormat)

namespace {

constexpr int kSelf = 4242;
const QString kAnalog = QStringLiteral("hw:CARD=PCH,DEV=0");
const QString kHdmi = QStringLiteral("hw:CARD=PCH,DEV=3");
const QString kDac = QStringLiteral("hw:CARD=DAC,DEV=0");

class FakeReserver final : public CardReserver {
public:
    Outcome answer = Outcome::Unavailable;
    std::vector<int> asked;
    std::set<int> held;
    std::vector<int> released;
    Outcome reserve(int card, const QString&) override {
        asked.push_back(card);
        if (answer == Outcome::Acquired)
            held.insert(card);
        return answer;
    }
    void release(int card) override {
        held.erase(card);
        released.push_back(card);
    }
};

// A desktop: onboard card 0 (analog and HDMI), a USB DAC as card 1, and the
// shared "default".
std::shared_ptr<FakeAlsaState> desk() {
    using namespace ql::test;
    auto s = std::make_shared<FakeAlsaState>();
    s->defaultOpens = true;
    FakeCard pch;
    pch.info = {0, "PCH", "HDA Intel PCH"};
    pch.pcms.push_back(
        pcm(0, 0, "ALC892 Analog",
            capsOf({SampleFormat::S16_LE, SampleFormat::S32_LE}, {44100, 48000, 96000, 192000})));
    pch.pcms.push_back(pcm(0, 3, "HDMI 0", capsOf({SampleFormat::S16_LE}, {44100, 48000})));
    pch.mixer.push_back(mutedControl("Master", 87, -6525, 0));
    pch.mixer.push_back(stereoControl("PCM", 255, -5100, 0));
    s->cards.push_back(pch);
    FakeCard dac;
    dac.info = {1, "DAC", "USB Audio DAC"};
    // 24-bit in three bytes only up to 96 kHz, 32-bit everywhere.
    PcmCaps caps = capsOf({SampleFormat::S16_LE, SampleFormat::S32_LE},
                          {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000});
    caps.formats.push_back({SampleFormat::S24_3LE, {44100, 48000, 88200, 96000}});
    dac.pcms.push_back(pcm(1, 0, "USB Audio", caps));
    // A control without dB information, 32 coarse steps.
    dac.mixer.push_back(stereoControl("PCM", 31, std::nullopt, std::nullopt));
    s->cards.push_back(dac);
    // The sound server's control: raw only.
    s->defaultMixer.push_back(stereoControl("Master", 65536, std::nullopt, std::nullopt));
    return s;
}

struct Rig {
    std::shared_ptr<FakeAlsaState> s;
    QTemporaryDir proc;
    FakeReserver* reserver = nullptr;
    std::unique_ptr<AlsaHardware> hw;

    explicit Rig(std::shared_ptr<FakeAlsaState> state = desk(), bool withReserver = false)
        : s(std::move(state)) {
        AlsaHardware::Options o;
        o.procRoot = proc.path();
        o.selfPid = kSelf;
        if (withReserver) {
            auto r = std::make_unique<FakeReserver>();
            reserver = r.get();
            o.reserver = std::move(r);
        }
        hw = std::make_unique<AlsaHardware>(std::make_unique<FakeAlsa>(s), std::move(o));
    }
    DeviceId id(const QString& uid) const { return hw->deviceForUid(uid).value_or(kNoDevice); }
    StreamId stream(const QString& uid) const {
        const auto s = hw->outputStreams(id(uid));
        return s && !s->empty() ? s->front() : 0;
    }
    // Process `pid` has the device node of card/device open.
    void holdNode(int pid, int card, int device) {
        const QString dir = QStringLiteral("%1/fd").arg(pid);
        QDir(proc.path()).mkpath(dir);
        QFile::link(pcmPlaybackNode(card, device),
                    proc.filePath(dir + QStringLiteral("/%1").arg(20 + device)));
    }
    ql::test::FakeControl& control(const QString& card, const QString& name) {
        for (auto& c : s->card(card)->mixer)
            if (c.element.name == name)
                return c;
        qFatal("no control");
    }
};

} // namespace

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

    void idsAndStreamIdsAreDistinct() {
        Rig rig;
        std::set<std::uint32_t> seen;
        const auto ids = rig.hw->devices();
        for (const DeviceId id : ids.value()) {
            QVERIFY(seen.insert(id).second);
            const auto streams = rig.hw->outputStreams(id);
            for (const StreamId s : streams.value())
                QVERIFY(seen.insert(s).second);
        }
    }

    void unknownUidsFindNothing_data() {
        QTest::addColumn<QString>("uid");
        QTest::newRow("absent device of a present card") << "hw:CARD=PCH,DEV=7";
        QTest::newRow("absent card") << "hw:CARD=Juli,DEV=0";
        QTest::newRow("card by number") << "hw:0,0";
        QTest::newRow("another machine's device id") << "BuiltInSpeakerDevice";
        QTest::newRow("empty") << "";
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

    void aBusyDeviceAnswersNothingAndDoesNotWait() {
        auto s = desk();
        s->cards[0].pcms[0].openError = -EBUSY;
        Rig rig(s);
        const DeviceId id = rig.id(kAnalog);
        QVERIFY(!rig.hw->availableNominalRates(id));
        QVERIFY(!rig.hw->availablePhysicalFormats(rig.stream(kAnalog)));
        QVERIFY(!rig.hw->setNominalRate(id, 44100));
        // Still listed, still named, rate unchanged.
        QCOMPARE(rig.hw->nominalRate(id), std::optional(48000.0));
        QVERIFY(rig.hw->name(id));
        // Once it is free, it answers.
        rig.s->cards[0].pcms[0].openError = 0;
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
        QTest::newRow("infinite") << kDac << qInf() << false << 48000.0;
        QTest::newRow("zero") << kDac << 0.0 << false << 48000.0;
        QTest::newRow("negative") << kDac << -44100.0 << false << 48000.0;
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
        QCOMPARE(list->at(0), toPhysicalFormat(SampleFormat::S16_LE, 44100, 2));
        QCOMPARE(list->at(1), toPhysicalFormat(SampleFormat::S32_LE, 44100, 2));
        QCOMPARE(list->at(2), toPhysicalFormat(SampleFormat::S24_3LE, 44100, 2));
        QCOMPARE(list->back(), toPhysicalFormat(SampleFormat::S32_LE, 384000, 2));
        for (std::size_t i = 1; i < list->size(); ++i)
            QVERIFY(list->at(i - 1).rate <= list->at(i).rate);
    }

    void setPhysicalFormat_data() {
        QTest::addColumn<PhysicalFormat>("format");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("packed 24-bit at 96k")
            << toPhysicalFormat(SampleFormat::S24_3LE, 96000, 2) << true;
        QTest::newRow("packed 24-bit where the device has none")
            << toPhysicalFormat(SampleFormat::S24_3LE, 192000, 2) << false;
        QTest::newRow("24-in-32 the device lacks")
            << toPhysicalFormat(SampleFormat::S24_LE, 96000, 2) << false;
        QTest::newRow("32-bit at 384k")
            << toPhysicalFormat(SampleFormat::S32_LE, 384000, 2) << true;
        QTest::newRow("wrong channel count")
            << toPhysicalFormat(SampleFormat::S32_LE, 96000, 6) << false;
        QTest::newRow("8-bit") << PhysicalFormat{96000, 8, false, 2, 2, true} << false;
    }
    void setPhysicalFormat() {
        QFETCH(PhysicalFormat, format);
        QFETCH(bool, accepted);
        Rig rig;
        const StreamId s = rig.stream(kDac);
        QVERIFY(rig.hw->availablePhysicalFormats(s));
        const auto before = rig.hw->physicalFormat(s);
        QCOMPARE(rig.hw->setPhysicalFormat(s, format), accepted);
        if (accepted) {
            QCOMPARE(rig.hw->physicalFormat(s), std::optional(format));
            // The format carries its rate: the stream runs at it.
            QCOMPARE(rig.hw->nominalRate(rig.id(kDac)), std::optional(format.rate));
        } else {
            QCOMPARE(rig.hw->physicalFormat(s), before);
        }
    }

    void aRateTheSetFormatLacksFallsBackToTheBestAtThatRate() {
        Rig rig;
        const StreamId s = rig.stream(kDac);
        QVERIFY(rig.hw->setPhysicalFormat(s, toPhysicalFormat(SampleFormat::S24_3LE, 96000, 2)));
        QVERIFY(rig.hw->setNominalRate(rig.id(kDac), 192000));
        QCOMPARE(rig.hw->physicalFormat(s),
                 std::optional(toPhysicalFormat(SampleFormat::S32_LE, 192000, 2)));
    }

    void theSharedDeviceIsFixed() {
        Rig rig;
        const DeviceId id = rig.id("default");
        const StreamId s = rig.stream("default");
        const PhysicalFormat f = toPhysicalFormat(SampleFormat::FLOAT_LE, 48000, 2);
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
        QTest::newRow("dB control, left only") << kAnalog << 1u;
        QTest::newRow("32 raw steps without dB") << kDac << 0u;
        QTest::newRow("32 raw steps, right only") << kDac << 2u;
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
        rig.hw->noteStreamOpened(rig.id(kDac), 96000, SampleFormat::S32_LE, 2);
        QVERIFY(!rig.reserver->onReleaseRequested(1));
        int closed = 0;
        rig.hw->onReleaseStream = [&](DeviceId) { ++closed; };
        QVERIFY(rig.reserver->onReleaseRequested(1));
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
        using O = CardReserver::Outcome;
        QTest::newRow("free card, no reservation system")
            << kDac << int(O::Unavailable) << 0 << true << false;
        QTest::newRow("server lets go") << kDac << int(O::Acquired) << 0 << true << true;
        QTest::newRow("server keeps it") << kDac << int(O::Refused) << 0 << false << false;
        QTest::newRow("server closes a moment late")
            << kDac << int(O::Acquired) << 2 << true << true;
        QTest::newRow("busy for good") << kDac << int(O::Acquired) << 100 << false << false;
        QTest::newRow("the shared device needs nobody's leave")
            << "default" << int(O::Refused) << 0 << true << false;
    }
    void prepareStream() {
        QFETCH(QString, uid);
        QFETCH(int, answer);
        QFETCH(int, busyOpens);
        QFETCH(bool, ready);
        QFETCH(bool, reserved);
        Rig rig(desk(), true);
        rig.reserver->answer = CardReserver::Outcome(answer);
        rig.s->busyCountdown[kDac] = busyOpens;
        const DeviceId id = rig.id(uid);
        QCOMPARE(rig.hw->prepareStream(id), ready);
        QCOMPARE(!rig.reserver->held.empty(), reserved);
        QVERIFY(rig.s->holds.empty()); // the stream opens it, not us
        const auto format = rig.hw->physicalFormat(rig.stream(uid));
        // Ready means the engine can read the format it is to open with.
        if (ready)
            QVERIFY(format && sampleFormatOf(*format));
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
        rig.hw->noteStreamOpened(id, 44100, SampleFormat::S32_LE, 2);
        QCOMPARE(rig.hw->exclusiveOwner(id), std::optional(kSelf));
        QCOMPARE(rig.hw->physicalFormat(rig.stream(kDac)),
                 std::optional(toPhysicalFormat(SampleFormat::S32_LE, 44100, 2)));
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
        QTest::newRow("no server, cards open") << false << 0 << false;
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
        Platform p = choosePlatform(std::make_unique<AlsaHardware>(std::make_unique<FakeAlsa>(s)));
        QCOMPARE(p.isSimulated, simulated);
        QVERIFY(p.hardware);
        const auto ids = p.hardware->devices();
        QVERIFY(ids && !ids->empty());
        if (simulated) {
            QCOMPARE(ids->size(), std::size_t(1));
            QCOMPARE(p.hardware->name(ids->front()), std::optional(kSimulatedOutputName));
        }
    }
};

QL_TEST_MAIN_CORE(AlsaHardwareTest)
#include "AlsaHardwareTest.moc"
