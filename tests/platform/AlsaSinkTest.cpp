// Guards against: samples altered on their way through alsa-lib.
// The ALSA sink, and a player on the ALSA platform, writing through alsa-lib
// into its "file" PCM. The test's own alsa-lib configuration (in its
// temporary home, written before alsa-lib first reads one) makes "default" a
// file PCM in front of the "null" device, so the backend lists "default" as
// it would a sound server, and every byte the sink delivers lands in a file
// to compare with what was sent. The null device keeps no time: nothing here
// depends on how fast it plays.
#include "platform/alsa/AlsaSink.h"
#include "platform/AudioSink.h"
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaLib.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"

#include "TestAudio.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <sndfile.h>

#include <atomic>
#include <cstring>

// A sound server that dies behind the PCM: after `g_writesLeft` more writes
// every write fails as an under-run, while preparing again still succeeds.
namespace {
std::atomic<int> g_writesLeft{-1}; // -1: the server is alive
std::atomic<int> g_failedWrites{0};
} // namespace

extern "C" snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer,
                                            snd_pcm_uframes_t size) {
    using Fn = snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
    if (g_writesLeft.load() == 0) {
        g_failedWrites.fetch_add(1);
        return -EPIPE;
    }
    if (g_writesLeft.load() > 0)
        g_writesLeft.fetch_sub(1);
    return real(pcm, buffer, size);
}

using namespace ql::platform;
using namespace ql::platform::alsa;

Q_DECLARE_METATYPE(ql::platform::SampleFormat)

namespace {

QString outPath() {
    return QDir::home().filePath(QStringLiteral("default.raw"));
}

QByteArray recorded() {
    QFile f(outPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Noise in the sample format, extremes first.
QByteArray noise(ql::platform::SampleFormat format, int channels, int frames) {
    const int bytes = bytesPerSample(format);
    const int bits = format == ql::platform::SampleFormat::F32 ? 24 : validBits(format);
    QByteArray out;
    std::uint32_t state = 99;
    for (int i = 0; i < frames * channels; ++i) {
        state = state * 1664525u + 1013904223u;
        const long long top = (1LL << (bits - 1)) - 1;
        long long v = i == 0   ? top
                      : i == 1 ? -top - 1
                               : (long long)(std::int32_t(state)) >> (32 - bits);
        if (format == ql::platform::SampleFormat::F32) {
            const float f = float(double(v) / double(top + 1));
            char raw[4];
            std::memcpy(raw, &f, 4);
            out.append(raw, 4);
            continue;
        }
        for (int b = 0; b < bytes; ++b)
            out.append(char((v >> (8 * b)) & 0xff));
    }
    return out;
}

} // namespace

class AlsaSinkTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFile rc(QDir::home().filePath(QStringLiteral(".asoundrc")));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write(QStringLiteral("pcm.!default { type file; slave.pcm \"null\"; file \"%1\"; "
                                "format \"raw\" }\n")
                     .arg(outPath())
                     .toUtf8());
    }

    void theSinkDeliversTheSamplesSent_data() {
        QTest::addColumn<ql::platform::SampleFormat>("format");
        QTest::addColumn<double>("rate");
        QTest::newRow("16-bit at 44.1k") << ql::platform::SampleFormat::S16 << 44100.0;
        QTest::newRow("24-bit packed at 96k") << ql::platform::SampleFormat::S24P << 96000.0;
        QTest::newRow("24-bit in 32 at 48k") << ql::platform::SampleFormat::S24In32 << 48000.0;
        QTest::newRow("32-bit at 192k") << ql::platform::SampleFormat::S32 << 192000.0;
        QTest::newRow("float at 48k") << ql::platform::SampleFormat::F32 << 48000.0;
    }
    void theSinkDeliversTheSamplesSent() {
        QFETCH(ql::platform::SampleFormat, format);
        QFETCH(double, rate);
        AlsaHardware hw(std::make_unique<AlsaLib>());
        const auto id = hw.deviceForUid(QStringLiteral("default"));
        QVERIFY2(id, "the test's default PCM is not listed");
        const StreamFormat f{rate, format, 2};
        const QByteArray sent = noise(format, 2, 25'000);
        {
            AlsaSink sink(hw, *id);
            QString error;
            QVERIFY2(sink.open(f, error), qPrintable(error));
            QCOMPARE(hw.exclusiveOwner(*id), std::optional(kNoOwner)); // shared, never held
            std::int64_t at = 0;
            const std::int64_t total = sent.size() / f.bytesPerFrame();
            for (int idle = 0; at < total && idle < 1000;) {
                const SinkReport r = sink.report();
                QVERIFY(r.freeFrames >= 0 && r.queuedFrames >= 0 && r.delay >= 0);
                const std::int64_t put = sink.write(
                    sent.constData() + at * f.bytesPerFrame(),
                    std::min<std::int64_t>(total - at, std::max<std::int64_t>(r.freeFrames, 1)));
                QVERIFY(put >= 0);
                at += put;
                idle = put == 0 ? idle + 1 : 0;
            }
            QCOMPARE(at, total);
            sink.close();
            QCOMPARE(sink.write(sent.constData(), 1), std::int64_t(-1)); // closed: nothing taken
        }
        QVERIFY(recorded() == sent);
    }

    void anImpossibleFormatFailsWithASentence_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("not a number") << qQNaN() << 2;
        QTest::newRow("no rate") << 0.0 << 2;
        QTest::newRow("no channels") << 48000.0 << 0;
    }
    void anImpossibleFormatFailsWithASentence() {
        QFETCH(double, rate);
        QFETCH(int, channels);
        AlsaHardware hw(std::make_unique<AlsaLib>());
        AlsaSink sink(hw, hw.deviceForUid(QStringLiteral("default")).value_or(kNoDevice));
        QString error;
        QVERIFY(!sink.open(StreamFormat{rate, ql::platform::SampleFormat::S16, channels}, error));
        QCOMPARE(error, QStringLiteral("The output device cannot play this format."));
    }

