// Guards against: a verdict the user sees that does not match what a real file holds.
// The real ffmpeg and ffprobe on files made here from noise, silence and clicks.
#include "analysis/AnalyzeFile.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <sndfile.h>

#include <thread>

using namespace ql;
using test::tempFile;

namespace {

QStringList noise(int rate) {
    return {"-f", "lavfi", "-i", QStringLiteral("anoisesrc=c=white:a=0.3:d=40:r=%1").arg(rate)};
}
const QStringList kFlac16{"-c:a", "flac", "-sample_fmt", "s16"};
const QStringList kFlac32{"-c:a", "flac", "-sample_fmt", "s32"};

// clang-format off
struct ScanCase {
    const char* name;
    QList<QStringList> steps; // ffmpeg runs; each writes the file named last
    QString verdictStart, expected, detected, bitdepth, bandwidth, noise;
    bool good;
    double bandwidthKhz; // the figure in the upsampling finding, 0 for none
};
const std::vector<ScanCase>& scanCases() {
    static const std::vector<ScanCase> cases{
        {"44.1 kHz 16-bit FLAC", {noise(44100) + kFlac16 + QStringList{"a.flac"}},
         "정상적인 무손실 음원으로 보입니다 ✓", "16/44.1 (FLAC)", "16/44.1 (CD급)", "16bit (표기) ✓", "22050Hz (전 대역)", "", true, 0},
        {"40 kHz noise upsampled to 96 kHz, padded to 24 bits",
         {noise(40000) + QStringList{"-af", "aresample=96000:resampler=soxr,aformat=s16"} + kFlac32 + QStringList{"b.flac"}},
         "업샘플링 의심: 실제 내용은 44.1kHz급(대역폭 ", "24/96 (FLAC)", "16/44.1 (CD급)", "24bit (표기) · 실효 16비트급", "", "", false, 20.0},
        {"MP3 at 64 kbit/s back to FLAC",
         {noise(44100) + kFlac16 + QStringList{"a.flac"},
          {"-i", tempFile("a.flac"), "-c:a", "libmp3lame", "-b:a", "64k", "c.mp3"},
          QStringList{"-i", tempFile("c.mp3")} + kFlac16 + QStringList{"c.flac"}},
         "손실 압축(MP3 등)을 무손실로 바꾼 음원 의심: 대역폭이 ", "16/44.1 (FLAC)", "16/44.1 (손실 변환 의심)", "16bit (표기) ✓", "", "", false, 0},
        {"the MP3 itself", {noise(44100) + QStringList{"-c:a", "libmp3lame", "-b:a", "64k", "d.mp3"}},
         "손실 압축 포맷입니다(MP3)", "MP3 44.1kHz", "손실 포맷 (MP3)", "해당 없음(손실 포맷)", "", "", true, 0},
        {"60 kHz noise upsampled to 96 kHz at precision 28",
         {noise(60000) + QStringList{"-af", "aresample=96000:resampler=soxr:precision=28"} + kFlac32 + QStringList{"e.flac"}},
         "진짜 하이레즈로 보입니다 ✓", "24/96 (FLAC)", "24/96 Hi-Res ✓", "24bit (표기) ✓", "", "", true, 0},
        {"digital silence in a 24-bit FLAC",
         {{"-f", "lavfi", "-i", "anullsrc=r=48000:cl=mono", "-t", "5", "-c:a", "flac", "-sample_fmt", "s32", "f.flac"}},
         "진짜 하이레즈로 보입니다 ✓", "24/48 (FLAC)", "24/48 Hi-Res ✓", "24bit (표기) ✓", "24000Hz (전 대역)", "-300 dBFS (≈ 32.0bit)", true, 0},
        {"stereo: silent left, noisy right, measured on the left",
         {{"-f", "lavfi", "-i", "anoisesrc=c=white:a=0.3:d=5:r=44100", "-af", "pan=stereo|c0=0*c0|c1=c0", "-c:a", "flac", "-sample_fmt", "s16", "g.flac"}},
         "정상적인 무손실 음원으로 보입니다 ✓", "16/44.1 (FLAC)", "16/44.1 (CD급)", "16bit (표기) ✓", "22050Hz (전 대역)", "-300 dBFS (≈ 32.0bit)", true, 0},
    };
    return cases;
}

// 60 s at 11025 Hz of silence with a click every 5632 samples (22 hops).
bool writeClicks(const QString& path) {
    test::Samples s;
    s.rate = 11025;
    s.channels = 1;
    s.data.assign(60 * 11025, 0);
    for (std::size_t at = 0; at + 64 < s.data.size(); at += 5632)
        for (std::size_t i = at; i < at + 64; ++i)
            s.data[i] = 20000 << 16;
    return test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, s);
}

struct SonicCase { const char* name; QStringList make; bool some; double bpm, zcr; int year; }; // bpm 0, zcr < 0: not checked
const std::vector<SonicCase>& sonicCases() {
    static const std::vector<SonicCase> cases{
        {"3 s are a lasting failure", {"-f", "lavfi", "-i", "sine=f=1000:d=3", "s3.flac"}, false, 0, 0, 0},
        {"20 s are measured from the start", {"-f", "lavfi", "-i", "sine=f=1000:d=20", "-metadata", "date=2003-05-01", "s20.flac"}, true, 0, 2000 / 11025.0, 2003},
        {"a click every 22 hops", {"-i", tempFile("clicks.wav"), "-metadata", "year=1899", "clicks.flac"}, true, 2583.984375 / 22, -1, 0},
    };
    return cases;
}
// clang-format on

