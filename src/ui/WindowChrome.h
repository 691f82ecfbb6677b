// The main window's own title area: the window has no system title bar, and
// this object gives back what the title bar did.
//  - Three round buttons (close, minimise, maximise/restore) for the top
//    bar's left inset (buttons()).
//  - A left press on the empty background of the top bar moves the window
//    (QWindow::startSystemMove) once the pointer has gone past the drag
//    distance with the button held; a double-click there maximises or
//    restores. The move starts late on purpose: once the window manager has
//    the pointer, the second click of a double-click never reaches us.
//  - A left press within kEdge pixels of the window's border resizes it from
//    that edge or corner (QWindow::startSystemResize); the pointer shows the
//    resize shape there.
// Where the platform cannot move a frameless window (startSystemMove returns
// false: no window manager that takes the request), the window takes the
// system frame back and the three buttons are hidden: the window manager's
// own title bar does their work.
//
// Main thread only. Owned by the window (a child QObject).
#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>

#include <optional>

class QWidget;
class QWindow;

namespace ql {

class WindowChrome final : public QObject {
public:
    static constexpr int kEdge = 6;

    // Makes `window` frameless (before it is first shown) and watches
    // `titleArea` (the top bar) for moves.
    WindowChrome(QWidget* window, QWidget* titleArea);

    // The three buttons in a row, made once: place it in the top bar.
    QWidget* buttons();

    bool isFrameless() const { return m_frameless; }
    // Gives the window its system frame back (the fallback; also called when
    // a move is refused).
    void useSystemFrame();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Qt::Edges edgesAt(QPoint at) const;
    bool windowEvent(QEvent* event);
    bool titleEvent(QEvent* event);
    void watchWindow();

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_titleArea;
    QPointer<QWidget> m_buttons;
    QPointer<QWindow> m_watched;
    bool m_frameless = true;
    bool m_edgeCursor = false;
    // Where a left press on the title area began (global position), while
    // it may still become a move.
    std::optional<QPointF> m_pressedAt;
};

} // namespace ql
