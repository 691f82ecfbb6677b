// Guards against: wrong peaks, a cache that grows or keeps failures, a seek
// bar that jumps under the user's pointer, and meter segments lit wrongly.
// The waveform's reduction and ffmpeg run, the seek view offscreen (its
// pointer handling and a grab of its bars) and the level meter.
#include "analysis/ComputeWaveform.h"
#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"
#include "ui/Theme.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QMouseEvent>

#include <sndfile.h>

#include <cmath>
#include <functional>

using namespace ql;
using test::addRows;
using test::currentCase;

namespace {

QByteArray s16(const std::vector<qint16>& samples) {
    QByteArray out;
    for (qint16 s : samples)
        out.append(char(s & 0xff)).append(char((s >> 8) & 0xff));
    return out;
}

std::vector<qint16> upTo(int n, std::function<qint16(int)> value) {
    std::vector<qint16> v(std::size_t(n), 0);
    for (int i = 0; i < n; ++i)
        v[std::size_t(i)] = value(i);
    return v;
}

struct PeaksCase {
    const char* name;
    std::vector<qint16> samples;
    std::function<float(int)> want; // none: empty peaks
};

// clang-format off
const std::vector<PeaksCase> peaksCases{
    {"900 samples: no waveform", upTo(900, [](int) { return 1000; }), {}},
    {"901 samples: one per bucket, the last left out",
     upTo(901, [](int i) { return i == 900 ? 32767 : 30 * i; }),
     [](int b) { return std::sqrt(float(b) / 899); }},
    {"silence: 900 zeros", upTo(1800, [](int) { return 0; }), [](int) { return 0.0f; }},
    {"-32768 is full scale, no overflow",
     upTo(1800, [](int i) { return i == 7 ? -32768 : 16384; }),
     [](int b) { return b == 3 ? 1.0f : std::sqrt(0.5f); }},
    {"a quiet file keeps its level relative to 0.05",
     upTo(1800, [](int) { return 1024; }),
     [](int) { return std::sqrt(1024 / 32768.0f / 0.05f); }},
};
// clang-format on

struct WaveRig {
    WaveformView view;
    QList<double> seeks;
    WaveRig() {
        view.resize(600, 30);
        view.onSeek = [this](double f) { seeks << f; };
    }
    void mouse(QEvent::Type type, double x) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(x, 15), view.mapToGlobal(QPointF(x, 15)), Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &e);
    }
};

struct ViewCase {
    const char* name;
    std::function<void(WaveRig&)> act;
    double progress;
    QList<double> seeks;
};

using E = QEvent;
// clang-format off
const std::vector<ViewCase> viewCases{
    {"1.5 is kept as 1", [](WaveRig& r) { r.view.setProgress(1.5); }, 1.0, {}},
    {"-3 is kept as 0", [](WaveRig& r) { r.view.setProgress(0.5); r.view.setProgress(-3); }, 0, {}},
    {"a move of 0.0004 changes nothing",
     [](WaveRig& r) { r.view.setProgress(0.5); r.view.setProgress(0.5004); }, 0.5, {}},
    {"playback is ignored during a drag", [](WaveRig& r) {
         r.mouse(E::MouseButtonPress, 150); r.view.setProgress(0.9); }, 0.25, {}},
    {"released left of the view: 0", [](WaveRig& r) {
         r.mouse(E::MouseButtonPress, 300); r.mouse(E::MouseMove, 100);
         r.mouse(E::MouseButtonRelease, -40); }, 0, {0.0}},
    {"released right of the view: 1", [](WaveRig& r) {
         r.mouse(E::MouseButtonPress, 300); r.mouse(E::MouseButtonRelease, 900); }, 1, {1.0}},
    {"a click: one seek to its place", [](WaveRig& r) {
         r.mouse(E::MouseButtonPress, 150); r.mouse(E::MouseButtonRelease, 150); }, 0.25, {0.25}},
    {"after the release playback moves it again", [](WaveRig& r) {
         r.mouse(E::MouseButtonPress, 150); r.mouse(E::MouseButtonRelease, 150);
         r.view.setProgress(0.6); }, 0.6, {0.25}},
};
// clang-format on

struct GrabCase {
    const char* name;
    QSize size;
    WavePeaks peaks;
    QList<QPoint> played, unplayed, clear;
};

WavePeaks ramp() {
    WavePeaks p(900);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = 0.5f + float(i) / 1800;
    return p;
}

// clang-format off
const std::vector<GrabCase> grabCases{
    {"ramp at 0.5: bar 0 played, the bar at 450 not", {600, 30}, ramp(),
     {{0, 15}, {1, 15}, {297, 15}}, {{450, 15}, {304, 15}}, {{2, 15}, {452, 15}, {450, 3}}},
    {"no peaks: one 2-px line", {600, 30}, {}, {}, {{1, 14}, {598, 15}, {300, 14}}, {{300, 13}, {300, 16}}},
    {"2 px wide: one bar", {2, 30}, ramp(), {{0, 15}, {1, 15}}, {}, {{0, 3}}},
};
// clang-format on

} // namespace

class WaveformTest : public QObject {
    Q_OBJECT
private slots:
    void peaksOfTheStream_data() { addRows(peaksCases); }
    void peaksOfTheStream() {
        const PeaksCase& c = currentCase(peaksCases);
        const WavePeaks got = waveformPeaks(s16(c.samples));
        QCOMPARE(got.size(), c.want ? std::size_t(900) : std::size_t(0));
        for (int b = 0; b < int(got.size()); ++b)
            QVERIFY2(std::abs(got[std::size_t(b)] - c.want(b)) < 1e-6f,
                     qPrintable(QString::number(b)));
    }

