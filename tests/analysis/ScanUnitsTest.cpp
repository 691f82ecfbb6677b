// Guards against: a quality verdict or a sonic feature that misreads the signal.
// Synthetic samples, constructed measures, synthetic excerpts.
#include "analysis/ScanVerdict.h"
#include "analysis/SonicFeatures.h"

#include "CaseRows.h"
#include "TestHome.h"

#include <cmath>
#include <complex>
#include <random>

using namespace ql;

namespace {

using Samples = std::vector<std::int32_t>;

// Full-scale sine at the centre of FFT bin 1000 (band 125).
Samples binSine(std::size_t n) {
    Samples s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = std::int32_t(
            std::lround(2147483647.0 * std::sin(2 * M_PI * 1000.0 * double(i) / 8192)));
    return s;
}
// Noise whose low bits are zero below the given width.
Samples noiseOfWidth(std::size_t n, int bits) {
    std::mt19937 gen(7);
    Samples s(n);
    for (auto& v : s)
        v = std::int32_t(gen() & ~((1u << (32 - bits)) - 1));
    return s;
}

// clang-format off
struct SpectrumCase { const char* name; Samples samples; bool some; int frames, hop, usedBits; bool dc; int peakBand; };
const std::vector<SpectrumCase>& spectrumCases() {
    static const std::vector<SpectrumCase> cases{
        {"silence", Samples(32768, 0), true, 4, 8192, 0, false, -1},
        {"32767 samples give nothing", Samples(32767, 0), false, 0, 0, 0, false, -1},
        {"30 s at 44.1 kHz", Samples(1323000, 0), true, 161, 8217, 0, false, -1},
        {"30 s at 96 kHz", Samples(2880000, 0), true, 240, 12015, 0, false, -1},
        {"offset 2 % of full scale", Samples(40000, 42949673), true, 4, 10602, 32, true, 0},
        {"offset 1 % of full scale", Samples(40000, 21474836), true, 4, 10602, 30, false, 0},
        {"16-bit content", noiseOfWidth(40000, 16), true, 4, 10602, 16, false, -2},
        {"24-bit content", noiseOfWidth(40000, 24), true, 4, 10602, 24, false, -2},
        {"full-scale sine at a bin centre", binSine(65536), true, 8, 8192, 32, false, 125},
    };
    return cases;
}

struct JudgeCase { const char* name; StreamFacts facts; ScanMeasures m; QString verdict, expected, detected, bitdepth, bandwidth, channels; bool good; };
const std::vector<JudgeCase>& judgeCases() {
    static const std::vector<JudgeCase> cases{
        {"88.2 kHz cut at 23.9 kHz", {"flac", 88200, 24, 2, 60}, {23900, -150, 24, 24, false}, "업샘플링 의심: 실제 내용은 48kHz급(대역폭 23.9kHz)", "24/88.2 (FLAC)", "24/48 Hi-Res ✓", "24bit (표기) ✓", "23900Hz", "스테레오", false},
        {"88.2 kHz cut at 24.0 kHz", {"flac", 88200, 24, 2, 60}, {24000, -150, 24, 24, false}, "진짜 하이레즈로 보입니다 ✓", "24/88.2 (FLAC)", "24/88.2 Hi-Res ✓", "24bit (표기) ✓", "24000Hz", "스테레오", true},
        {"48 kHz cut at exactly 19 kHz", {"flac", 48000, 16, 1, 60}, {19000, -100, 16, 16, false}, "대역폭이 다소 좁음(19.0kHz). 참고만 하세요", "16/48 (FLAC)", "16/48 (CD급)", "16bit (표기) ✓", "19000Hz", "모노", true},
        {"enob 17.4", {"flac", 96000, 24, 6, 60}, {48000, -110, 17.4, 24, false}, "실제 해상도는 16비트급입니다(잡음 바닥 -110dBFS). 24비트로 담았지만 16비트 음원일 가능성이 높습니다", "24/96 (FLAC)", "16/96 Hi-Res ✓", "24bit (표기) · 실효 16비트급", "48000Hz (전 대역)", "6채널", false},
        {"enob 17.5", {"flac", 44100, 24, 0, 60}, {22050, -110, 17.5, 24, false}, "진짜 하이레즈로 보입니다 ✓", "24/44.1 (FLAC)", "24/44.1 Hi-Res ✓", "24bit (표기) ✓", "22050Hz (전 대역)", "0채널", true},
        {"bits 0 with silent samples", {"pcm_s32le", 44100, 0, 2, 60}, {22050, -300, 32, 0, false}, "정상적인 무손실 음원으로 보입니다 ✓", "0/44.1 (PCM_S32LE)", "0/44.1 (CD급)", "?", "22050Hz (전 대역)", "스테레오", true},
        {"lossy cut with DC offset", {"flac", 44100, 16, 2, 60}, {16021, -100, 16, 16, true}, "손실 압축(MP3 등)을 무손실로 바꾼 음원 의심: 대역폭이 16.0kHz에서 잘림\nDC 오프셋 있음", "16/44.1 (FLAC)", "16/44.1 (손실 변환 의심)", "16bit (표기) ✓", "16021Hz", "스테레오", false},
        {"MP3", {"mp3", 44100, 0, 2, 60}, {16000, -100, 16, 32, false}, "손실 압축 포맷입니다(MP3)", "MP3 44.1kHz", "손실 포맷 (MP3)", "해당 없음(손실 포맷)", "16000Hz", "스테레오", true},
    };
    return cases;
}

// A curve at 0 dB below band `edge` and −100 dB from it; band powers `top`
// below the edge and `floor` above it.
ScanBands stepSpectrum(int edge, float floor, float top = 1) {
    ScanBands s;
    for (int b = 0; b < kScanBands; ++b) {
        s.curve.push_back(b < edge ? 0.0f : -100.0f);
        s.bandPower.push_back(b < edge ? top : floor);
    }
    return s;
}
// The band power that gives this many effective bits.
float powerForEnob(double enob) {
    return float(32768 * std::pow(10.0, (-(enob - 1) * 6.02 - 10.79) / 10));
}

struct MeasureCase { const char* name; double rate; ScanBands spectrum; double cutoff, enob; };
const std::vector<MeasureCase>& measureCases() {
    static const std::vector<MeasureCase> cases{
        {"digital silence reaches the top", 96000, stepSpectrum(512, 0, 0), 48000, 32},
        {"step at band 300 cuts at band 302", 96000, stepSpectrum(300, powerForEnob(20)), 302 / 512.0 * 48000, 20},
        {"rate 4000 keeps the Nyquist frequency", 4000, stepSpectrum(100, powerForEnob(12)), 2000, 12},
        {"a tiny rate does not overflow", 1e-300, stepSpectrum(100, powerForEnob(12)), 1e-300 / 2, 12},
        {"flat noise of 17.4 bits", 44100, stepSpectrum(512, 0, powerForEnob(17.4)), 22050, 17.4},
    };
    return cases;
}

struct SonicCase { const char* name; std::vector<std::int16_t> samples; bool some; double bpm, db, dyn, zcr; };
const std::vector<SonicCase>& sonicCases() {
    std::vector<std::int16_t> square(44100);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 4) % 2 ? 16384 : -16384;
    static const std::vector<SonicCase> cases{
        {"10 s of silence", std::vector<std::int16_t>(110250, 0), true, 107.666015625, -100, 0, 0},
        {"just under 4 s", std::vector<std::int16_t>(44099, 0), false, 0, 0, 0, 0},
        {"a square wave at -6 dBFS", square, true, 107.666015625, 20 * std::log10(0.5), 0, 11024 / 44100.0},
    };
    return cases;
}
// clang-format on

} // namespace