// clang-format off
struct YearProbeCase { const char* name; const char* program; const char* script; }; // no script: missing
const std::vector<YearProbeCase> yearProbeCases{
    {"ffprobe missing", "no-such-ffprobe", nullptr},
    {"ffprobe fails", "failing-ffprobe", "#!/bin/sh\necho 'no such file' >&2\nexit 1\n"},
    {"ffprobe killed by a signal", "crashing-ffprobe", "#!/bin/sh\nkill -SEGV $$\n"},
};
// clang-format on

bool make(const QStringList& step) {
    QStringList args = step;
    args.last() = tempFile(args.last());
    return test::runFfmpeg(args);
}

} // namespace

class ScanFilesTest : public QObject {
    Q_OBJECT
private slots:
    void scan_data() { test::addRows(scanCases()); }
    void scan() {
        const ScanCase& c = test::currentCase(scanCases());
        for (const QStringList& step : c.steps)
            QVERIFY(make(step));
        const std::optional<ScanResult> r = analyzeScan(tempFile(c.steps.last().last()));
        QVERIFY(r);
        QVERIFY2(r->verdict.startsWith(c.verdictStart), qPrintable(r->verdict));
        QCOMPARE((QStringList{r->expected, r->detected, r->bitdepth}),
                 (QStringList{c.expected, c.detected, c.bitdepth}));
        QCOMPARE(r->good, c.good);
        if (!c.bandwidth.isEmpty())
            QCOMPARE(r->bandwidth, c.bandwidth);
        if (!c.noise.isEmpty())
            QCOMPARE(r->noise, c.noise);
        if (c.bandwidthKhz > 0) {
            // The upsampling finding, then the padding one, on two lines.
            const QStringList lines = r->verdict.split(u'\n');
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[1], QStringLiteral("실제 16비트 데이터를 24비트로 담았음(패딩)"));
            const double khz = lines[0]
                                   .section(u'(', 1)
                                   .section(QStringLiteral("kHz"), 0, 0)
                                   .section(u' ', 1)
                                   .toDouble();
            QVERIFY2(std::abs(khz - c.bandwidthKhz) <= 0.3, qPrintable(lines[0]));
        }
    }

    void unreadable() {
        QVERIFY(test::writeFile(tempFile("short.wav"), QByteArray(100, 'x')));
        QVERIFY(!analyzeScan(tempFile("short.wav")));
        QVERIFY(make({"-f", "lavfi", "-i", "sine=d=0.5", "half.flac"})); // under 32768 samples
        QVERIFY(!analyzeScan(tempFile("half.flac")));
    }

    void sonic_data() { test::addRows(sonicCases()); }
    void sonic() {
        const SonicCase& c = test::currentCase(sonicCases());
        QVERIFY(writeClicks(tempFile("clicks.wav")));
        QVERIFY(make(c.make));
        const std::optional<Sonic> s = analyzeSonic(tempFile(c.make.last()));
        QVERIFY(s); // a result to keep, measured or failed
        QCOMPARE(s->ok, c.some);
        if (!s->ok)
            return;
        QVERIFY(s->bpm >= 70 && s->bpm < 160);
        if (c.bpm > 0)
            QCOMPARE(s->bpm, c.bpm);
        if (c.zcr >= 0)
            QVERIFY2(std::abs(s->zcr - c.zcr) < 0.002, qPrintable(QString::number(s->zcr)));
        QCOMPARE(s->year, qint64(c.year));
    }

    // The year is read by a second program; when that one cannot tell it, the
    // measured features stand with year 0.
    void aFailedYearProbeKeepsTheFeatures_data() { test::addRows(yearProbeCases); }
    void aFailedYearProbeKeepsTheFeatures() {
        const YearProbeCase& c = test::currentCase(yearProbeCases);
        QVERIFY(make({"-f", "lavfi", "-i", "sine=f=1000:d=20", "-metadata", "date=2003-05-01",
                      "dated.flac"}));
        AnalysisTools tools;
        tools.ffprobe = tempFile(c.program);
        if (c.script)
            QVERIFY(test::writeExecutable(tools.ffprobe, c.script));
        const std::optional<Sonic> s = analyzeSonic(tempFile("dated.flac"), tools);
        QVERIFY(s);
        QVERIFY(s->ok);
        QCOMPARE(s->year, qint64(0));
        QVERIFY2(std::abs(s->zcr - 2000 / 11025.0) < 0.002, qPrintable(QString::number(s->zcr)));
    }

    // A program that cannot start says nothing lasting about the file.
    void aMissingProgramGivesNothing() {
        AnalysisTools tools;
        tools.ffmpeg = tempFile("no-such-ffmpeg");
        QVERIFY(!analyzeSonic(tempFile("any.flac"), tools));
    }

    // The quit ends a running excerpt decode: no result, so a background
    // scan stores nothing for the file.
    void quitGivesNothing() {
        QVERIFY(test::writeExecutable(tempFile("slow-ffmpeg"), "#!/bin/sh\nexec sleep 20\n"));
        AnalysisTools tools;
        tools.ffmpeg = tempFile("slow-ffmpeg");
        tools.registry = std::make_shared<platform::ChildRegistry>();
        std::thread quit([r = tools.registry] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            r->terminateAll();
        });
        const std::optional<Sonic> s = analyzeSonic(tempFile("any.flac"), tools);
        quit.join();
        QVERIFY(!s);
    }
};

QL_TEST_MAIN(ScanFilesTest)
#include "ScanFilesTest.moc"
