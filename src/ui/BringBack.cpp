#include "ui/BringBack.h"

#include <QWidget>
#include <QWindow>

namespace ql {

// The state to come back to is the native window's, not the widget's. The
// widget keeps the state it last had on screen while it is minimised, and a
// window manager's answer read half-way can change that: Qt minimises a
// maximised X11 window by asking the manager to drop the maximised state,
// iconify and maximise again, and openbox may write the first step on its own.
// Read before the rest, it leaves the widget "minimised" without "maximised",
// while the native window, which follows each answer of the manager to the
// last, is minimised and maximised.
void bringBack(QWidget* window) {
    if (!window)
        return;
    const QWindow* handle = window->windowHandle();
    const Qt::WindowStates shown = handle ? handle->windowStates() : window->windowState();
    if ((shown | window->windowState()) & Qt::WindowMinimized)
        window->setWindowState(shown & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace ql
