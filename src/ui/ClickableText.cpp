#include "ui/ClickableText.h"

#include <QMouseEvent>
#include <QTextCursor>

namespace ql {

// Mouse events of a text edit arrive in its viewport's coordinates, the ones
// cursorForPosition takes; the document margin is inside them.
void ClickableText::mousePressEvent(QMouseEvent* event) {
    if (onClick)
        onClick(cursorForPosition(event->position().toPoint()).position());
    QTextEdit::mousePressEvent(event);
}

void ClickableText::mouseDoubleClickEvent(QMouseEvent* event) {
    if (onClick)
        onClick(cursorForPosition(event->position().toPoint()).position());
    QTextEdit::mouseDoubleClickEvent(event);
}

} // namespace ql
