// Guards against: a time stretch that changes length or pitch wrongly.
// The time-stretch stage on its own: how long its output is, whether a tone
// keeps its pitch and its place in time, and what a broken sample does.
#include "platform/audio/TimeStretch.h"

#include "TestHome.h"

#include <cmath>
#include <vector>

using namespace ql::platform;

namespace {

constexpr double kRate = 44100;

std::vector<double> tone(std::size_t frames, int channels, double freq, double amp = 0.5) {
    std::vector<double> v(frames * std::size_t(channels));
    for (std::size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            v[f * std::size_t(channels) + std::size_t(c)] =
                amp * std::sin(2 * M_PI * freq * double(f) / kRate);
    return v;
}

// Runs `in` through a stretcher in pieces of `piece` frames, then drains it.
std::vector<double> stretch(const std::vector<double>& in, int channels, double speed,
                            std::size_t piece) {
    TimeStretch ts(kRate, channels, speed, piece);
    const auto ch = std::size_t(channels);
    std::vector<double> out, buf(ts.maxOutput(piece) * ch);
    const std::size_t frames = in.size() / ch;
    for (std::size_t at = 0; at < frames;) {
        const std::size_t n = std::min(piece, frames - at);
        const auto step = ts.process(in.data() + at * ch, n, buf.data(), ts.maxOutput(n));
        out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(step.produced * ch));
        at += step.consumed;
    }
    for (int guard = 0; guard < 100000; ++guard) {
        const auto step = ts.process(nullptr, 0, buf.data(), ts.maxOutput(piece));
        if (step.produced == 0)
            break;
        out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(step.produced * ch));
    }
    return out;
}

} // namespace

class TimeStretchTest : public QObject {
    Q_OBJECT
private slots:
    // The whole output is round(input / speed) frames, however the input
    // was cut into pieces: a voice's end can be known to the frame.
    void lengthIsInputOverSpeed_data() {
        QTest::addColumn<double>("speed");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("piece");
        QTest::newRow("half speed, stereo") << 0.5 << 2 << 88200 << 4096;
        QTest::newRow("1.5, mono, small pieces, odd length") << 1.5 << 1 << 70001 << 300;
        QTest::newRow("0.75, shorter than the start delay") << 0.75 << 2 << 500 << 4096;
    }
    void lengthIsInputOverSpeed() {
        QFETCH(double, speed);
        QFETCH(int, channels);
        QFETCH(int, frames);
        QFETCH(int, piece);
        const auto out =
            stretch(tone(std::size_t(frames), channels, 440), channels, speed, std::size_t(piece));
        QCOMPARE(std::int64_t(out.size() / std::size_t(channels)),
                 std::int64_t(std::llround(frames / speed)));
    }

    // The start delay is taken out: a tone that begins half a second in is
    // heard half a second / speed into the output, not later. (Its pitch is
    // checked on the player's recording.)
    void toneKeepsItsPlace_data() {
        QTest::addColumn<double>("speed");
        QTest::newRow("0.5") << 0.5;
        QTest::newRow("1.25") << 1.25;
        QTest::newRow("2.0") << 2.0;
    }
    void toneKeepsItsPlace() {
        QFETCH(double, speed);
        const std::size_t frames = std::size_t(kRate) * 2, lead = std::size_t(kRate) / 2;
        auto in = tone(frames, 2, 1000);
        std::fill(in.begin(), in.begin() + std::ptrdiff_t(2 * lead), 0.0);
        const auto out = stretch(in, 2, speed, 4096);
        std::size_t onset = 0;
        while (onset < out.size() / 2 && std::abs(out[2 * onset]) < 0.25)
            ++onset;
        const double want = double(lead) / speed;
        QVERIFY2(std::abs(double(onset) - want) < kRate / 100, // 10 ms
                 qPrintable(QString("onset at frame %1, wanted %2").arg(onset).arg(want)));
    }

