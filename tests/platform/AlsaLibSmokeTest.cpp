// Guards against: a start that hangs or fails without a sound card.
// The ALSA backend on the real alsa-lib. CI machines have no sound card, so
// what is checked there is what holds everywhere: alsa-lib's "null" PCM is
// probed like a device, nothing waits on a missing or busy device, and
// without a device that opens the player starts on the simulated one.
// alsa-probe is run with an alsa-lib configuration of the test's own.
#include "platform/SystemPlatform.h"
#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaLib.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/sim/SimRig.h"

#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace ql::platform;
using namespace ql::platform::alsa;

class AlsaLibSmokeTest : public QObject {
    Q_OBJECT
private slots:
    void theNullPcmIsProbedLikeADevice() {
        AlsaLib api;
        const auto r = api.probe(QStringLiteral("null"), probeRates());
        QVERIFY2(r.value, qPrintable(QString::number(r.error)));
        // It takes every rate and every format the engine writes.
        QCOMPARE(r.value->formats.size(), std::size_t(5));
        for (const auto& f : r.value->formats)
            QCOMPARE(f.rates, probeRates());
        QVERIFY(r.value->continuousRates);
        QVERIFY(r.value->channelsMin <= 2 && r.value->channelsMax >= 2);
        // Closed again: it can be held and let go.
        const auto held = api.hold(QStringLiteral("null"));
        QVERIFY(held.value);
        api.release(*held.value);
    }

    void missingDevicesFailAtOnce_data() {
        QTest::addColumn<QString>("pcm");
        QTest::newRow("card that is not there") << "hw:CARD=NoSuchCard,DEV=0";
        QTest::newRow("unknown name") << "no-such-pcm";
    }
    void missingDevicesFailAtOnce() {
        QFETCH(QString, pcm);
        AlsaLib api;
        const auto probe = api.probe(pcm, probeRates());
        QVERIFY(!probe.value);
        QVERIFY(probe.error < 0);
        const auto held = api.hold(pcm);
        QVERIFY(!held.value);
        QVERIFY(held.error < 0);
        QVERIFY(api.mixerElements(QStringLiteral("hw:CARD=NoSuchCard")).empty());
    }

    void everyListedDeviceHasAUsableUid() {
        AlsaHardware hw(std::make_unique<AlsaLib>());
        const auto ids = hw.devices();
        QVERIFY(ids);
        for (const DeviceId id : *ids) {
            const QString uid = hw.uid(id).value_or(QString());
            QVERIFY2(uid == kDefaultUid || parseHwUid(uid), qPrintable(uid));
            QCOMPARE(hw.deviceForUid(uid), std::optional(id));
            QVERIFY(!hw.name(id).value_or(QString()).isEmpty());
        }
        // No card: nothing but, at most, the shared default.
        if (AlsaLib().cards().empty())
            QVERIFY(ids->size() <= 1);
    }

    void withoutADeviceThatOpensTheSimulatedOneIsChosen() {
        AlsaLib api;
        const bool anyCard = !api.cards().empty();
        const bool defaultOpens = api.probe(kDefaultUid, {48000}).value.has_value();
        Platform p = makeSystemPlatform();
        QVERIFY(p.hardware && p.outputs);
        const auto ids = p.hardware->devices();
        QVERIFY(ids && !ids->empty());
        // Only the fallback is flagged as heard nowhere: the play start says so.
        QCOMPARE(p.noSoundDevice, p.isSimulated);
        if (!anyCard && !defaultOpens) {
            QVERIFY(p.isSimulated);
            QCOMPARE(p.hardware->name(ids->front()), std::optional(kSimulatedOutputName));
        } else if (defaultOpens) {
            QVERIFY(!p.isSimulated);
        }
    }

    void probeToolReportsWhatItSees_data() {
        QTest::addColumn<QString>("asoundrc");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no configuration")
            << QString() << QStringList{"default PCM: ", "platform at start-up: "};
        QTest::newRow("default is the null device")
            << "pcm.!default { type null }\n"
            << QStringList{"default PCM: opens", "uid:     default",
                           "stream:  48000 Hz, FLOAT_LE, 2 ch", "owner:   free",
                           "platform at start-up: ALSA"};
    }
    void probeToolReportsWhatItSees() {
        QFETCH(QString, asoundrc);
        QFETCH(QStringList, expected);
        const QString tool = ql::test::TestHome::buildDir() + QStringLiteral("/alsa-probe");
        if (!QFile::exists(tool))
            QSKIP("alsa-probe is not built in this tree");
        QTemporaryDir home;
        if (!asoundrc.isEmpty()) {
            QFile rc(home.filePath(QStringLiteral(".asoundrc")));
            QVERIFY(rc.open(QIODevice::WriteOnly));
            rc.write(asoundrc.toUtf8());
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(tool, {});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QString output = QString::fromUtf8(p.readAllStandardOutput());
        for (const QString& line : expected)
            QVERIFY2(output.contains(line), qPrintable(output));
    }
};

QL_TEST_MAIN_CORE(AlsaLibSmokeTest)
#include "AlsaLibSmokeTest.moc"
