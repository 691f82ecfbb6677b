// Guards against: a plug-in's own interface that does not show, loses what it set, or leaks.
// Slot editors on a real X server (Xvfb): x42's peak limiter shows its own
// X11 interface inside the editor window, a control it moves is stored in the
// slot and changes the offline render, plug-ins without a usable interface
// get the generic editor, and opening and closing leaves nothing behind.
#include "effects/FXPanel.h"
#include "effects/FXRender.h"
#include "effects/PluginEditorWindow.h"
#include "platform/ChildProcess.h"
#include "platform/PluginHost.h"
#include "platform/audio/AudioFile.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <tuple>

using namespace ql;

namespace {

const QString kLimiter = QStringLiteral("x42-dpl - Digital Peak Limiter Stereo");
const QString kAmp = QStringLiteral("Simple amplifier");
const QString kSumDiff = QStringLiteral("Sum and difference");

struct Panel {
    QTemporaryDir dir;
    JSONStore store{dir.path()};
    FXPanel panel{store};
    Panel() { panel.setHost(platform::makePluginHost()); }
    // Puts the plug-in whose title ends with `title` in slot 0.
    bool choose(const QString& title) {
        for (std::size_t k = 0; k < panel.installed.size(); ++k)
            if (panel.installed[k].title.endsWith(title)) {
                panel.pluginChosen(0, int(k) + 1);
                return true;
            }
        return false;
    }
    PluginEditorWindow* open() {
        panel.openPlugin(0);
        PluginEditorWindow* window = panel.editorWindow(0);
        if (window && !QTest::qWaitForWindowExposed(window))
            return nullptr;
        return window;
    }
    void close() {
        panel.editorWindow(0)->close();
        // The closed window goes once its close has returned.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

int controlIndex(platform::PluginEditor& editor, const QString& symbol) {
    for (const platform::PluginControl& c : editor.controls())
        if (c.symbol == symbol)
            return c.index;
    return -1;
}

QImage look(PluginEditorWindow* window) {
    QWidget* holder = window->viewHolder();
    return holder->screen()->grabWindow(holder->winId()).toImage();
}

// Whether the interface has drawn: more than one colour in its window.
bool drawn(PluginEditorWindow* window) {
    const QImage shot = look(window);
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4)
            if (shot.pixel(x, y) != shot.pixel(0, 0))
                return true;
    return false;
}

// What the interface shows once it has stopped redrawing; null if it never
// stops.
QImage settledLook(PluginEditorWindow* window) {
    QImage last = look(window);
    for (int i = 0; i < 100; ++i) {
        QTest::qWait(250);
        QImage now = look(window);
        if (now == last)
            return now;
        last = now;
    }
    return {};
}

// The loudest sample of a 1 kHz stereo sine at amplitude 0.1 through slot 0.
double renderedPeak(const PluginSlot& slot) {
    const QString in = test::tempFile(QStringLiteral("ui-sine.wav"));
    std::vector<double> sine;
    for (int f = 0; f < 22050; ++f)
        sine.insert(sine.end(), 2, 0.1 * std::sin(2 * M_PI * 1000 * f / 44100.0));
    if (!test::writeFloatWav(in, 44100, 2, sine))
        return -1;
    const QString out = test::tempFile(QStringLiteral("ui-rendered.caf"));
    QFile::remove(out);
    const PluginRun run{QStringLiteral(QL_LV2_RENDER), std::make_shared<platform::ChildRegistry>(),
                        60'000, 30'000};
    if (renderAU(in, out, {slot}, run))
        return -1;
    const platform::AudioFile::Opened f = platform::AudioFile::open(out);
    if (!f.file)
        return -1;
    std::vector<double> data(std::size_t(f.file->frames() * f.file->channels()));
    if (f.file->read(data.data(), f.file->frames()) != f.file->frames())
        return -1;
    double peak = 0;
    for (double v : data)
        peak = std::max(peak, std::abs(v));
    return peak;
}

// What could be left behind: windows, widgets, timers, plug-in instances,
// their interfaces and open files (an interface's own X connection).
std::tuple<int, int, int, int, int, int> counts() {
    int timers = 0;
    for (QWidget* w : QApplication::allWidgets())
        timers += int(w->findChildren<QTimer*>(Qt::FindDirectChildrenOnly).size());
    return {int(QApplication::topLevelWidgets().size()),
            int(QApplication::allWidgets().size()),
            timers,
            platform::livePluginInstances(),
            platform::livePluginViews(),
            int(QDir(QStringLiteral("/proc/self/fd")).count())};
}

// clang-format off
struct EditorCase { const char* name; QString title; bool own; };
const std::vector<EditorCase> kEditorCases{
    {"its own interface inside the editor window", kLimiter, true},
    {"no interface: the generic editor", kAmp, false},
    {"an interface that fails to load: the generic editor", kSumDiff, false},
};
// clang-format on

} // namespace

class PluginUiTest : public QObject {
    Q_OBJECT
private slots:
    // The test bundle (a failing interface), x42's limiter (an X11 one drawn
    // with OpenGL) and swh's amplifier (none).
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(QFile::exists("/usr/lib/lv2/dpl.lv2/manifest.ttl"),
                 "x42-plugins is missing: run scripts/deps");
        const QString dir = test::tempFile(QStringLiteral("plugin-ui-lv2"));
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        QFile::link(QStringLiteral(QL_TEST_LV2_DIR "/quavelark-test.lv2"), dir + "/test.lv2");
        for (const char* bundle : {"units.lv2", "dpl.lv2", "amp-swh.lv2"})
            QFile::link(QStringLiteral("/usr/lib/lv2/") + bundle, dir + "/" + bundle);
        qputenv("LV2_PATH", dir.toUtf8());
    }
    void cleanup() { test::removeFxFiles(); }