    // A steady tone stays one clean tone at every speed: after the first
    // 100 ms no 10 ms block holds anything but the tone above -40 dBFS (a
    // click, a smear), its level holds within 0.5 dB and its pitch within 1 Hz.
    void steadyToneStaysClean_data() {
        QTest::addColumn<double>("speed");
        QTest::newRow("1.25") << 1.25;
        QTest::newRow("0.75") << 0.75;
        QTest::newRow("1.5") << 1.5;
    }
    void steadyToneStaysClean() {
        QFETCH(double, speed);
        const double amp = std::pow(10.0, -6.0 / 20);
        const auto out = stretch(tone(std::size_t(kRate) * 4, 2, 1000, amp), 2, speed, 4096);
        const std::size_t frames = out.size() / 2, block = std::size_t(kRate) / 100;
        const std::size_t from = block * 10, to = frames - block * 10; // the drained end aside
        // The pitch: crossings of the steady part, to a fraction of a frame.
        double first = -1, last = -1;
        int crossings = 0;
        for (std::size_t f = from + 1; f < to; ++f)
            if ((out[2 * f] >= 0) != (out[2 * (f - 1)] >= 0)) {
                const double at =
                    double(f - 1) + out[2 * (f - 1)] / (out[2 * (f - 1)] - out[2 * f]);
                first = first < 0 ? at : first;
                last = at;
                ++crossings;
            }
        const double hz = (crossings - 1) / 2.0 / ((last - first) / kRate);
        QVERIFY2(std::abs(hz - 1000) <= 1, qPrintable(QString("%1 Hz").arg(hz)));
        // Each block against the tone fitted to it: level and residual.
        double worstResidual = -200, lowDb = 100, highDb = -100;
        for (std::size_t at = from; at + block <= to; at += block) {
            double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
            for (std::size_t f = at; f < at + block; ++f) {
                const double w = 2 * M_PI * hz * double(f) / kRate;
                const double sn = std::sin(w), cs = std::cos(w), x = out[2 * f];
                ss += sn * sn, sc += sn * cs, cc += cs * cs, xs += x * sn, xc += x * cs;
            }
            const double det = ss * cc - sc * sc;
            const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
            double peak = 0;
            for (std::size_t f = at; f < at + block; ++f) {
                const double w = 2 * M_PI * hz * double(f) / kRate;
                peak = std::max(peak, std::abs(out[2 * f] - a * std::sin(w) - b * std::cos(w)));
            }
            const double level = 20 * std::log10(std::hypot(a, b) / amp);
            lowDb = std::min(lowDb, level);
            highDb = std::max(highDb, level);
            worstResidual = std::max(worstResidual, 20 * std::log10(std::max(peak, 1e-12)));
        }
        QVERIFY2(worstResidual <= -40, qPrintable(QString("residual %1 dBFS").arg(worstResidual)));
        QVERIFY2(lowDb >= -0.5 && highDb <= 0.5,
                 qPrintable(QString("level %1 to %2 dB").arg(lowDb).arg(highDb)));
    }

    // One NaN or infinity in the input does not turn the rest of the
    // stream into noise or NaN.
    void brokenSampleDoesNotSpoilTheStream_data() {
        QTest::addColumn<double>("bad");
        QTest::newRow("NaN") << double(NAN);
        QTest::newRow("infinity") << double(INFINITY);
    }
    void brokenSampleDoesNotSpoilTheStream() {
        QFETCH(double, bad);
        auto in = tone(std::size_t(kRate) * 2, 2, 440);
        in[2 * 30000] = bad;
        const auto out = stretch(in, 2, 1.25, 4096);
        double peak = 0;
        for (double x : out) {
            QVERIFY(std::isfinite(x));
            peak = std::max(peak, std::abs(x));
        }
        QVERIFY2(peak < 1.0, qPrintable(QString::number(peak)));
    }
};

QL_TEST_MAIN_CORE(TimeStretchTest)
#include "TimeStretchTest.moc"
