#include "playback/VolumeKeyFilter.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace ql {

VolumeKeyFilter::VolumeKeyFilter(Handler handler) : m_handler(std::move(handler)) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

VolumeKeyFilter::~VolumeKeyFilter() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool VolumeKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    // A key the focus widget does not take is offered to its parents, and the
    // filter sees each offer; only a swallowed one stops there, so a handled
    // key is acted on once.
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && m_handler)
        return m_handler(*static_cast<QKeyEvent*>(event));
    return QObject::eventFilter(watched, event);
}

} // namespace ql
