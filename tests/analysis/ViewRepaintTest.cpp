// Guards against: the level meter and the waveform redrawing what did not change (20 calls a
// second while anything plays, each filling every curve again), and a stale segment or bar left
// on screen by a repaint of a part. Offscreen windows; what is on screen is read back from the
// window's own surface, not drawn afresh.
#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"

#include "CaseRows.h"

#include <QApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>

#include <functional>

using namespace ql;
using namespace ql::test;

namespace {

// Records the region of every paint a widget gets. Every act ends with a
// one-pixel marker repaint: once the marker has been painted, every repaint
// asked for before it has been too, however late the machine runs.
class PaintLog : public QObject {
public:
    explicit PaintLog(QWidget& w) : m_w(w) { w.installEventFilter(this); }
    QRegion painted;

    // Shows the widget, lets its first paints pass, and starts afresh.
    bool show() {
        m_w.show();
        if (!QTest::qWaitForWindowExposed(&m_w))
            return false;
        return settle();
    }
    // Waits for everything asked so far to be painted, then takes the
    // marker out of the record.
    bool settle() {
        m_markerSeen = false;
        m_w.update(kMarker);
        if (!QTest::qWaitFor([this] { return m_markerSeen; }, 10'000))
            return false;
        painted -= kMarker;
        return true;
    }
    void clear() { painted = {}; }
    // What the window shows now, from its surface.
    QImage onScreen() const {
        return m_w.screen()
            ->grabWindow(m_w.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == &m_w && e->type() == QEvent::Paint) {
            const QRegion r = static_cast<QPaintEvent*>(e)->region();
            painted += r;
            if (r.contains(kMarker))
                m_markerSeen = true;
        }
        return false;
    }

private:
    static constexpr QRect kMarker{0, 0, 1, 1};
    QWidget& m_w;
    bool m_markerSeen = false;
};

// The same widget drawn whole, for comparison with what partial repaints left.
QImage drawnWhole(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

using Levels = std::vector<std::array<float, 2>>;

struct MeterCase {
    const char* name;
    Levels before; // set, painted, then the record starts
    Levels act;
    // Where the repaints may fall (empty: nowhere), and a point they must cover.
    QRect allowed;
    std::optional<QPoint> covered;
};

// Segment i of the left row lies at x 6i…6i+4, y 1…9; the right row at y 12…20.
const QRect kLeftRow{0, 1, 126, 9}, kRightRow{0, 12, 126, 9};

// clang-format off
const std::vector<MeterCase> meterCases{
    {"the same level again: nothing", {{-20, -20}}, {{-20, -20}, {-20, -20}}, {}, {}},
    {"silence at rest: nothing", {}, {{-60, -60}, {-60, -60}}, {}, {}},
    {"the left channel rises: the left row only", {{-40, -40}}, {{-10, -40}}, kLeftRow, QPoint(6 * 15 + 2, 5)},
    {"the right channel rises: the right row only", {{-40, -40}}, {{-40, -10}}, kRightRow, QPoint(6 * 15 + 2, 16)},
    {"a fall: the segments that go out and the peak's", {{0, 0}}, {{-60, -60}, {-60, -60}, {-60, -60}},
     kLeftRow.united(kRightRow), QPoint(6 * 18 + 2, 5)},
};
// clang-format on

struct WaveCase {
    const char* name;
    bool peaks;
    double from, to;
    QRect allowed; // at 600 × 30: bar i at x 3i…3i+1, 200 bars
    std::optional<QPoint> covered;
};

// clang-format off
const std::vector<WaveCase> waveCases{
    {"a move inside one bar: nothing", true, 0.5, 0.5006, {}, {}},
    {"a move onto the next bar: that bar only", true, 0.5, 0.5051, QRect(303, 0, 3, 30), QPoint(303, 15)},
    {"a jump back: the bars between", true, 0.8, 0.2, QRect(123, 0, 360, 30), QPoint(300, 15)},
    {"no peaks: a move shows nothing new", false, 0.2, 0.8, {}, {}},
};
// clang-format on

} // namespace

class ViewRepaintTest : public QObject {
    Q_OBJECT
private slots:
    void meterRepaintsOnlyWhatChanged_data() { addRows(meterCases); }
    void meterRepaintsOnlyWhatChanged() {
        const MeterCase& c = currentCase(meterCases);
        LevelMeter meter;
        meter.resize(meter.sizeHint());
        PaintLog log(meter);
        for (const auto& l : c.before)
            meter.set(l);
        QVERIFY(log.show());
        log.clear();
        for (const auto& l : c.act)
            meter.set(l);
        QVERIFY(log.settle());
        QVERIFY2((log.painted - c.allowed).isEmpty(), "a repaint outside what changed");
        if (c.covered)
            QVERIFY(log.painted.contains(*c.covered));
        else
            QVERIFY(log.painted.isEmpty());
        // What the partial repaints left is what the meter drawn whole shows.
        QCOMPARE(log.onScreen(), drawnWhole(meter));
    }

    void waveformRepaintsOnlyWhatChanged_data() { addRows(waveCases); }
    void waveformRepaintsOnlyWhatChanged() {
        const WaveCase& c = currentCase(waveCases);
        WaveformView view;
        view.resize(600, 30);
        WavePeaks ramp(c.peaks ? 900 : 0);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = 0.3f + float(i) / 1500;
        view.setPeaks(ramp);
        view.setProgress(c.from);
        PaintLog log(view);
        QVERIFY(log.show());
        log.clear();
        view.setProgress(c.to);
        QVERIFY(log.settle());
        QCOMPARE(view.progress(), c.to);
        QVERIFY2((log.painted - c.allowed).isEmpty(), "a repaint outside what changed");
        if (c.covered)
            QVERIFY(log.painted.contains(*c.covered));
        else
            QVERIFY(log.painted.isEmpty());
        QCOMPARE(log.onScreen(), drawnWhole(view));
    }
};

QTEST_MAIN(ViewRepaintTest)
#include "ViewRepaintTest.moc"