class ScanUnitsTest : public QObject {
    Q_OBJECT
private slots:
    void spectrum_data() { test::addRows(spectrumCases()); }
    void spectrum() {
        const SpectrumCase& c = test::currentCase(spectrumCases());
        const std::optional<ScanBands> s = scanSpectrum(c.samples);
        QCOMPARE(s.has_value(), c.some);
        if (!s)
            return;
        QCOMPARE(s->frames, c.frames);
        QCOMPARE(s->hop, c.hop);
        QCOMPARE(s->usedBits, c.usedBits);
        QCOMPARE(s->dc, c.dc);
        for (int b = 0; b < kScanBands; ++b) {
            const float level = s->curve[std::size_t(b)];
            if (c.peakBand == -1) { // silence: −200 dB everywhere, a flat curve
                QCOMPARE(10 * std::log10(s->bandPower[std::size_t(b)] + 1e-20f), -200.0f);
                QCOMPARE(level, 0.0f);
            } else if (c.peakBand == b) {
                QCOMPARE(level, 0.0f);
            } else if (c.peakBand >= 0 && std::abs(b - c.peakBand) > 1) {
                QVERIFY2(level < -60, qPrintable(QString::number(b)));
            } else if (c.peakBand == -2 && b > 2) { // white noise: flat within a few dB
                QVERIFY2(level > -10, qPrintable(QString::number(b)));
            }
        }
    }