    void theCacheStaysSmall_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<int>("after");
        QTest::newRow("41 entries and one more: only it") << 41 << false << 1;
        QTest::newRow("40 entries and one more: 41") << 40 << false << 41;
        QTest::newRow("an empty result is not kept") << 3 << true << 3;
    }
    void theCacheStaysSmall() {
        QFETCH(int, before);
        QFETCH(bool, empty);
        QFETCH(int, after);
        QHash<QString, WavePeaks> cache;
        for (int i = 0; i < before; ++i)
            cache.insert(QString::number(i), WavePeaks(900, 0.5f));
        storeWaveform(cache, "new", empty ? WavePeaks{} : WavePeaks(900, 1.0f));
        QCOMPARE(cache.size(), after);
        QCOMPARE(cache.contains("new"), !empty);
    }

    // A generated 10 s full-scale sine through the real ffmpeg; a missing
    // ffmpeg and a file without audio give nothing.
    void peaksOfAFile_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("count");
        QTest::newRow("10 s sine: 900 values near 1") << "sine.wav"
                                                      << "" << 900;
        QTest::newRow("no ffmpeg") << "sine.wav"
                                   << "/nonexistent/ffmpeg" << 0;
        QTest::newRow("not audio") << "text.wav"
                                   << "" << 0;
    }
    void peaksOfAFile() {
        QFETCH(QString, file);
        QFETCH(QString, program);
        QFETCH(int, count);
        test::AudioShape sine{
            SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 441000, test::Signal::Sine, 440, 1.0};
        QVERIFY(test::writeAudio(test::tempFile("sine.wav"), sine));
        QVERIFY(test::writeFile(test::tempFile("text.wav"), "no audio here"));
        const WavePeaks got = computeWaveform(test::tempFile(file), {program, 10, {}});
        QCOMPARE(int(got.size()), count);
        for (float v : got)
            QVERIFY2(std::abs(v - 1.0f) < 0.01f, qPrintable(QString::number(v)));
    }

    void pointerAndProgress_data() { addRows(viewCases); }
    void pointerAndProgress() {
        const ViewCase& c = currentCase(viewCases);
        WaveRig r;
        c.act(r);
        QCOMPARE(r.view.progress(), c.progress);
        QCOMPARE(r.seeks, c.seeks);
    }

    void bars_data() { addRows(grabCases); }
    void bars() {
        const GrabCase& c = currentCase(grabCases);
        WaveformView view;
        view.resize(c.size);
        view.setPeaks(c.peaks);
        view.setProgress(0.5);
        const QImage img = view.grab().toImage();
        const auto check = [&](const QList<QPoint>& at, QRgb want) {
            for (const QPoint& p : at)
                QVERIFY2(img.pixel(p) == want, qPrintable(QString("(%1, %2) is %3")
                                                              .arg(p.x())
                                                              .arg(p.y())
                                                              .arg(QColor(img.pixel(p)).name())));
        };
        check(c.played, QColor(0x72, 0x78, 0xef).rgb());
        check(c.unplayed, QColor(0x3d, 0x3d, 0x3d).rgb());
        for (const QPoint& p : c.clear) // nothing drawn there
            QVERIFY(img.pixel(p) != QColor(0x72, 0x78, 0xef).rgb() &&
                    img.pixel(p) != QColor(0x3d, 0x3d, 0x3d).rgb());
    }

    // The meter fed by levels in dB: which segments light, in which colour.
    // The level lights what lies strictly below it, the peak its own segment.
    void meterSegments_data() {
        QTest::addColumn<QList<float>>("feed"); // one call each, both channels
        QTest::addColumn<QList<int>>("lit");
        QTest::addColumn<bool>("peakAbove0");
        QList<float> pause{0};
        for (int i = 0; i < 84; ++i)
            pause << -60;
        const QList<int> upTo11{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        QTest::newRow("at rest: segment 0") << QList<float>{} << QList<int>{0} << false;
        QTest::newRow("just below 12/21: 0-11")
            << QList<float>{0.5714f * 60 - 60} << upTo11 << true;
        QTest::newRow("just above 12/21: 0-12")
            << QList<float>{0.5715f * 60 - 60} << upTo11 + QList<int>{12} << true;
        QTest::newRow("3 calls after full scale: 0-11 and the peak's 20")
            << pause.mid(0, 4) << upTo11 + QList<int>{20} << true;
        QTest::newRow("83 calls: the peak still above 0")
            << pause.mid(0, 84) << QList<int>{0} << true;
        QTest::newRow("84 calls: at rest") << pause << QList<int>{0} << false;
    }
    void meterSegments() {
        QFETCH(QList<float>, feed);
        QFETCH(QList<int>, lit);
        QFETCH(bool, peakAbove0);
        LevelMeter meter;
        meter.resize(meter.sizeHint());
        for (int i = 0; i < feed.size(); ++i) {
            meter.set({feed[i], feed[i]});
            if (i == 20) // a second of silence after full scale
                QVERIFY(meter.levels()[0] < 0.02 && meter.levels()[1] < 0.02);
        }
        QCOMPARE(meter.peaks()[0] > 0, peakAbove0);
        const QImage img = meter.grab().toImage();
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < LevelMeter::kSegments; ++i) {
                const bool on = lit.contains(i);
                QCOMPARE(meter.lit(c, i), on);
                const QColor want = on ? LevelMeter::segmentColor(i) : Theme::meterUnlit();
                QCOMPARE(QColor(img.pixel(6 * i + 2, 5 + 11 * c)), want);
            }
    }
};

QL_TEST_MAIN(WaveformTest)
#include "WaveformTest.moc"
