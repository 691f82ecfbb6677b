// Guards against: a window brought back from the taskbar that loses its maximised or full-screen
// state. The launched window is maximised, made full screen or left as it is, then minimised and
// brought back by each way the program has: a second start (the reopen request), "Show All", the
// search shortcut's raise and the Window menu's entry for it.
#include "app/App.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QMenu>
#include <QMenuBar>

using namespace ql;

namespace {

struct Case {
    const char* name;
    Qt::WindowState before; // the state the window was minimised from
    const char* how;        // "start", "show all", "find" or "window menu"
};
const std::vector<Case> kCases = {
    {"a start after maximise + minimise", Qt::WindowMaximized, "start"},
    {"a start after full screen + minimise", Qt::WindowFullScreen, "start"},
    {"a start after a plain minimise", Qt::WindowNoState, "start"},
    {"Show All after maximise + minimise", Qt::WindowMaximized, "show all"},
    {"Show All after full screen + minimise", Qt::WindowFullScreen, "show all"},
    {"the search shortcut after maximise + minimise", Qt::WindowMaximized, "find"},
    {"the Window menu's entry after maximise + minimise", Qt::WindowMaximized, "window menu"},
    {"the Window menu's entry after a plain minimise", Qt::WindowNoState, "window menu"},
};

QMenu* menuAt(QMainWindow& window, int index) {
    return window.menuBar()->actions().value(index)->menu();
}

void bringBackBy(App& app, const QString& how) {
    QMainWindow& window = *app.window;
    if (how == "start") {
        app.applicationShouldHandleReopen();
    } else if (how == "show all") {
        QMenu* menu = menuAt(window, 0);
        emit menu->aboutToShow();
        menu->actions()[2]->trigger(); // "Show All"
    } else if (how == "find") {
        app.focusSearch();
    } else {
        QMenu* windows = nullptr;
        for (QAction* a : window.menuBar()->actions())
            if (a->menu() && a->text() == L10n::tr("윈도우"))
                windows = a->menu();
        QVERIFY(windows);
        emit windows->aboutToShow(); // lists the open windows at its end
        windows->actions().last()->trigger();
    }
}

} // namespace

class WindowRestoreTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }

    void broughtBackAsItWas_data() { test::addRows(kCases); }
    void broughtBackAsItWas() {
        const Case& c = test::currentCase(kCases);
        test::LaunchedApp l("en");
        QMainWindow& window = *l->window;
        const QSize normal = window.size();
        if (c.before == Qt::WindowMaximized)
            window.showMaximized();
        else if (c.before == Qt::WindowFullScreen)
            window.showFullScreen();
        QTRY_COMPARE_WITH_TIMEOUT(window.windowState(), Qt::WindowStates(c.before),
                                  ql::test::kOutcomeMs);
        const QSize kept = window.size();
        window.showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), ql::test::kOutcomeMs);

        bringBackBy(*l, c.how);

        QTRY_VERIFY_WITH_TIMEOUT(!window.isMinimized(), ql::test::kOutcomeMs);
        QCOMPARE(window.windowState() & ~Qt::WindowActive, Qt::WindowStates(c.before));
        QVERIFY(window.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(window.size(), c.before == Qt::WindowNoState ? normal : kept,
                                  ql::test::kOutcomeMs);
    }
};

QL_TEST_MAIN(WindowRestoreTest)
#include "WindowRestoreTest.moc"
