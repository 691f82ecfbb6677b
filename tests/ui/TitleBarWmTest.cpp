// Guards against: a top bar whose double-click or drag never reaches the window manager.
// The launched window on Xvfb under a real window manager (openbox, started
// and ended here), driven by real X pointer events (xdotool, through the
// XTest extension): a double-click on the top bar's free room maximises and
// restores, a drag from there moves the window, and a second start after
// maximise + minimise brings the window back maximised.
#include "app/App.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleHints>

using namespace ql;

namespace {

// A busy machine may take long to map, maximise or move a window; none of
// the checks below waits on a clock otherwise (the X server stamps the
// clicks, so a late test does not split a double-click).
constexpr int kWait = 20000;

struct Case {
    const char* name;
    Qt::WindowState before; // the window's state before the action
    const char* action;     // "double-click", "drag" or "start"
    Qt::WindowState after;
};
const std::vector<Case> kCases = {
    {"a double-click on the top bar maximises", Qt::WindowNoState, "double-click",
     Qt::WindowMaximized},
    {"another double-click restores", Qt::WindowMaximized, "double-click", Qt::WindowNoState},
    {"a drag from the top bar moves the window", Qt::WindowNoState, "drag", Qt::WindowNoState},
    {"a start after maximise + minimise leaves it maximised", Qt::WindowMaximized, "start",
     Qt::WindowMaximized},
};

// Runs xdotool with `arguments`; false (with the reason logged) when the tool
// itself failed, which is no fault of the program. `took`: how long it ran.
bool xdotool(const QStringList& arguments, qint64* took = nullptr) {
    QProcess tool;
    QElapsedTimer clock;
    clock.start();
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(kWait) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        qWarning("xdotool %s failed: %s", qPrintable(arguments.join(' ')),
                 tool.readAllStandardError().constData());
        return false;
    }
    if (took)
        *took = clock.elapsed();
    return true;
}

QStringList at(QPoint p) {
    return {"mousemove", "--sync", QString::number(p.x()), QString::number(p.y())};
}

// Whether a window manager has taken the root window (EWMH's check window).
bool managerRunning() {
    QProcess prop;
    prop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
    return prop.waitForFinished(kWait) && prop.readAllStandardOutput().contains("window id #");
}

} // namespace

class TitleBarWmTest : public QObject {
    Q_OBJECT
    QProcess m_manager;
    std::unique_ptr<test::LaunchedApp> m_app;

    QMainWindow& window() const { return *m_app->app->window; }
    // The top bar's free room between the view tabs and the gear, on screen.
    QPoint freeRoom() const {
        auto* bar = window().findChild<QWidget*>("topBar");
        return bar->mapToGlobal(QPoint(bar->width() - 120, bar->height() / 2));
    }
    bool settledIn(Qt::WindowState state) const {
        QMainWindow& w = window();
        const QRect screen = w.screen()->availableGeometry();
        const bool filling = w.frameGeometry().size() == screen.size();
        return w.isVisible() && !w.isMinimized() &&
               (w.windowState() & ~Qt::WindowActive) == Qt::WindowStates(state) &&
               filling == (state == Qt::WindowMaximized);
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"openbox", "xdotool", "xprop"})
            QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                     qPrintable(QString("%1 is missing: scripts/deps installs it").arg(tool)));
        QVERIFY2(QGuiApplication::platformName() == "xcb", "runs on an X server (xvfb-run)");
        QVERIFY2(!managerRunning(), "another window manager already runs on this display");
        m_manager.start(QStringLiteral("openbox"), {"--sm-disable"});
        QVERIFY(m_manager.waitForStarted(kWait));
        QTRY_VERIFY_WITH_TIMEOUT(managerRunning(), kWait);
        test::clearSettings();
        m_app = std::make_unique<test::LaunchedApp>("en");
        QVERIFY(window().windowFlags() & Qt::FramelessWindowHint);
        QTRY_VERIFY_WITH_TIMEOUT(settledIn(Qt::WindowNoState), kWait);
    }
    void cleanupTestCase() {
        m_app.reset();
        m_manager.terminate();
        if (!m_manager.waitForFinished(kWait))
            m_manager.kill();
    }

    void topBar_data() { test::addRows(kCases); }
    void topBar() {
        const Case& c = test::currentCase(kCases);
        QMainWindow& w = window();
        if (c.before == Qt::WindowMaximized)
            w.showMaximized();
        else
            w.showNormal();
        QTRY_VERIFY_WITH_TIMEOUT(settledIn(c.before), kWait);
        // The window manager has placed the window: the bar is where Qt says.
        w.activateWindow();
        QTRY_VERIFY_WITH_TIMEOUT(w.isActiveWindow(), kWait);
        const QPoint from = freeRoom();
        const QPoint placed = w.pos();
        const QString action(c.action);
        if (action == "double-click") {
            // As a hand clicks: each button held a moment, the second press
            // 80 ms after the first release. A run of the tool that took
            // longer than the double-click interval (a stalled tool on a busy
            // machine) made no double-click and is tried again.
            const qint64 interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
            const QStringList twice{"mousedown", "1",     "sleep",   "0.06",      "mouseup",
                                    "1",         "sleep", "0.08",    "mousedown", "1",
                                    "sleep",     "0.06",  "mouseup", "1"};
            qint64 took = interval;
            for (int attempt = 0; attempt < 5 && took >= interval; ++attempt) {
                QTest::qWait(attempt ? int(interval) : 0); // no click left to pair with
                QVERIFY(xdotool(at(from) + twice, &took));
            }
            QVERIFY2(took < interval, "the tool never clicked twice within the interval");
        } else if (action == "drag") {
            QVERIFY(xdotool(at(from) << "mousedown"
                                     << "1"));
            // Past the drag distance first, then on; each step waits for the
            // pointer to get there.
            for (const QPoint step : {QPoint(12, 8), QPoint(40, 30), QPoint(80, 60)}) {
                QTest::qWait(100);
                QVERIFY(xdotool(at(from + step)));
            }
            QTest::qWait(100);
            QVERIFY(xdotool({"mouseup", "1"}));
        } else {
            w.showMinimized();
            QTRY_VERIFY_WITH_TIMEOUT(w.isMinimized(), kWait);
            m_app->app->applicationShouldHandleReopen();
        }
        QTRY_VERIFY_WITH_TIMEOUT(settledIn(c.after), kWait);
        if (action == "drag") {
            // The window follows the pointer from where the manager took it
            // over (past the drag distance) to where it was let go.
            QTRY_VERIFY_WITH_TIMEOUT(
                w.pos().x() - placed.x() >= 40 && w.pos().y() - placed.y() >= 30, kWait);
            QVERIFY(w.pos().x() - placed.x() <= 80 && w.pos().y() - placed.y() <= 60);
            QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        }
    }
};

QL_TEST_MAIN(TitleBarWmTest)
#include "TitleBarWmTest.moc"
