// Guards against: wrong UIDs, sample formats or volume steps in the ALSA mapping.
// The ALSA backend's pure rules: UIDs, sample formats, the volume mapping and
// finding a PCM's holders in /proc.
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/AlsaVolumeMap.h"
#include "platform/alsa/PcmHolders.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

using namespace ql::platform;
using namespace ql::platform::alsa;

Q_DECLARE_METATYPE(ql::platform::alsa::PcmFormat)
Q_DECLARE_METATYPE(ql::platform::PhysicalFormat)

class AlsaMappingTest : public QObject {
    Q_OBJECT
private slots:
    void uidsRoundTrip_data() {
        QTest::addColumn<QString>("cardId");
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("uid");
        QTest::newRow("onboard analog") << "PCH" << 0 << "hw:CARD=PCH,DEV=0";
        QTest::newRow("id with a dash") << "U-192k" << 12 << "hw:CARD=U-192k,DEV=12";
    }
    void uidsRoundTrip() {
        QFETCH(QString, cardId);
        QFETCH(int, device);
        QFETCH(QString, uid);
        QCOMPARE(hwUid(cardId, device), uid);
        const auto back = parseHwUid(uid);
        QVERIFY(back.has_value());
        QCOMPARE(back->cardId, cardId);
        QCOMPARE(back->device, device);
    }

    // Stored UIDs are untrusted: nothing but the exact shape may become a
    // PCM name, or a crafted setting could open a plugin that runs a program.
    void foreignUidsAreRefused_data() {
        QTest::addColumn<QString>("uid");
        QTest::newRow("empty") << "";
        QTest::newRow("the shared device") << "default";
        QTest::newRow("card by number") << "hw:0,0";
        QTest::newRow("plug wrapper") << "plughw:CARD=PCH,DEV=0";
        QTest::newRow("extra argument") << "hw:CARD=PCH,DEV=0,SUBDEV=1";
        QTest::newRow("file plugin pipe") << "hw:CARD=x|rm,DEV=0";
        QTest::newRow("quoted id") << "hw:CARD='PCH',DEV=0";
        QTest::newRow("negative device") << "hw:CARD=PCH,DEV=-1";
        QTest::newRow("trailing newline") << "hw:CARD=PCH,DEV=0\n";
        QTest::newRow("id too long") << "hw:CARD=" + QString(32, 'a') + ",DEV=0";
    }
    void foreignUidsAreRefused() {
        QFETCH(QString, uid);
        QVERIFY(!parseHwUid(uid).has_value());
    }

    void formats_data() {
        QTest::addColumn<PcmFormat>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("bytesPerFrame");
        QTest::addColumn<bool>("isFloat");
        QTest::newRow("S16_LE") << PcmFormat::S16_LE << 16 << 4 << false;
        QTest::newRow("S24_3LE is 24-bit in 3 bytes") << PcmFormat::S24_3LE << 24 << 6 << false;
        QTest::newRow("S24_LE is 24-bit in 4 bytes") << PcmFormat::S24_LE << 24 << 8 << false;
        QTest::newRow("S32_LE") << PcmFormat::S32_LE << 32 << 8 << false;
        QTest::newRow("FLOAT_LE") << PcmFormat::FLOAT_LE << 32 << 8 << true;
    }
    void formats() {
        QFETCH(PcmFormat, format);
        QFETCH(int, bits);
        QFETCH(int, bytesPerFrame);
        QFETCH(bool, isFloat);
        const PhysicalFormat f = toPhysicalFormat(format, 96000, 2);
        QCOMPARE(f.bits, bits);
        QCOMPARE(f.bytesPerFrame, bytesPerFrame);
        QCOMPARE(f.isFloat, isFloat);
        QCOMPARE(f.rate, 96000.0);
        QVERIFY(f.isLinearPcm);
        QCOMPARE(pcmFormatOf(f), std::optional(format));
    }

    void formatsTheEngineDoesNotWriteHaveNoPcmFormat_data() {
        QTest::addColumn<PhysicalFormat>("format");
        QTest::newRow("8-bit") << PhysicalFormat{48000, 8, false, 2, 2, true};
        QTest::newRow("not linear pcm") << PhysicalFormat{48000, 16, false, 2, 4, false};
        QTest::newRow("64-bit float") << PhysicalFormat{48000, 64, true, 2, 16, true};
        QTest::newRow("24-bit float") << PhysicalFormat{48000, 24, true, 2, 6, true};
    }
    void formatsTheEngineDoesNotWriteHaveNoPcmFormat() {
        QFETCH(PhysicalFormat, format);
        QVERIFY(!pcmFormatOf(format).has_value());
    }

