// ---- window: menu bar, window content, input monitors ----
//
// Seam: the window content is the status line alone; the browser, table, bars
// and panels come with the window issues, the menu bar with its own, and the
// navigation and transport monitors with theirs. The view tabs' action, the
// now-playing labels and the time labels beside the waveform come with the
// browser and window issues; until then they do nothing.
#include "app/App.h"

#include "ui/StatusLabel.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QVBoxLayout>

namespace ql {

void App::buildMenu() {
    window->setMenuBar(new QMenuBar(window.get()));
}

void App::buildMainUI() {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->addStretch(1);
    status->setParent(content);
    layout->addWidget(status);
    window->setCentralWidget(content);
}

void App::installPointerMonitor() {}
void App::installKeyMonitor() {}
void App::viewModeChanged() {}
void App::updateNowPlaying() {}
void App::refreshTimes() {}

} // namespace ql