    void aVanishedDeviceFailsWithASentence() {
        AlsaHardware hw(std::make_unique<AlsaLib>());
        AlsaSink sink(hw, 99999);
        QString error;
        QVERIFY(!sink.open(StreamFormat{48000, ql::platform::SampleFormat::S16, 2}, error));
        QCOMPARE(error, QStringLiteral("The output device is not connected."));
    }

    // A file played by the player on the ALSA platform arrives unchanged: the
    // shared device runs 48 kHz float, which carries 16-bit samples exactly.
    void aPlayerPlaysBitExactThroughAlsa() {
        const QString path = QDir::temp().filePath(QStringLiteral("exact.wav"));
        ql::test::AudioShape tone;
        tone.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        tone.rate = 48000;
        tone.frames = 60'007;
        QVERIFY(ql::test::writeAudio(path, tone));
        const ql::test::Samples ref = ql::test::readSamples(path);
        {
            auto p = alsaPlatform(std::make_unique<AlsaHardware>(std::make_unique<AlsaLib>()));
            QVERIFY(p);
            QVERIFY(!p->isSimulated);
            auto opened = AudioPlayer::open(*p->outputs, path);
            QVERIFY2(opened.player, qPrintable(opened.error));
            QList<bool> finished;
            opened.player->onFinished = [&](bool ok) { finished << ok; };
            QVERIFY(opened.player->play());
            QTRY_COMPARE_WITH_TIMEOUT(finished, QList<bool>{true}, 30000);
            opened.player.reset();
        } // the platform goes, the stream closes, the file is complete
        const QByteArray bytes = recorded();
        QCOMPARE(std::int64_t(bytes.size()), tone.frames * 2 * 4);
        const float* got = reinterpret_cast<const float*>(bytes.constData());
        for (std::size_t i = 0; i < ref.data.size(); ++i) {
            const float want = float(double(ref.data[i]) / 2147483648.0);
            if (got[i] != want)
                QFAIL(qPrintable(
                    QStringLiteral("sample %1: %2, sent %3").arg(i).arg(got[i]).arg(want)));
        }
    }

    // The server dies while a player plays: the player ends as failed at
    // once, nothing goes on writing to the dead stream, and once the server
    // is back a new play plays.
    void aDeadServerEndsThePlayerAndALaterPlayPlays() {
        const QString path = QDir::temp().filePath(QStringLiteral("dead.wav"));
        ql::test::AudioShape tone;
        tone.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        tone.rate = 48000;
        tone.frames = 48000 * 5;
        QVERIFY(ql::test::writeAudio(path, tone));
        auto p = alsaPlatform(std::make_unique<AlsaHardware>(std::make_unique<AlsaLib>()));
        QVERIFY(p);
        auto opened = AudioPlayer::open(*p->outputs, path);
        QVERIFY2(opened.player, qPrintable(opened.error));
        QList<bool> finished;
        opened.player->onFinished = [&](bool ok) { finished << ok; };
        g_writesLeft = 20;
        QVERIFY(opened.player->play());
        QTRY_COMPARE_WITH_TIMEOUT(finished, QList<bool>{false}, 1000);
        QVERIFY(!opened.player->isPlaying());
        const int failed = g_failedWrites.load();
        QVERIFY(failed <= 2 * AlsaPcmStream::kMaxRecoveries + 2);
        QTest::qWait(200);
        QCOMPARE(g_failedWrites.load(), failed); // no spinning on the dead stream

        g_writesLeft = -1;
        finished.clear();
        QVERIFY2(opened.player->play(), qPrintable(opened.player->lastError()));
        QTRY_COMPARE_WITH_TIMEOUT(finished, QList<bool>{true}, 30000);
    }
};

QL_TEST_MAIN_CORE(AlsaSinkTest)
#include "AlsaSinkTest.moc"
