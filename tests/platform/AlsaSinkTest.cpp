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

#include "AlsaDesk.h"
#include "LogLines.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

// A sound server that dies behind the PCM: after `g_writesLeft` more writes
// every write fails as `g_failure`: an under-run (preparing again still
// succeeds), or a suspend (resuming answers "not yet" while `g_asleep`).
namespace {
std::atomic<int> g_writesLeft{-1}; // -1: the server is alive
std::atomic<int> g_failedWrites{0};
std::atomic<int> g_failure{-EPIPE}, g_resumeAnswer{0};
std::atomic<bool> g_asleep{false};
} // namespace

#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#define __sanitizer_get_current_allocated_bytes() mallinfo2().uordblks
#include <malloc.h>
#endif

extern "C" int snd_pcm_resume(snd_pcm_t*) {
    if (g_asleep.load())
        return -EAGAIN;
    g_writesLeft = -1; // awake: the device takes frames again
    return g_resumeAnswer.load();
}

extern "C" snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer,
                                            snd_pcm_uframes_t size) {
    using Fn = snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
    if (g_writesLeft.load() == 0) {
        g_failedWrites.fetch_add(1);
        return g_failure.load();
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

// CPU seconds used by the engine's threads ("ql-…"), from /proc: the rest of
// a loaded process (the event loop, the sanitizer) does not count.
double engineCpuSeconds() {
    long ticks = 0;
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        const QByteArray s = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        // "tid (name) state …": utime and stime are the 12th and 13th after the name.
        const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (s.contains("(ql-") && f.size() > 12)
            ticks += f[11].toLong() + f[12].toLong();
    }
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

// A 16-bit stereo file of `seconds` of noise at 48 kHz; its path.
QString writeFile(const QString& name, int seconds) {
    return ql::test::writeTemp(name, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * seconds});
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
        // Every card's PCM: a null device, opened through alsa-lib.
        rc.write("pcm.!hw { @args [ CARD DEV ] @args.CARD { type string } "
                 "@args.DEV { type integer } type null }\n");
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
    // shared device runs float, which carries 16-bit samples exactly, at the
    // rate of the file that starts it (the server converts, not we).
    void aPlayerPlaysBitExactThroughAlsa_data() {
        QTest::addColumn<int>("rate");
        QTest::newRow("48 kHz") << 48000;
        QTest::newRow("44.1 kHz: the stream opens at 44.1 kHz") << 44100;
    }
    void aPlayerPlaysBitExactThroughAlsa() {
        const QString path = QDir::temp().filePath(QStringLiteral("exact.wav"));
        ql::test::AudioShape tone;
        tone.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        QFETCH(int, rate);
        tone.rate = rate;
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
    // once, nothing goes on writing to the dead stream or using the CPU,
    // later plays fail alike and leak nothing, and once it is back a play plays.
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
        const double cpu = engineCpuSeconds();
        QTest::qWait(500);
        QCOMPARE(g_failedWrites.load(), failed); // no spinning on the dead stream
        // A thread that spins takes the whole 500 ms; the bound leaves room
        // for a loaded machine (this only catches a spin, it measures nothing).
        QVERIFY2(engineCpuSeconds() - cpu < 0.1, "CPU used while nothing plays");
        const auto failsAgain = [&] {
            finished.clear();
            return opened.player->play() &&
                   QTest::qWaitFor([&] { return !finished.isEmpty(); }, 1000) &&
                   finished == QList<bool>{false};
        };
        for (int i = 0; i < 5; ++i) // alsa-lib's and Qt's caches settle first
            QVERIFY(failsAgain());
        const auto heap = std::int64_t(__sanitizer_get_current_allocated_bytes());
        for (int i = 0; i < 200; ++i)
            QVERIFY(failsAgain());
        const auto grown = std::int64_t(__sanitizer_get_current_allocated_bytes()) - heap;
        QVERIFY2(grown < 64 * 1024, qPrintable(QStringLiteral("%1 bytes more").arg(grown)));

        g_writesLeft = -1;
        finished.clear();
        QVERIFY2(opened.player->play(), qPrintable(opened.player->lastError()));
        QTRY_COMPARE_WITH_TIMEOUT(finished, QList<bool>{true}, 30000);
    }

    // The machine sleeps while a player plays: nothing spins, the window is
    // not held up, and playback goes on once the device resumes or, when it
    // cannot, is prepared again. The recovery, made on the feeder thread,
    // reaches the log from the engine's upkeep.
    void aSuspendedDeviceGoesOn_data() {
        QTest::addColumn<int>("resumeAnswer");
        QTest::newRow("resumes") << 0;
        QTest::newRow("cannot resume: prepared again") << -ENOSYS;
    }
    void aSuspendedDeviceGoesOn() {
        QFETCH(int, resumeAnswer);
        const ql::test::LogLines log(QStringLiteral("quavelark.audio.debug=true"));
        auto p = alsaPlatform(std::make_unique<AlsaHardware>(std::make_unique<AlsaLib>()));
        QVERIFY(p);
        auto player = AudioPlayer::open(*p->outputs, writeFile("asleep.wav", 2)).player;
        QList<bool> finished;
        player->onFinished = [&](bool ok) { finished << ok; };
        g_failure = -ESTRPIPE;
        g_resumeAnswer = resumeAnswer;
        g_asleep = true;
        g_failedWrites = 0;
        g_writesLeft = 10;
        QVERIFY(player->play());
        QTRY_VERIFY(g_failedWrites.load() > 0);
        QElapsedTimer t;
        t.start();
        player->pause();
        QVERIFY(player->play());
        QVERIFY2(t.elapsed() < 300, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
        QTest::qWait(400);
        QVERIFY(g_failedWrites.load() <= 2); // none while it sleeps (one more after the pause)
        g_asleep = false;
        QTRY_COMPARE_WITH_TIMEOUT(finished, QList<bool>{true}, 30000);
        g_failure = -EPIPE;
        QTRY_VERIFY2(ql::test::LogLines::has("quavelark.audio", QtDebugMsg,
                                             QStringLiteral("brought back by its driver")),
                     qPrintable(ql::test::LogLines::dump()));
        for (const ql::test::LogLine& l : ql::test::LogLines::ours())
            QVERIFY2(l.thread != "ql-feeder", qPrintable(l.text));
    }

    // A sound server asks for the card of a `hw:` device we play on (its PCM
    // opened through alsa-lib): refused while it plays, granted once paused.
    void aServerGetsTheCardWhenNothingPlays() {
        AlsaHardware::Options o;
        auto reserver = std::make_unique<ql::test::FakeReserver>();
        ql::test::FakeReserver& server = *reserver;
        server.answer = CardReserver::Outcome::Acquired;
        o.reserver = std::move(reserver);
        auto p = alsaPlatform(std::make_unique<AlsaHardware>(
            std::make_unique<ql::test::FakeAlsa>(ql::test::desk()), std::move(o)));
        QVERIFY(p);
        auto player = AudioPlayer::open(*p->outputs, writeFile("card.wav", 10)).player;
        QVERIFY(player && player->setOutputDevice(ql::test::kDac));
        for (const bool playing : {true, false, true}) {
            if (!playing)
                player->pause();
            QVERIFY2(!playing || player->play(), qPrintable(player->lastError()));
            QCOMPARE(server.onReleaseRequested(1), !playing);
            QCOMPARE(server.held.count(1), std::size_t(playing));
        }
    }
};

QL_TEST_MAIN_CORE(AlsaSinkTest)
#include "AlsaSinkTest.moc"
