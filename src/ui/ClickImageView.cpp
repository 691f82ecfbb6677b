#include "ui/ClickImageView.h"

#include <QMouseEvent>

namespace ql {

void ClickImageView::mousePressEvent(QMouseEvent* event) {
    if (onClick) {
        event->accept();
        onClick();
        return;
    }
    QLabel::mousePressEvent(event);
}

} // namespace ql