    void editors_data() { test::addRows(kEditorCases); }
    void editors() {
        const EditorCase& c = test::currentCase(kEditorCases);
        Panel p;
        QVERIFY(p.choose(c.title));
        PluginEditorWindow* window = p.open();
        QVERIFY(window);
        QCOMPARE(window->view() != nullptr, c.own);
        QCOMPARE(window->findChildren<QSlider*>().isEmpty(), c.own);
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!qobject_cast<QMessageBox*>(w) || !w->isVisible(), "an error dialog");
        if (!c.own)
            return;
        // The interface asked for its size and drew itself there.
        QVERIFY(window->view()->size().isValid());
        QTRY_COMPARE_WITH_TIMEOUT(window->viewHolder()->size(), window->view()->size(), 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(drawn(window), 10'000);
        // A picture for people, where they ask for one.
        if (const QString shot = qEnvironmentVariable("QL_TEST_SHOT"); !shot.isEmpty())
            window->screen()->grabWindow(window->winId()).save(shot);
        p.close();
    }

    // A control the interface moves reaches the editing instance and comes
    // back to the interface (its knob turns), is stored in the slot on close,
    // shows again on the next open and changes what playback renders.
    void portRoundTrip() {
        Panel p;
        QVERIFY(p.choose(kLimiter));
        const double before = renderedPeak(p.panel.state.plugins[0]);
        QVERIFY2(before > 0.09, qPrintable(QString::number(before)));
        PluginEditorWindow* window = p.open();
        QVERIFY(window && window->view());
        QTRY_VERIFY_WITH_TIMEOUT(drawn(window), 10'000);
        const QImage defaults = settledLook(window);
        const int gain = controlIndex(window->editor(), QStringLiteral("gain"));
        QVERIFY(gain >= 0);
        window->view()->writeControl(std::uint32_t(gain), 20);
        window->view()->writeControl(std::uint32_t(gain), NAN); // ignored
        QCOMPARE(window->editor().value(gain), 20.0f);
        const QImage moved = settledLook(window);
        QVERIFY(!moved.isNull() && moved != defaults);
        p.close();
        const PluginSlot stored = p.panel.state.plugins[0];
        QVERIFY(stored.state);
        window = p.open();
        QVERIFY(window && window->view());
        QCOMPARE(window->editor().value(gain), 20.0f);
        QTRY_VERIFY_WITH_TIMEOUT(drawn(window), 10'000);
        const QImage reopened = settledLook(window);
        QVERIFY(!reopened.isNull() && reopened != defaults);
        p.close();
        const double after = renderedPeak(stored);
        QVERIFY2(after > 3 * before, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    }

    // The program quitting with an interface open: the panel goes with the
    // window still shown and its interface still working.
    void openAtQuit() {
        {
            Panel p;
            QVERIFY(p.choose(kLimiter));
            PluginEditorWindow* window = p.open();
            QVERIFY(window && window->view());
            QTRY_VERIFY_WITH_TIMEOUT(drawn(window), 10'000);
            QTest::qWait(PluginEditorWindow::kIdleMs * 3);
        }
        QCoreApplication::processEvents();
        QCOMPARE(platform::livePluginInstances() + platform::livePluginViews(), 0);
    }

    void fiftyOpensLeaveNothing() {
        Panel p;
        QVERIFY(p.choose(kLimiter));
        const auto before = counts();
        for (int round = 0; round < 50; ++round) {
            PluginEditorWindow* window = p.open();
            QVERIFY(window && window->view());
            QTest::qWait(PluginEditorWindow::kIdleMs * 2); // the idle timer runs
            p.close();
        }
        QCOMPARE(counts(), before);
        QCOMPARE(platform::livePluginInstances() + platform::livePluginViews(), 0);
    }
};

QL_TEST_MAIN(PluginUiTest)
#include "PluginUiTest.moc"