    // Ranges in hundredths of a dB.
    void volumeMapIsMonotonicAndInvertible_data() {
        QTest::addColumn<long>("dbMin");
        QTest::addColumn<long>("dbMax");
        QTest::newRow("typical master -65.25..0 dB") << -6525L << 0L;
        QTest::newRow("muted minimum") << kDbMuted << 0L;
        QTest::newRow("small trim -12..0 dB (linear)") << -1200L << 0L;
        QTest::newRow("just over 24 dB") << -2401L << 0L;
        QTest::newRow("with headroom -100..+6 dB") << -10000L << 600L;
    }
    void volumeMapIsMonotonicAndInvertible() {
        QFETCH(long, dbMin);
        QFETCH(long, dbMax);
        const DbRange range{dbMin, dbMax};
        double previousDb = -std::numeric_limits<double>::infinity();
        for (int i = 0; i <= 1000; ++i) {
            const double x = i / 1000.0;
            const double db = dbFromScalar(x, range);
            QVERIFY2(db >= previousDb, qPrintable(QStringLiteral("dB falls at %1").arg(x)));
            QVERIFY(db >= double(dbMin) && db <= double(dbMax));
            previousDb = db;
            // ALSA takes whole hundredths: the round trip must survive that.
            const double back = scalarFromDb(std::lround(db), range);
            QVERIFY2(std::abs(back - x) < 0.005,
                     qPrintable(QStringLiteral("x %1 -> %2 dB -> %3").arg(x).arg(db).arg(back)));
        }
        QCOMPARE(scalarFromDb(dbMax, range), 1.0);
        QCOMPARE(scalarFromDb(dbMin, range), 0.0);
        QCOMPARE(dbFromScalar(1.0, range), double(dbMax));
        QCOMPARE(dbFromScalar(0.0, range), double(dbMin));
    }

    void wideRangesFollowLoudness() {
        // Half the slider is well down, not half the dB span: about 18 dB on
        // a muted-minimum control, as the mixer shows it.
        const double db = dbFromScalar(0.5, DbRange{kDbMuted, 0});
        QVERIFY(std::abs(db - (-1806.0)) < 1.0);
        // A small range stays linear in dB.
        QCOMPARE(dbFromScalar(0.5, DbRange{-1200, 0}), -600.0);
    }

    void outOfRangeInputsAreClamped() {
        const DbRange r{-6000, 0};
        QCOMPARE(dbFromScalar(1.5, r), 0.0);
        QCOMPARE(dbFromScalar(-0.5, r), -6000.0);
        QCOMPARE(dbFromScalar(std::numeric_limits<double>::quiet_NaN(), r), -6000.0);
        QCOMPARE(scalarFromDb(900, r), 1.0);
        QCOMPARE(scalarFromDb(-90000, r), 0.0);
        QCOMPARE(rawFromScalar(2.0, 0, 31), 31L);
        QCOMPARE(rawFromScalar(std::numeric_limits<double>::quiet_NaN(), 0, 31), 0L);
        // A control with no span has nothing to map.
        QCOMPARE(scalarFromRaw(5, 7, 7), 0.0);
        QCOMPARE(scalarFromDb(0, DbRange{0, 0}), 0.0);
    }

    // A fake /proc: pid folders with fd links, some to PCM nodes.
    void holdersAreFoundThroughProc_data() {
        QTest::addColumn<QStringList>("layout"); // "pid:fd->target"
        QTest::addColumn<QList<int>>("holders");
        QTest::newRow("nobody") << QStringList{"100:3->/dev/null"} << QList<int>{};
        QTest::newRow("one server")
            << QStringList{"812:27->/dev/snd/pcmC1D0p", "90:1->/dev/null"} << QList<int>{812};
        QTest::newRow("capture node is not playback")
            << QStringList{"812:27->/dev/snd/pcmC1D0c"} << QList<int>{};
        QTest::newRow("node name is a prefix only")
            << QStringList{"812:27->/dev/snd/pcmC1D0p0"} << QList<int>{};
        QTest::newRow("two holders, sorted")
            << QStringList{"4000:9->/dev/snd/pcmC1D0p", "35:4->/dev/snd/pcmC1D0p"}
            << QList<int>{35, 4000};
        QTest::newRow("non-pid folders ignored")
            << QStringList{"self:3->/dev/snd/pcmC1D0p", "net:1->/dev/snd/pcmC1D0p"} << QList<int>{};
    }
    void holdersAreFoundThroughProc() {
        QFETCH(QStringList, layout);
        QFETCH(QList<int>, holders);
        QTemporaryDir proc;
        for (const QString& line : layout) {
            const QString pid = line.section(':', 0, 0);
            const QString fd = line.section(':', 1).section("->", 0, 0);
            const QString target = line.section("->", 1);
            QVERIFY(QDir(proc.path()).mkpath(pid + "/fd"));
            QVERIFY(QFile::link(target, proc.filePath(pid + "/fd/" + fd)));
        }
        const auto found = pcmHolders(proc.path(), pcmPlaybackNode(1, 0));
        QCOMPARE(QList<int>(found.begin(), found.end()), holders);
        for (int pid : holders)
            QVERIFY(pidHolds(proc.path(), pid, pcmPlaybackNode(1, 0)));
        QVERIFY(!pidHolds(proc.path(), 77, pcmPlaybackNode(1, 0)));
    }

    void ourOwnOpenDeviceIsSeenInTheRealProc() {
        // /proc/self shows what this very process holds; here: a plain file.
        QTemporaryDir dir;
        QFile f(dir.filePath("node"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const int me = int(QCoreApplication::applicationPid());
        QVERIFY(pidHolds("/proc", me, f.fileName()));
        QVERIFY(pcmHolders("/proc", f.fileName()) == std::vector<int>{me});
        f.close();
        QVERIFY(!pidHolds("/proc", me, f.fileName()));
    }
};

QL_TEST_UNIT(AlsaMappingTest)
#include "AlsaMappingTest.moc"
