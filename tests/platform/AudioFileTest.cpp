// Guards against: samples misread from a file, or a bad file taken as audio.
#include "platform/audio/AudioFile.h"
#include "platform/audio/PrefetchReader.h"

#include "TestAudio.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>

#include <sndfile.h>

#include <cmath>

Q_DECLARE_METATYPE(ql::test::Damage)

using namespace ql;
using namespace ql::platform;

namespace {

QString tmp(const QString& name) {
    return QDir::tempPath() + "/" + name;
}

// Reads the whole file through AudioFile in blocks of `block` frames.
// Returns -1 frames on an error.
std::int64_t readAll(AudioFile& f, std::int64_t block, std::vector<double>* out = nullptr) {
    std::vector<double> buf(std::size_t(block * f.channels()));
    std::int64_t total = 0;
    for (;;) {
        const std::int64_t n = f.read(buf.data(), block);
        if (n < 0)
            return -1;
        if (out)
            out->insert(out->end(), buf.begin(), buf.begin() + n * f.channels());
        total += n;
        if (n < block)
            return total;
    }
}

} // namespace

class AudioFileTest : public QObject {
    Q_OBJECT
private slots:
    // Files the player must refuse with a sentence naming the file.
    void refusesWhatItCannotRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << "missing.flac" << QByteArray();
        QTest::newRow("text file named .flac") << "notes.flac" << QByteArray("hello, not audio\n");
        QTest::newRow("random bytes named .wav") << "noise.wav" << QByteArray(3000, '\x5a');
        QTest::newRow("empty file") << "empty.flac" << QByteArray("");
        QTest::newRow("RIFF header with nothing after it")
            << "cut.wav" << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16);
        QTest::newRow("AAC in .m4a (not a libsndfile format)") << "song.m4a" << QByteArray("aac");
    }
    void refusesWhatItCannotRead() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString path = tmp(name);
        if (content == "aac") {
            QVERIFY(test::runFfmpeg(
                {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac", path}));
        } else if (name != "missing.flac") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const auto r = AudioFile::open(path);
        QVERIFY(!r.file);
        QVERIFY2(r.error.contains(name), qPrintable(r.error));
        QVERIFY2(r.error.size() > name.size() + 12, qPrintable(r.error));
    }

    void directoryIsRefused() {
        const auto r = AudioFile::open(QDir::tempPath());
        QVERIFY(!r.file);
        QVERIFY(!r.error.isEmpty());
    }

    // Every integer sample comes back exactly, in any block size.
    void readsEveryFormatExactly_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("block");
        QTest::newRow("16-bit WAV, stereo, odd blocks")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << 1000;
        QTest::newRow("24-bit WAV, mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 1 << 4096;
        QTest::newRow("32-bit WAV, stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_32) << 2 << 777;
        QTest::newRow("16-bit FLAC, stereo") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << 4096;
        QTest::newRow("24-bit FLAC, 6 channels") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 6 << 333;
        QTest::newRow("24-bit AIFF") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << 2 << 4096;
    }
    void readsEveryFormatExactly() {
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(int, block);
        const QString path = tmp("exact.bin");
        test::AudioShape shape;
        shape.format = format;
        shape.channels = channels;
        shape.frames = 20000;
        QVERIFY(test::writeAudio(path, shape));
        const test::Samples ref = test::readSamples(path);
        QCOMPARE(ref.frames(), shape.frames);

        auto r = AudioFile::open(path);
        QVERIFY2(r.file, qPrintable(r.error));
        QCOMPARE(r.file->channels(), channels);
        QCOMPARE(r.file->frames(), shape.frames);
        QCOMPARE(r.file->sampleRate(), 44100.0);
        std::vector<double> got;
        QCOMPARE(readAll(*r.file, block, &got), shape.frames);
        QCOMPARE(got.size(), ref.data.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            const double scaled = got[i] * 2147483648.0;
            if (scaled != double(ref.data[i]))
                QFAIL(
                    qPrintable(QString("sample %1: %2 != %3").arg(i).arg(scaled).arg(ref.data[i])));
        }
    }

    void reportsSourceBits_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("bits");
        QTest::newRow("16-bit FLAC") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 16;
        QTest::newRow("24-bit WAV") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 24;
        QTest::newRow("32-bit WAV") << (SF_FORMAT_WAV | SF_FORMAT_PCM_32) << 32;
        QTest::newRow("float WAV") << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 0;
    }
    void reportsSourceBits() {
        QFETCH(int, format);
        QFETCH(int, bits);
        const QString path = tmp("bits.bin");
        test::AudioShape shape;
        shape.format = format;
        shape.signal = test::Signal::Sine;
        QVERIFY(test::writeAudio(path, shape));
        auto r = AudioFile::open(path);
        QVERIFY(r.file);
        QCOMPARE(r.file->sourceBits(), bits);
    }

    // A stream that breaks part-way is an error, never a short success.
    void brokenDataIsAnError_data() {
        QTest::addColumn<test::Damage>("damage");
        QTest::newRow("FLAC cut in the middle") << test::Damage::Cut;
        QTest::newRow("FLAC with scrambled frames") << test::Damage::Scramble;
    }
    void brokenDataIsAnError() {
        QFETCH(test::Damage, damage);
        const QString path = tmp("broken.flac");
        QVERIFY(test::writeBrokenFlac(path, 44100 * 4, damage));
        auto r = AudioFile::open(path);
        QVERIFY(r.file);
        QCOMPARE(readAll(*r.file, 4096), std::int64_t(-1));
        QVERIFY(r.file->error().contains("broken.flac"));
    }

    void seekLandsOnTheFrame() {
        const QString path = tmp("seek.wav");
        test::AudioShape shape;
        shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        shape.frames = 10000;
        QVERIFY(test::writeAudio(path, shape));
        const test::Samples ref = test::readSamples(path);
        auto r = AudioFile::open(path);
        QVERIFY(r.file->seek(7777));
        double frame[2];
        QCOMPARE(r.file->read(frame, 1), std::int64_t(1));
        QCOMPARE(frame[0] * 2147483648.0, double(ref.data[7777 * 2]));
        QCOMPARE(frame[1] * 2147483648.0, double(ref.data[7777 * 2 + 1]));
        QVERIFY(r.file->seek(10000)); // onto the end: nothing more to read
        QCOMPARE(r.file->read(frame, 1), std::int64_t(0));
        QVERIFY(r.file->seek(99999)); // past the end is clamped
        QCOMPARE(r.file->position(), std::int64_t(10000));
    }

    // Read-ahead hands out the very samples of a sequential read, in order,
    // also after a restart in the middle, with one worker or two.
    void readAheadKeepsTheSequence_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("workers");
        QTest::addColumn<qint64>("restartAt");
        QTest::newRow("FLAC, two workers")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 2 << qint64(-1);
        QTest::newRow("FLAC, restart inside a block")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << qint64(12345);
        QTest::newRow("WAV, one worker, restart")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 1 << qint64(999);
    }
    void readAheadKeepsTheSequence() {
        QFETCH(int, format);
        QFETCH(int, workers);
        QFETCH(qint64, restartAt);
        const QString path = tmp("ahead.bin");
        test::AudioShape shape;
        shape.format = format;
        shape.frames = 50'001;
        QVERIFY(test::writeAudio(path, shape));
        const test::Samples ref = test::readSamples(path);
        auto opened = AudioFile::open(path);
        PrefetchReader reader(std::move(opened.file), 4096);
        QCOMPARE(reader.workers(), workers);
        const double* block = nullptr;
        std::int64_t at = 0;
        if (restartAt >= 0) {
            QCOMPARE(reader.next(&block), std::int64_t(4096));
            reader.restart(restartAt);
            at = restartAt;
        }
        for (;;) {
            const std::int64_t n = reader.next(&block);
            QVERIFY(n >= 0);
            for (std::int64_t i = 0; i < n * 2; ++i)
                if (block[i] * 2147483648.0 != double(ref.data[std::size_t(at * 2 + i)]))
                    QFAIL(qPrintable(QString("frame %1 differs").arg(at + i / 2)));
            at += n;
            if (n < 4096)
                break;
        }
        QCOMPARE(at, shape.frames);
        QCOMPARE(reader.next(&block), std::int64_t(0)); // and nothing after the end
    }

    void readAheadReportsABrokenFile() {
        const QString path = tmp("ahead-broken.flac");
        QVERIFY(test::writeBrokenFlac(path, 44100 * 3));
        PrefetchReader reader(AudioFile::open(path).file, 4096);
        const double* block = nullptr;
        std::int64_t n = 0;
        while ((n = reader.next(&block)) == 4096) {
        }
        QCOMPARE(n, std::int64_t(-1));
        QVERIFY(reader.error().contains("ahead-broken.flac"));
    }

    void writesFloatCafThatReadsBack() {
        const QString path = tmp("Quavelark-test.caf");
        auto w = AudioFile::createFloatCaf(path, 48000, 2);
        QVERIFY2(w.file, qPrintable(w.error));
        std::vector<double> data(2 * 3000);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = double(float(std::sin(double(i) * 0.01) * 0.9));
        QVERIFY(w.file->write(data.data(), 3000));
        QVERIFY(w.file->close());

        SF_INFO info{};
        SNDFILE* raw = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        QVERIFY(raw);
        QCOMPARE(info.format, SF_FORMAT_CAF | SF_FORMAT_FLOAT);
        sf_close(raw);

        auto r = AudioFile::open(path);
        QVERIFY(r.file);
        QCOMPARE(r.file->sampleRate(), 48000.0);
        std::vector<double> back;
        QCOMPARE(readAll(*r.file, 1024, &back), std::int64_t(3000));
        QVERIFY(back == data);
    }

    void cannotCreateInAMissingFolder() {
        auto w = AudioFile::createFloatCaf(tmp("no/such/folder/x.caf"), 48000, 2);
        QVERIFY(!w.file);
        QVERIFY(w.error.contains("x.caf"));
    }
};

QL_TEST_MAIN_CORE(AudioFileTest)
#include "AudioFileTest.moc"
