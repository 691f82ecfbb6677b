// Guards against: samples misread from a file, or a bad file taken as audio.
#include "platform/audio/AudioFile.h"
#include "platform/audio/FfmpegGate.h"
#include "platform/audio/FlacMetaMask.h"
#include "platform/audio/PrefetchReader.h"

#include "PlayerRig.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <sndfile.h>

#include <cmath>
#include <cstring>

Q_DECLARE_METATYPE(ql::test::Damage)
using namespace ql;
using namespace ql::platform;

namespace {

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

// What a program prints on its standard output.
QByteArray output(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

// `path` as ffmpeg decodes it: interleaved floats.
std::vector<float> ffmpegDecode(const QString& path) {
    const QByteArray raw = output("ffmpeg", {"-v", "error", "-i", path, "-f", "f32le", "-"});
    std::vector<float> v(std::size_t(raw.size()) / sizeof(float));
    std::memcpy(v.data(), raw.constData(), v.size() * sizeof(float));
    return v;
}

// The first sample from `at` where `got` and `want` differ by more than
// 1e-6, or -1.
std::int64_t firstDifference(const double* got, const float* want, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
        if (std::abs(got[i] - double(want[i])) > 1e-6)
            return i;
    return -1;
}

// `bytes` with the top-level MPEG-4 box `type` taken out.
QByteArray withoutBox(const QByteArray& bytes, const char* type) {
    QByteArray out;
    for (qsizetype at = 0; at + 8 <= bytes.size();) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
        const qsizetype size = qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (size < 8)
            return bytes;
        if (bytes.mid(at + 4, 4) != type)
            out += bytes.mid(at, size);
        at += size;
    }
    return out;
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
        QTest::newRow("WavPack (for the decode road)") << "song.wv" << QByteArray("wavpack");
        QTest::newRow("Opus in .m4a (for the decode road)") << "opus.m4a" << QByteArray("libopus");
        QTest::newRow("a folder named .flac") << "folder.flac" << QByteArray("folder");
    }
    void refusesWhatItCannotRead() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString path = test::tempFile(name);
        if (content == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (content == "wavpack" || content == "libopus") {
            QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a",
                                     content, "-f", name.endsWith(".wv") ? "wv" : "mp4", path}));
        } else if (name != "missing.flac") {
            QVERIFY(test::writeFile(path, content));
        }
        const auto r = AudioFile::open(path);
        QVERIFY(!r.file);
        QVERIFY2(r.error.contains(name), qPrintable(r.error));
        QVERIFY2(r.error.size() > name.size() + 12, qPrintable(r.error));
    }

    // An MP3 whose decoder can only guess its length from the first frame's
    // bit rate is refused when its frames say otherwise (it goes to the decode
    // road); the others read their whole length.
    void mp3LengthIsCheckedAgainstItsFrames_data() {
        QTest::addColumn<bool>("loudFirst");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<bool>("lengthHeader");
        QTest::addColumn<bool>("refused");
        QTest::newRow("VBR without length header, loud start") << true << true << false << true;
        QTest::newRow("VBR without length header, quiet start") << false << true << false << true;
        QTest::newRow("VBR with length header") << true << true << true << false;
        QTest::newRow("CBR without length header") << true << false << false << false;
    }
    void mp3LengthIsCheckedAgainstItsFrames() {
        QFETCH(bool, loudFirst);
        QFETCH(bool, vbr);
        QFETCH(bool, lengthHeader);
        QFETCH(bool, refused);
        const QString path = test::tempFile("length.mp3");
        QVERIFY(test::writeMp3(path, loudFirst, vbr, lengthHeader));
        const auto r = AudioFile::open(path); // headers only: the count is the first read's
        QVERIFY(r.file);
        std::vector<double> block(2 * 4096);
        std::int64_t frames = 0, n = 0;
        while ((n = r.file->read(block.data(), 4096)) > 0)
            frames += n;
        QCOMPARE(n < 0 && frames == 0, refused);
        if (refused) {
            const QString why = r.file->error();
            QVERIFY2(why.contains("length.mp3") && why.contains("length header"), qPrintable(why));
            return;
        }
        const double counted = double(test::mp3Samples(path));
        QVERIFY2(std::abs(double(frames) - counted) < 0.01 * counted,
                 qPrintable(QString("%1 frames read of %2").arg(frames).arg(counted)));
    }

    // AAC and ALAC give what ffmpeg decodes, as long as it decodes, and seek
    // onto the exact frame; ADTS ends where its decoder runs out.
    void codecFilesMatchFfmpeg_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::newRow("AAC .m4a at 44.1 kHz") << "aac44.m4a"
                                              << "aac" << 44100 << 0;
        QTest::newRow("AAC .m4a at 48 kHz") << "aac48.m4a"
                                            << "aac" << 48000 << 0;
        QTest::newRow("ADTS .aac") << "adts.aac"
                                   << "aac" << 44100 << 0;
        QTest::newRow("16-bit ALAC .m4a") << "alac16.m4a"
                                          << "alac" << 44100 << 16;
        QTest::newRow("24-bit ALAC .caf") << "alac24.caf"
                                          << "alac" << 96000 << 24;
    }
    void codecFilesMatchFfmpeg() {
        QFETCH(QString, name);
        QFETCH(QString, codec);
        QFETCH(int, rate);
        QFETCH(int, bits);
        const QString path = test::tempFile(name);
        const bool adts = name.endsWith(".aac");
        const QString sampleFormat = bits == 16 ? "s16p" : bits ? "s32p" : "fltp";
        // Noise substitution draws new noise after a seek in any decoder:
        // none here.
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i",
             QString("sine=frequency=997:duration=30:sample_rate=%1").arg(rate), "-af",
             "volume=0.7,aeval=val(0)|-val(0)*0.5:c=stereo,aformat=channel_layouts=stereo", "-c:a",
             codec, "-sample_fmt", sampleFormat, "-aac_pns", "0", path}));
        const std::vector<float> ref = ffmpegDecode(path);
        const std::int64_t frames = std::int64_t(ref.size()) / 2;
        const double probed = output("ffprobe", {"-v", "error", "-show_entries", "stream=duration",
                                                 "-of", "csv=p=0", path})
                                  .trimmed()
                                  .toDouble();

        auto r = AudioFile::open(path);
        QVERIFY2(r.file, qPrintable(r.error));
        AudioFile& f = *r.file;
        QCOMPARE(f.sampleRate(), double(rate));
        QCOMPARE(f.channels(), 2);
        QCOMPARE(f.sourceBits(), bits);
        if (adts)
            QVERIFY2(std::abs(double(f.frames()) / rate - probed) < 0.02 * probed,
                     qPrintable(QString("%1 frames, ffprobe %2 s").arg(f.frames()).arg(probed)));
        else
            QCOMPARE(f.frames(), frames);
        if (codec == "aac") // within one AAC frame of the stated length
            QVERIFY(std::abs(double(f.frames()) - probed * rate) <= (adts ? 0.02 * frames : 1024));
        std::vector<double> all;
        QCOMPARE(readAll(f, 4000, &all), frames);
        QCOMPARE(f.frames(), frames);
        QCOMPARE(firstDifference(all.data(), ref.data(), frames * 2), std::int64_t(-1));
        if (adts)
            return;
        for (const double t : {7.5, 0.0, 29.99, 1.0e9}) {
            const std::int64_t at = std::min<std::int64_t>(std::llround(t * rate), frames);
            QVERIFY(f.seek(at));
            QCOMPARE(f.position(), at);
            std::vector<double> part;
            QCOMPARE(readAll(f, 4096, &part), frames - at);
            QCOMPARE(firstDifference(part.data(), ref.data() + at * 2, (frames - at) * 2),
                     std::int64_t(-1));
        }
    }

    // Damaged MPEG-4 files either fail at open with a sentence naming the
    // file, or play to an end; nothing crashes or hangs.
    void damagedCodecFilesFailCleanly_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("failsAtOpen");
        QTest::newRow("cut at half") << "cut" << 1 << true;
        QTest::newRow("without its index atom") << "moov" << 1 << true;
        QTest::newRow("random bytes") << "random" << 1 << true;
        QTest::newRow("flipped bytes") << "flip" << 300 << false;
    }
    void damagedCodecFilesFailCleanly() {
        QFETCH(QString, damage);
        QFETCH(int, copies);
        QFETCH(bool, failsAtOpen);
        const QString source = test::tempFile("whole.m4a");
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", "-ac", "2",
                                 "-c:a", "aac", source}));
        QFile in(source);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray whole = in.readAll();
        QRandomGenerator random(24);
        test::PlayerRig rig(SimClock::Untimed, test::physical(44100, 24, false, 4));
        const QString path = test::tempFile("damaged.m4a");
        for (int copy = 0; copy < copies; ++copy) {
            QByteArray bytes = whole;
            if (damage == "cut")
                bytes.truncate(bytes.size() / 2);
            else if (damage == "moov")
                bytes = withoutBox(bytes, "moov");
            else if (damage == "random")
                for (char& b : bytes)
                    b = char(random.bounded(256));
            else
                for (int i = 0; i < 8; ++i)
                    bytes[random.bounded(bytes.size())] ^= char(1 + random.bounded(255));
            QVERIFY(test::writeFile(path, bytes));
            auto opened = platform::AudioPlayer::open(*rig.platform.outputs, path);
            if (!opened.player) {
                QVERIFY2(opened.error.contains("damaged.m4a") && opened.error.endsWith('.'),
                         qPrintable(opened.error));
                continue;
            }
            QVERIFY2(!failsAtOpen, qPrintable(damage));
            test::Finishes fin(*opened.player);
            QVERIFY(opened.player->play());
            QTRY_COMPARE_WITH_TIMEOUT(fin.results.size(), 1, 20000);
        }
    }

    // Every integer sample comes back exactly, in any block size, and the
    // file's own bit depth is reported.
    void readsEveryFormatExactly_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("bits");
        QTest::newRow("16-bit WAV, stereo, odd blocks")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << 1000 << 16;
        QTest::newRow("24-bit WAV, mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 1 << 4096 << 24;
        QTest::newRow("32-bit WAV, stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_32) << 2 << 777 << 32;
        QTest::newRow("16-bit FLAC, stereo")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << 4096 << 16;
        QTest::newRow("24-bit FLAC, 6 channels")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 6 << 333 << 24;
        QTest::newRow("24-bit AIFF") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << 2 << 4096 << 24;
    }
    void readsEveryFormatExactly() {
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(int, block);
        QFETCH(int, bits);
        const QString path = test::tempFile("exact.bin");
        const test::AudioShape shape{.format = format, .channels = channels, .frames = 20000};
        QVERIFY(test::writeAudio(path, shape));
        const test::Samples ref = test::readSamples(path);
        QCOMPARE(ref.frames(), shape.frames);

        auto r = AudioFile::open(path);
        QVERIFY2(r.file, qPrintable(r.error));
        QCOMPARE(r.file->channels(), channels);
        QCOMPARE(r.file->frames(), shape.frames);
        QCOMPARE(r.file->sampleRate(), 44100.0);
        QCOMPARE(r.file->sourceBits(), bits);
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

    // A stream that breaks part-way is an error, never a short success.
    void brokenDataIsAnError_data() {
        QTest::addColumn<test::Damage>("damage");
        QTest::newRow("FLAC cut in the middle") << test::Damage::Cut;
        QTest::newRow("FLAC with scrambled frames") << test::Damage::Scramble;
    }
    void brokenDataIsAnError() {
        QFETCH(test::Damage, damage);
        const QString path = test::tempFile("broken.flac");
        QVERIFY(test::writeBrokenFlac(path, 44100 * 4, damage));
        auto r = AudioFile::open(path);
        QVERIFY(r.file);
        QCOMPARE(readAll(*r.file, 4096), std::int64_t(-1));
        QVERIFY(r.file->error().contains("broken.flac"));
        // Read ahead, the same break is the same error.
        PrefetchReader reader(AudioFile::open(path).file, 4096);
        const double* block = nullptr;
        std::int64_t n = 0;
        while ((n = reader.next(&block)) == 4096) {
        }
        QCOMPARE(n, std::int64_t(-1));
        QVERIFY(reader.error().contains("broken.flac"));
        // Asked again, it is still the error, never a clean end.
        QCOMPARE(reader.next(&block), std::int64_t(-1));
        QVERIFY(reader.error().contains("broken.flac"));
    }

    // libFLAC refuses a comment block of more than 100,000 entries; the
    // file's audio still plays, sample for sample, and seeks, also where
    // seeking reopens the file.
    void flacWithTooManyTagsReadsItsSamples_data() {
        QTest::addColumn<bool>("storesLength");
        QTest::addColumn<bool>("sparsePadding");
        QTest::newRow("100,001 comments") << true << false;
        QTest::newRow("100,001 comments, no stored length") << false << false;
        // Left out of what libsndfile reads, which then holds other offsets.
        QTest::newRow("100,001 comments, then a sparse gigabyte of padding") << true << true;
    }
    void flacWithTooManyTagsReadsItsSamples() {
        QFETCH(bool, storesLength);
        QFETCH(bool, sparsePadding);
        const QString plain = test::tempFile("plain.flac"), tagged = test::tempFile("tagged.flac");
        const std::int64_t frames = 30000;
        QVERIFY(test::writeAudio(
            plain, {.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24, .rate = 96000, .frames = frames}));
        const test::Samples ref = test::readSamples(plain);
        if (sparsePadding) {
            QVERIFY(
                test::writeSparsePadded(tagged, test::readFile(plain), 100001, qint64(1) << 30));
        } else {
            QFile in(plain), out(tagged);
            QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
            out.write(test::withComments(in.readAll(), 100001, storesLength));
            out.close();
        }
        QVERIFY(test::readSamples(tagged).data.empty()); // libsndfile alone refuses it

        auto r = AudioFile::open(tagged);
        QVERIFY2(r.file, qPrintable(r.error));
        QCOMPARE(r.file->sampleRate(), 96000.0);
        QCOMPARE(r.file->sourceBits(), 24);
        std::vector<double> got;
        QCOMPARE(readAll(*r.file, 4096, &got), frames);
        QCOMPARE(got.size(), ref.data.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i] * 2147483648.0 != double(ref.data[i]))
                QFAIL(qPrintable(QString("sample %1 differs").arg(i)));
        QCOMPARE(r.file->frames(), frames);
        // Backwards, after the end was read.
        QVERIFY(r.file->seek(12345));
        double frame[2];
        QCOMPARE(r.file->read(frame, 1), std::int64_t(1));
        QCOMPARE(frame[0] * 2147483648.0, double(ref.data[12345 * 2]));
        QCOMPARE(frame[1] * 2147483648.0, double(ref.data[12345 * 2 + 1]));
    }

    // libFLAC skips ID3v2 tags before "fLaC" and reads every block up to the
    // last, whatever stands before a comment block: each comment block is
    // masked wherever it stands, and ffmpeg is never given the file as it
    // is. A FLAC whose blocks run out of the file is refused by name.
    void flacMaskWalksEveryBlock_data() {
        QTest::addColumn<test::FlacShape>("shape");
        QTest::addColumn<int>("comments");
        QTest::addColumn<QString>("refusal"); // empty: plays sample for sample
        using S = test::FlacShape;
        QTest::newRow("ID3v2 tag before fLaC") << S::Id3Before << 200000 << "";
        QTest::newRow("ID3v2.4 tag and footer before fLaC") << S::Id3WithFooter << 200000 << "";
        QTest::newRow("1,100 blocks before the comments") << S::BlocksBefore << 200000 << "";
        QTest::newRow("small comment block first") << S::SmallCommentsFirst << 200000 << "";
        QTest::newRow("second STREAMINFO") << S::SecondStreamInfo << 200000 << "";
        // libsndfile refuses it with 10 comments too, and so does ffmpeg.
        QTest::newRow("second STREAMINFO of another channel count")
            << S::OtherStreamInfo << 200000 << "flac decoder";
        QTest::newRow("a block past the end") << S::BlockPastEnd << 10 << "damaged";
    }
    void flacMaskWalksEveryBlock() {
        QFETCH(test::FlacShape, shape);
        QFETCH(int, comments);
        QFETCH(QString, refusal);
        const QString plain = test::tempFile("mask-plain.flac"), path = test::tempFile("mask.flac");
        QVERIFY(QFile::exists(plain) ||
                test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", "-ac", "2",
                                 "-c:a", "flac", plain}));
        const test::Samples ref = test::readSamples(plain);
        QVERIFY(!ref.data.empty());
        QVERIFY(test::writeFile(path, test::shapedFlac(test::readFile(plain), shape, comments)));

        // Asked first: it answers at once, and a reader that would parse the
        // comments for minutes is never handed the file.
        QVERIFY(FfmpegGate::kept(path));
        QVERIFY(FfmpegGate::kept("file:" + path));
        auto r = AudioFile::open(path);
        if (!refusal.isEmpty()) {
            QVERIFY(!r.file);
            QVERIFY(r.keptFromFfmpeg);
            QVERIFY2(r.error.contains("mask.flac") && r.error.contains(refusal),
                     qPrintable(r.error));
            return;
        }
        QVERIFY2(r.file, qPrintable(r.error));
        std::vector<double> got;
        QCOMPARE(readAll(*r.file, 4096, &got), ref.frames());
        QCOMPARE(got.size(), ref.data.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i] * 2147483648.0 != double(ref.data[i]))
                QFAIL(qPrintable(QString("sample %1 differs").arg(i)));
    }

    // FFmpeg is kept from a file only past the bound of tags (10,000), each
    // format's counted as FFmpeg meets them; a large picture is one tag.
    void gateKeepsOnlyCrowdedTags_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("kept");
        // An MP3's tag holds the genre and `count` TXXX frames; an .m4a the
        // genre and `count` items (and the encoder's name); Ogg `count`
        // comments, the genre among them.
        QTest::newRow("MP3, 10,000 frames: read") << "MP3" << 9999 << false;
        QTest::newRow("MP3, 10,001 frames: kept") << "MP3" << 10000 << true;
        QTest::newRow("MP3 with a stray byte, 10,001 frames: kept") << "MP3 stray" << 10000 << true;
        QTest::newRow("Ogg Vorbis, 10,000 comments: read") << "Vorbis" << 10000 << false;
        QTest::newRow("Ogg Vorbis, 10,001 comments: kept") << "Vorbis" << 10001 << true;
        QTest::newRow("Opus, 10,001 comments: kept") << "Opus" << 10001 << true;
        QTest::newRow(".m4a, 9,000 items: read") << "m4a" << 9000 << false;
        QTest::newRow(".m4a, 10,001 items: kept") << "m4a" << 10000 << true;
        QTest::newRow("MP3 with a 4 MB picture: read") << "MP3 picture" << 0 << false;
        // Containers whose tags stand elsewhere: an ID3 chunk after a WAV's or
        // an AIFF's sound, comments in FLAC in Ogg, an APEv2 tag ending a
        // WavPack; each with the genre as well.
        QTest::newRow("WAV, ID3 chunk of 10,000 frames: read") << "WAV" << 9999 << false;
        QTest::newRow("WAV, ID3 chunk of 10,001 frames: kept") << "WAV" << 10000 << true;
        QTest::newRow("AIFF, ID3 chunk of 10,000 frames: read") << "AIFF" << 9999 << false;
        QTest::newRow("AIFF, ID3 chunk of 10,001 frames: kept") << "AIFF" << 10000 << true;
        QTest::newRow("Ogg FLAC, 10,000 comments: read") << "Ogg FLAC" << 10000 << false;
        QTest::newRow("Ogg FLAC, 10,001 comments: kept") << "Ogg FLAC" << 10001 << true;
        QTest::newRow("WavPack, APEv2 of 10,000 items: read") << "WavPack" << 9999 << false;
        QTest::newRow("WavPack, APEv2 of 10,001 items: kept") << "WavPack" << 10000 << true;
    }
    void gateKeepsOnlyCrowdedTags() {
        QFETCH(QString, kind);
        QFETCH(int, count);
        QFETCH(bool, kept);
        QString path;
        if (kind == "MP3 picture") {
            const QString plain = test::crowdedFile(test::Crowded::Mp3, 0);
            const QByteArray picture =
                QByteArray("\0image/jpeg\0\x03\0", 14) + QByteArray(4 << 20, '\xAB');
            const auto bigEndian = [](quint32 v) {
                const char b[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
                return QByteArray(b, 4);
            };
            const QByteArray frame =
                "APIC" + bigEndian(quint32(picture.size())) + QByteArray(2, '\0') + picture;
            const auto size = quint32(frame.size());
            const char header[] = {'I',
                                   'D',
                                   '3',
                                   3,
                                   0,
                                   0,
                                   char(size >> 21 & 0x7F),
                                   char(size >> 14 & 0x7F),
                                   char(size >> 7 & 0x7F),
                                   char(size & 0x7F)};
            // The plain MP3's own tag (only the genre) goes after this one.
            path = test::tempFile("picture.mp3");
            QVERIFY(test::writeFile(path, QByteArray(header, 10) + frame + test::readFile(plain)));
        } else {
            const test::Crowded crowded = kind == "MP3"         ? test::Crowded::Mp3
                                          : kind == "MP3 stray" ? test::Crowded::Mp3ZeroAfterTags
                                          : kind == "Vorbis"    ? test::Crowded::Vorbis
                                          : kind == "Opus"      ? test::Crowded::Opus
                                          : kind == "WAV"       ? test::Crowded::Wav
                                          : kind == "AIFF"      ? test::Crowded::Aiff
                                          : kind == "Ogg FLAC"  ? test::Crowded::OggFlac
                                          : kind == "WavPack"   ? test::Crowded::WavPack
                                                                : test::Crowded::M4a;
            path = test::crowdedFile(crowded, count);
        }
        QCOMPARE(FfmpegGate::kept(path), kept);
        QCOMPARE(FfmpegGate::known(path), std::optional(kept));
        // Our own reader plays each (an .m4a only through FFmpeg, when it
        // may); Ogg FLAC and WavPack are left to ffmpeg's decode, when it may.
        const bool ffmpegOnly = kind == "m4a" || kind == "Ogg FLAC" || kind == "WavPack";
        auto r = AudioFile::open(path);
        if (ffmpegOnly && kept) {
            // Refused, and no other reader is to try.
            QVERIFY(!r.file);
            QVERIFY(r.keptFromFfmpeg);
        } else if (kind == "Ogg FLAC" || kind == "WavPack") {
            QVERIFY(!r.keptFromFfmpeg);
        } else {
            QVERIFY2(r.file, qPrintable(r.error));
            std::vector<double> got;
            QVERIFY(readAll(*r.file, 4096, &got) > 44100);
        }
    }

    // The gate counts only the bytes a file holds, whatever its headers
    // claim: a page's lacing that promises more than the file has, or a
    // file cut off in its comments, is no crowded file.
    void gateCountsOnlyBytesPresent_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("kept");
        QTest::newRow("a 363-byte Ogg whose second page claims 65,025 bytes: read")
            << "claims" << false;
        QTest::newRow("Ogg Vorbis of 20,000 comments cut off after 37,312 bytes: read")
            << "cut" << false;
        QTest::newRow("the same Ogg Vorbis whole: kept") << "whole" << true;
    }
    void gateCountsOnlyBytesPresent() {
        QFETCH(QString, kind);
        QFETCH(bool, kept);
        const auto le32 = [](quint32 v) {
            const char b[] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
            return QByteArray(b, 4);
        };
        const auto page = [&](quint32 sequence, const QByteArray& lacing) {
            return QByteArray("OggS\0\0", 6) + QByteArray(8, '\0') + le32(7) + le32(sequence) +
                   le32(0) + char(lacing.size()) + lacing;
        };
        QByteArray bytes;
        const QString path = test::tempFile(QStringLiteral("present-%1.ogg").arg(kind));
        if (kind == "claims") {
            // A Vorbis identification packet of 30 bytes, then a page of 255
            // full segments holding 23 bytes: a comment packet's start that
            // declares 20,000 entries.
            bytes = page(0, QByteArray(1, char(30))) + "\x01vorbis" + QByteArray(23, '\0') +
                    page(1, QByteArray(255, char(255))) + "\x03vorbis" + le32(4) + "test" +
                    le32(20000) + QByteArray(4, '\0');
            QCOMPARE(bytes.size(), 363);
        } else {
            bytes = test::readFile(test::crowdedFile(test::Crowded::Vorbis, 20000));
            if (kind == "cut")
                bytes.truncate(37312);
        }
        QVERIFY(test::writeFile(path, bytes));
        QCOMPARE(FfmpegGate::kept(path), kept);
    }

    // Only tags keep a file from FFmpeg, never time: an open that outlasts
    // its deadline inside FFmpeg (a slow disk, a busy machine) leaves a file
    // of few enough tags to the next open, which plays it.
    void aSlowOpenKeepsNothing_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("kept");
        // The genre and `count` items, read by FFmpeg for far longer than
        // the deadline below.
        QTest::newRow(".m4a of 9,001 items: opens at the next request") << 9000 << false;
        QTest::newRow(".m4a of 10,001 items: kept for its tags") << 10000 << true;
    }
    void aSlowOpenKeepsNothing() {
        QFETCH(int, count);
        QFETCH(bool, kept);
        const QString path = test::crowdedFile(test::Crowded::M4a, count);
        constexpr int kDeadlineMs = 150;
        const auto slow = AudioFile::open(path, QDeadlineTimer(kDeadlineMs));
        QVERIFY2(!slow.file, "read whole within the deadline: no open outlasted it");
        QCOMPARE(slow.keptFromFfmpeg, kept);
        QCOMPARE(FfmpegGate::known(path), std::optional(kept));
        const auto next = AudioFile::open(path);
        QCOMPARE(bool(next.file), !kept);
        QCOMPARE(next.keptFromFfmpeg, kept);
        QCOMPARE(FfmpegGate::kept(path), kept);
    }

    void seekLandsOnTheFrame() {
        const QString path = test::tempFile("seek.wav");
        QVERIFY(
            test::writeAudio(path, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24, .frames = 10000}));
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
        const QString path = test::tempFile("ahead.bin");
        const test::AudioShape shape{.format = format, .frames = 50'001};
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

    void writesFloatCafThatReadsBack() {
        const QString path = test::tempFile("Quavelark-test.caf");
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
        QCOMPARE(r.file->sourceBits(), 0); // floats carry no integer depth
        std::vector<double> back;
        QCOMPARE(readAll(*r.file, 1024, &back), std::int64_t(3000));
        QVERIFY(back == data);
    }

    void cannotCreateInAMissingFolder() {
        auto w = AudioFile::createFloatCaf(test::tempFile("no/such/folder/x.caf"), 48000, 2);
        QVERIFY(!w.file);
        QVERIFY(w.error.contains("x.caf"));
    }
};

QL_TEST_MAIN_CORE(AudioFileTest)
#include "AudioFileTest.moc"
