// A text view that reports the character position under every mouse press
// through `onClick` (the lyrics panel turns it into the line to seek to).
//
// The position is an index into the view's text, 0 up to and including its
// length (an empty text gives 0): the nearest character to the pointer, so a
// press in a margin, between lines or below the last line reports the nearest
// position on that line. Insets set by the owner are accounted for. The
// callback has returned before the view's own press handling (caret,
// selection by dragging) runs, which always runs, with or without a callback.
//
// Main thread only.
#pragma once

#include <QTextEdit>

#include <functional>

namespace ql {

class ClickableText final : public QTextEdit {
    Q_OBJECT
public:
    explicit ClickableText(QWidget* parent = nullptr) : QTextEdit(parent) {}

    std::function<void(int index)> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    // The second press of a double click.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

} // namespace ql
