// Guards against: bytes lost, repeated or altered by the ALSA stream.
// The ALSA playback stream on alsa-lib's own "null" and "file" PCMs, which
// exist on every machine. The file PCM writes what it is given to a file, so
// the bytes a stream delivers can be compared with the samples sent. Neither
// keeps time like a sound card: nothing here waits for, or measures, time.
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaPcmStream.h"

#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

using namespace ql::platform::alsa;

Q_DECLARE_METATYPE(ql::platform::alsa::PcmFormat)

namespace {

// `frames` frames of `channels` samples in `format`, little-endian, with the
// extremes of the range first and a pseudo-random walk after them.
QByteArray pattern(PcmFormat format, int channels, int frames) {
    const SampleLayout l = layoutOf(format);
    QByteArray bytes;
    bytes.reserve(frames * channels * l.bytes);
    const long long top = (1LL << (l.bits - 1)) - 1;
    const long long extremes[] = {top, -top - 1, 0, -1, 1, top - 1};
    std::uint32_t state = 12345;
    for (int i = 0; i < frames * channels; ++i) {
        if (format == PcmFormat::FLOAT_LE) {
            state = state * 1664525u + 1013904223u;
            const float v =
                i < 6 ? float(i - 3) / 3.0f : float(int(state >> 8) - (1 << 23)) / float(1 << 23);
            char raw[4];
            std::memcpy(raw, &v, 4);
            bytes.append(raw, 4);
            continue;
        }
        long long v = 0;
        if (i < 6) {
            v = extremes[i];
        } else {
            state = state * 1664525u + 1013904223u;
            v = (long long)(std::int32_t(state)) >> (32 - l.bits);
        }
        // Sign-extended to the sample's bytes (S24_LE keeps it in the top byte).
        for (int b = 0; b < l.bytes; ++b)
            bytes.append(char((v >> (8 * b)) & 0xff));
    }
    return bytes;
}

// Writes everything, as a feeder would: what the stream says is free, at most
// a period at a time. False when the stream stops taking frames.
bool writeAll(AlsaPcmStream& s, const QByteArray& data, int bytesPerFrame, int fromFrame = 0,
              int toFrame = -1) {
    const int total = toFrame < 0 ? int(data.size() / bytesPerFrame) : toFrame;
    int at = fromFrame;
    int idle = 0;
    while (at < total) {
        const StreamReport r = s.report();
        if (r.freeFrames < 0 || r.freeFrames > s.bufferFrames() || r.queuedFrames < 0 ||
            r.delay < 0)
            return false;
        const std::int64_t chunk = std::min<std::int64_t>(
            {std::int64_t(total - at), s.periodFrames(), std::max<std::int64_t>(r.freeFrames, 1)});
        const std::int64_t n = s.write(data.constData() + std::size_t(at) * bytesPerFrame, chunk);
        if (n < 0 || n > chunk)
            return false;
        at += int(n);
        idle = n == 0 ? idle + 1 : 0;
        if (idle > 1000)
            return false;
    }
    return true;
}

QString filePcm(const QString& path) {
    return QStringLiteral("file:FILE='%1',FORMAT=raw").arg(path);
}

} // namespace

class AlsaStreamTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QFile rc(QDir::home().filePath(QStringLiteral(".asoundrc")));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write("pcm_type.qltestserver { lib \"" QL_SERVER_PCM "\" }\n"
                 "pcm.server { type qltestserver }\n");
    }

    // alsa-lib "takes back" frames from a sound server's PCM by moving its own
    // pointer while the server plays them: a fade-out would follow them.
    void aServerTakesNothingBack_data() {
        QTest::addColumn<QString>("pcm");
        QTest::newRow("the server's own PCM") << "server";
        QTest::newRow("alsa-lib's plug in front of it") << "plug:server";
    }
    void aServerTakesNothingBack() {
        QFETCH(QString, pcm);
        int error = 0;
        auto s = AlsaPcmStream::open(pcm, {48000, PcmFormat::S16_LE, 2}, error);
        QVERIFY2(s, qPrintable(AlsaPcmStream::describeOpenError(error)));
        const QByteArray data = pattern(PcmFormat::S16_LE, 2, 4000);
        QCOMPARE(s->write(data.constData(), 4000), std::int64_t(4000));
        QCOMPARE(s->report().queuedFrames, std::int64_t(4000)); // all held by the server
        QCOMPARE(s->rewind(3000), std::int64_t(0));
    }

    void recordedBytesEqualTheSamplesSent_data() {
        QTest::addColumn<PcmFormat>("format");
        QTest::addColumn<unsigned>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("16-bit stereo 44.1k") << PcmFormat::S16_LE << 44100u << 2;
        QTest::newRow("24-bit packed stereo 96k") << PcmFormat::S24_3LE << 96000u << 2;
        QTest::newRow("24-bit in 32 stereo 192k") << PcmFormat::S24_LE << 192000u << 2;
        QTest::newRow("float stereo 48k") << PcmFormat::FLOAT_LE << 48000u << 2;
        QTest::newRow("16-bit mono 22.05k") << PcmFormat::S16_LE << 22050u << 1;
    }
    void recordedBytesEqualTheSamplesSent() {
        QFETCH(PcmFormat, format);
        QFETCH(unsigned, rate);
        QFETCH(int, channels);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out.raw"));
        const QByteArray sent = pattern(format, channels, 30000);
        const int bpf = layoutOf(format).bytes * channels;
        {
            int error = 0;
            auto s = AlsaPcmStream::open(filePcm(out), {rate, format, channels}, error);
            QVERIFY2(s, qPrintable(AlsaPcmStream::describeOpenError(error)));
            QCOMPARE(s->config().rate, rate);
            QVERIFY(s->periodFrames() > 0 && s->periodFrames() <= s->bufferFrames());
            QVERIFY(writeAll(*s, sent, bpf));
        } // closing flushes the file
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray recorded = f.readAll();
        QCOMPARE(recorded.size(), sent.size());
        QVERIFY2(recorded == sent, "the recorded bytes differ from the samples sent");
    }

    void pausingLosesAndRepeatsNothing() {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out.raw"));
        const QByteArray sent = pattern(PcmFormat::S24_3LE, 2, 20000);
        const int bpf = 6;
        {
            int error = 0;
            auto s = AlsaPcmStream::open(filePcm(out), {48000, PcmFormat::S24_3LE, 2}, error);
            QVERIFY(s);
            QVERIFY(writeAll(*s, sent, bpf, 0, 7000));
            s->pause(true);
            if (!s->canPause()) {
                // Without a hardware pause it takes nothing while paused.
                QCOMPARE(s->report().freeFrames, std::int64_t(0));
                QCOMPARE(s->write(sent.constData() + 7000 * bpf, 100), std::int64_t(0));
            }
            s->pause(false);
            QVERIFY(writeAll(*s, sent, bpf, 7000));
        }
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == sent);
    }

    void theNullDeviceTakesAnyRate_data() {
        QTest::addColumn<unsigned>("rate");
        QTest::addColumn<PcmFormat>("format");
        QTest::newRow("8k 16-bit") << 8000u << PcmFormat::S16_LE;
        QTest::newRow("an odd rate") << 44101u << PcmFormat::FLOAT_LE;
    }
    void theNullDeviceTakesAnyRate() {
        QFETCH(unsigned, rate);
        QFETCH(PcmFormat, format);
        int error = 0;
        auto s = AlsaPcmStream::open(QStringLiteral("null"), {rate, format, 2}, error);
        QVERIFY2(s, qPrintable(QString::number(error)));
        const QByteArray data = pattern(format, 2, 4 * int(s->bufferFrames()));
        QVERIFY(writeAll(*s, data, layoutOf(format).bytes * 2));
        const StreamReport r = s->report();
        QCOMPARE(r.queuedFrames + r.freeFrames, s->bufferFrames());
        s->drain(100);
    }

    void openFailuresAreCleanAndImmediate_data() {
        QTest::addColumn<QString>("pcm");
        QTest::addColumn<unsigned>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("card that is not there") << "hw:CARD=NoSuchCard,DEV=0" << 48000u << 2;
        QTest::newRow("no rate") << "null" << 0u << 2;
        QTest::newRow("no channels") << "null" << 48000u << 0;
    }
    void openFailuresAreCleanAndImmediate() {
        QFETCH(QString, pcm);
        QFETCH(unsigned, rate);
        QFETCH(int, channels);
        int error = 0;
        auto s = AlsaPcmStream::open(pcm, {rate, PcmFormat::S16_LE, channels}, error);
        QVERIFY(!s);
        QVERIFY(error < 0);
        QVERIFY(!AlsaPcmStream::describeOpenError(error).isEmpty());
    }

    void aBusyDeviceSaysSo() {
        QCOMPARE(AlsaPcmStream::describeOpenError(-EBUSY),
                 QStringLiteral("The output device is in use by another program."));
    }
};

QL_TEST_MAIN_CORE(AlsaStreamTest)
#include "AlsaStreamTest.moc"
