#include "ui/BringBack.h"

#include <QWidget>

namespace ql {

void bringBack(QWidget* window) {
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace ql
