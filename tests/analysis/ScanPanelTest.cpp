// Guards against: an analysis window showing the wrong track, a stale answer, a
// failure in the colour of success, or misplaced plot labels and marker.
#include "analysis/AudioScanPanel.h"
#include "analysis/BandPlot.h"
#include "analysis/ScanColors.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QLabel>
#include <QThread>
#include <QThreadPool>

using namespace ql;

namespace {

Track track(const QString& path, const QString& artist, const QString& title) {
    return Track{0, path, title, artist, {}, 0, {}};
}

// The stand-in: "slow" answers after 400 ms, "bad" fails, the rest succeed
// with their path as the verdict. `answered` counts the answers it gave.
std::atomic<int> answered{0};
std::optional<ScanResult> standIn(const QString& path) {
    if (path == QStringLiteral("slow"))
        QThread::msleep(400);
    ++answered;
    if (path == QStringLiteral("bad"))
        return std::nullopt;
    ScanResult r;
    r.expected = path;
    r.verdict = path;
    r.curve = {0, -50, -100};
    return r;
}

// Every one of the seven rows shows `text`.
bool rowsShow(const AudioScanPanel& panel, const QString& text) {
    return std::all_of(panel.values().begin(), panel.values().end(),
                       [&](const QLabel* v) { return v->text() == text; });
}

// clang-format off
struct ChoiceCase { const char* name; std::vector<Track> list; int selected; std::size_t keep; std::optional<Track> current; QString title; };
const std::vector<ChoiceCase>& choiceCases() {
    static const std::vector<ChoiceCase> cases{
        {"an empty artist shows the title alone", {track("a", "", "노래")}, 0, 1, std::nullopt, "노래"},
        {"the selected row wins over the playing track", {track("a", "가수", "노래")}, 0, 1, track("c", "X", "Now"), "가수 – 노래"},
        {"a selection beyond the list falls back to the playing track", {track("a", "", "A"), track("b", "", "B")}, 1, 1, track("c", "X", "Now"), "X – Now"},
        {"nothing selected or playing: the message", {track("a", "", "A")}, -1, 1, std::nullopt, ""},
    };
    return cases;
}

struct LabelCase { const char* name; double rate; QStringList texts; };
const std::vector<LabelCase>& labelCases() {
    static const std::vector<LabelCase> cases{
        {"44100", 44100, {"0k", "4k", "8k", "12k", "16k", "20k"}},
        {"48000", 48000, {"0k", "4k", "8k", "12k", "16k", "20k", "24k"}},
        {"88200", 88200, {"0k", "12k", "24k", "36k"}},
        {"96000", 96000, {"0k", "12k", "24k", "36k", "48k"}},
    };
    return cases;
}

struct MarkerCase { const char* name; double cutoff, rate; std::optional<double> fraction; };
const std::vector<MarkerCase>& markerCases() {
    static const std::vector<MarkerCase> cases{
        {"19 kHz at 44.1 kHz", 19000, 44100, 19000 / 22050.0},
        {"just under 96 %", 21167, 44100, 21167 / 22050.0},
        {"96 % of Nyquist", 21168, 44100, std::nullopt},
        {"none found", 0, 44100, std::nullopt},
    };
    return cases;
}
// clang-format on

struct Launched : test::LaunchedApp {
    Launched()
        : LaunchedApp("ko", [](App& a) { test::fakes(a).analysers.analyzeScan = standIn; }) {}
    AudioScanPanel& panel() const { return *app->scanPanel; }
    void scan(const Track& t) {
        app->playback.current = t;
        app->selectTableRow(-1);
        app->views.analysisButton->click(); // the transport bar's button
    }
};

} // namespace

class ScanPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() { UserDefaults().clear(); }

    void choice_data() { test::addRows(choiceCases()); }
    void choice() {
        const ChoiceCase& c = test::currentCase(choiceCases());
        Launched l;
        l->browser.filtered = c.list;
        l->reloadTable();
        l->selectTableRow(c.selected);
        // A selection left from a longer list.
        l->browser.filtered = std::vector<Track>(c.list.begin(), c.list.begin() + c.keep);
        l->playback.current = c.current;
        l->showAudioScan();
        if (c.title.isEmpty()) {
            QCOMPARE(l->status->stringValue(),
                     QStringLiteral("분석할 곡을 선택하거나 재생하세요."));
            QCOMPARE(l.panel().generation(), quint64(0));
            QVERIFY(!l.panel().window()->isVisible());
            return;
        }
        QCOMPARE(l.panel().title()->text(), c.title);
        QVERIFY(rowsShow(l.panel(), "분석 중…"));
        QVERIFY(l.panel().window()->isVisible());
    }

    // Two quick requests: the first answer, arriving last, changes nothing.
    // A failure after a success: hyphens and the failure text in the
    // label's own colour. A visible window stays where the user put it.
    void answers() {
        answered = 0;
        Launched l;
        const QColor plain = l.panel().verdict()->palette().color(QPalette::WindowText);
        l.scan(track("slow", "", "1"));
        const QPoint moved = l.panel().window()->pos() + QPoint(37, 21);
        l.panel().window()->move(moved);
        l.scan(track("fast", "", "2"));
        QCOMPARE(l.panel().window()->pos(), moved);
        QVERIFY(rowsShow(l.panel(), "분석 중…"));
        QTRY_COMPARE_WITH_TIMEOUT(l.panel().verdict()->text(), QStringLiteral("fast"),
                                  ql::test::kOutcomeMs);
        QTRY_COMPARE_WITH_TIMEOUT(answered.load(), 2, ql::test::kOutcomeMs);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(l.panel().values()[0]->text(), QStringLiteral("fast"));
        QCOMPARE(l.panel().spectrum()->curve().size(), std::size_t(3));
        QCOMPARE(l.panel().verdict()->palette().color(QPalette::WindowText), scanColors::green());

        l.scan(track("bad", "", "3"));
        QVERIFY(l.panel().spectrum()->curve().empty());
        QTRY_VERIFY_WITH_TIMEOUT(rowsShow(l.panel(), "-"), ql::test::kOutcomeMs);
        QCOMPARE(l.panel().verdict()->text(),
                 QStringLiteral("분석하지 못했습니다(너무 짧거나 읽을 수 없는 파일)."));
        QCOMPARE(l.panel().verdict()->palette().color(QPalette::WindowText), plain);
    }

    void labels_data() { test::addRows(labelCases()); }
    void labels() {
        const LabelCase& c = test::currentCase(labelCases());
        QStringList texts;
        for (const BandPlot::AxisLabel& label : BandPlot::frequencyLabels(c.rate))
            texts << label.text;
        QCOMPARE(texts, c.texts);
    }

    void marker_data() { test::addRows(markerCases()); }
    void marker() {
        const MarkerCase& c = test::currentCase(markerCases());
        QCOMPARE(BandPlot::markerFraction(c.cutoff, c.rate), c.fraction);
    }

    // The real analysis of 40 kHz noise upsampled to 96 kHz and padded to
    // 24 bits: the rows, an orange verdict, and the dashed marker near 42 %
    // of the plot's width in what the window draws.
    void upsampledFileOnScreen() {
        const QString flac = test::tempFile("up.flac");
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "anoisesrc=c=white:a=0.3:d=10:r=40000", "-af",
                                 "aresample=96000:resampler=soxr,aformat=s16", "-c:a", "flac",
                                 "-sample_fmt", "s32", flac}));
        test::LaunchedApp l("ko");
        l->playback.current = track(flac, "", "up");
        l->showAudioScan();
        AudioScanPanel& panel = *l->scanPanel;
        QTRY_VERIFY_WITH_TIMEOUT(panel.values()[0]->text() == QStringLiteral("24/96 (FLAC)"),
                                 20000);
        QCOMPARE(panel.values()[1]->text(), QStringLiteral("16/44.1 (CD급)"));
        QCOMPARE(panel.values()[2]->text(), QStringLiteral("24bit (표기) · 실효 16비트급"));
        QCOMPARE(panel.verdict()->palette().color(QPalette::WindowText), scanColors::orange());
        const QImage shot = panel.window()->grab().toImage();
        const QRect view(panel.spectrum()->mapTo(panel.window(), QPoint(0, 0)),
                         panel.spectrum()->size());
        const QRectF plot = BandPlot::plotRect(view.size()).translated(view.topLeft());
        int markerX = -1; // the first orange pixel in 7 rows (one dash, antialiased)
        for (int i = 0; i < 7 * int(plot.width()) && markerX < 0; ++i)
            if (const QColor c =
                    shot.pixelColor(int(plot.left()) + i / 7, int(plot.center().y()) + i % 7);
                c.red() > 160 && c.green() > 70 && c.green() < 190 && c.blue() < 90)
                markerX = int(plot.left()) + i / 7;
        const double fraction = (markerX - plot.left()) / plot.width();
        QVERIFY2(std::abs(fraction - 0.42) < 0.02, qPrintable(QString::number(fraction)));
    }
};

QL_TEST_MAIN(ScanPanelTest)
#include "ScanPanelTest.moc"