    // One frame's power against a direct DFT in double: 4·|X_k|², and DC with
    // Nyquist folded into bin 0.
    void framePowerMatchesTheDft() {
        std::mt19937 gen(3);
        std::uniform_real_distribution<float> u(-1, 1);
        std::vector<float> x(kScanPoints);
        for (float& v : x)
            v = u(gen);
        const std::vector<float> power = framePower(x);
        QCOMPARE(power.size(), std::size_t(kScanPoints / 2));
        const auto dft = [&x](int k) {
            std::complex<double> sum = 0;
            for (int i = 0; i < kScanPoints; ++i)
                sum += double(x[std::size_t(i)]) *
                       std::polar(1.0,
                                  -2 * M_PI * ((std::int64_t(k) * i) % kScanPoints) / kScanPoints);
            return sum;
        };
        double mean = 0;
        for (const float p : power)
            mean += p / power.size();
        for (int k = 0; k < kScanPoints / 2; k += 37) {
            const double want =
                4 * (std::norm(dft(k)) + (k == 0 ? std::norm(dft(kScanPoints / 2)) : 0));
            QVERIFY2(std::abs(power[std::size_t(k)] - want) <= 1e-4 * std::max(want, mean),
                     qPrintable(QString::number(k)));
        }
    }

    void excerptStart() {
        QCOMPARE(scanStartText(600), QStringLiteral("285.0"));
        QCOMPARE(scanStartText(20), QStringLiteral("0.0"));
    }

    void judge_data() { test::addRows(judgeCases()); }
    void judge() {
        const JudgeCase& c = test::currentCase(judgeCases());
        const ScanResult r = scanJudge(c.facts, c.m);
        QCOMPARE(
            (QStringList{r.verdict, r.expected, r.detected, r.bitdepth, r.bandwidth, r.channels}),
            (QStringList{c.verdict, c.expected, c.detected, c.bitdepth, c.bandwidth, c.channels}));
        QCOMPARE(r.good, c.good);
    }

    void measures_data() { test::addRows(measureCases()); }
    void measures() {
        const MeasureCase& c = test::currentCase(measureCases());
        const ScanMeasures m = scanMeasures(c.rate, c.spectrum);
        QCOMPARE(m.cutoff, c.cutoff);
        QVERIFY2(std::abs(m.enob - c.enob) < 0.01, qPrintable(QString::number(m.enob)));
    }

    void sonic_data() { test::addRows(sonicCases()); }
    void sonic() {
        const SonicCase& c = test::currentCase(sonicCases());
        const std::optional<Sonic> s = measureSonic(c.samples);
        QCOMPARE(s.has_value(), c.some);
        if (!s)
            return;
        QVERIFY(s->ok);
        QCOMPARE(s->bpm, c.bpm);
        QVERIFY2(std::abs(s->db - c.db) < 1e-6, qPrintable(QString::number(s->db)));
        QVERIFY2(std::abs(s->dyn - c.dyn) < 1e-6, qPrintable(QString::number(s->dyn)));
        QVERIFY2(std::abs(s->zcr - c.zcr) < 1e-9, qPrintable(QString::number(s->zcr)));
    }

    void tempoAndYear() {
        QCOMPARE(tempoForLag(22), 2583.984375 / 22);
        QVERIFY(std::abs(tempoForLag(43) - 120.1853) < 1e-4);
        QVERIFY(std::abs(tempoForLag(16) - 80.7495) < 1e-4);
        QCOMPARE(yearFromTags("2003-05-01\n"), 2003);
        QCOMPARE(yearFromTags("1899\n"), 0);
        QCOMPARE(yearFromTags("x\xff"
                              "91987\n"),
                 1987); // bad bytes and digits before the year
    }
};

QL_TEST_MAIN(ScanUnitsTest)
#include "ScanUnitsTest.moc"
