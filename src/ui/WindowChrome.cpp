#include "ui/WindowChrome.h"

#include "ui/ButtonFactory.h"
#include "ui/SymbolButton.h"
#include "ui/l10n/L10n.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace ql {

namespace {

constexpr double kButton = 12; // diameter
constexpr int kButtonGap = 8;

Qt::CursorShape cursorFor(Qt::Edges edges) {
    const bool left = edges & Qt::LeftEdge, right = edges & Qt::RightEdge;
    const bool top = edges & Qt::TopEdge, bottom = edges & Qt::BottomEdge;
    if ((left && top) || (right && bottom))
        return Qt::SizeFDiagCursor;
    if ((right && top) || (left && bottom))
        return Qt::SizeBDiagCursor;
    return left || right ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}

} // namespace

WindowChrome::WindowChrome(QWidget* window, QWidget* titleArea)
    : QObject(window), m_window(window), m_titleArea(titleArea) {
    m_window->setWindowFlag(Qt::FramelessWindowHint, true);
    m_titleArea->installEventFilter(this);
    m_window->installEventFilter(this);
    watchWindow();
}

QWidget* WindowChrome::buttons() {
    if (m_buttons)
        return m_buttons;
    m_buttons = new QWidget;
    m_buttons->setObjectName(QStringLiteral("windowButtons"));
    auto* row = new QHBoxLayout(m_buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kButtonGap);
    QPointer<QWidget> window = m_window;
    const struct {
        const char* name;
        QColor colour;
        const char* tip;
        std::function<void()> act;
    } kinds[] = {
        {"closeWindow", QColor(0xff, 0x5f, 0x57), "닫기",
         [window] {
             if (window)
                 window->close();
         }},
        {"minimizeWindow", QColor(0xfe, 0xbc, 0x2e), "최소화",
         [window] {
             if (window)
                 window->showMinimized();
         }},
        {"maximizeWindow", QColor(0x28, 0xc8, 0x40), "확대/축소",
         [window] {
             if (window)
                 window->isMaximized() ? window->showNormal() : window->showMaximized();
         }},
    };
    for (const auto& kind : kinds) {
        SymbolButton* b = roundButton(
            QString(), {kButton, 0, kind.colour, Qt::white, L10n::tr(QString::fromUtf8(kind.tip))},
            kind.act);
        b->setObjectName(QString::fromLatin1(kind.name));
        b->setFixedSize(int(kButton), int(kButton));
        b->setFocusPolicy(Qt::NoFocus);
        row->addWidget(b, 0, Qt::AlignVCenter);
    }
    m_buttons->setVisible(m_frameless);
    return m_buttons;
}

void WindowChrome::useSystemFrame() {
    if (!m_frameless || !m_window)
        return;
    m_frameless = false;
    const bool shown = m_window->isVisible();
    m_window->setWindowFlag(Qt::FramelessWindowHint, false);
    if (m_buttons)
        m_buttons->hide();
    if (m_edgeCursor)
        m_window->unsetCursor();
    if (shown)
        m_window->show(); // a flag change hides the window
    watchWindow();
}

void WindowChrome::watchWindow() {
    QWindow* handle = m_window ? m_window->windowHandle() : nullptr;
    if (handle == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = handle;
    if (m_watched)
        m_watched->installEventFilter(this);
}

Qt::Edges WindowChrome::edgesAt(QPoint at) const {
    Qt::Edges edges;
    if (!m_window || m_window->isMaximized() || m_window->isFullScreen())
        return edges;
    const QRect r = m_window->rect();
    if (at.x() < kEdge)
        edges |= Qt::LeftEdge;
    if (at.x() >= r.width() - kEdge)
        edges |= Qt::RightEdge;
    if (at.y() < kEdge)
        edges |= Qt::TopEdge;
    if (at.y() >= r.height() - kEdge)
        edges |= Qt::BottomEdge;
    return edges;
}

bool WindowChrome::windowEvent(QEvent* event) {
    if (!m_frameless)
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const Qt::Edges edges = edgesAt(mouse->position().toPoint());
    if (type == QEvent::MouseMove) {
        if (mouse->buttons() != Qt::NoButton)
            return false;
        if (edges) {
            m_window->setCursor(cursorFor(edges));
            m_edgeCursor = true;
        } else if (m_edgeCursor) {
            m_window->unsetCursor();
            m_edgeCursor = false;
        }
        return false;
    }
    if (!edges || mouse->button() != Qt::LeftButton)
        return false;
    return m_watched && m_watched->startSystemResize(edges);
}

bool WindowChrome::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window) {
        // The native window is made, or made again after a flag change.
        if (event->type() == QEvent::WinIdChange || event->type() == QEvent::Show)
            watchWindow();
        return false;
    }
    if (watched == m_watched)
        return windowEvent(event);
    if (watched != m_titleArea || !m_frameless || !m_window)
        return false;
    return titleEvent(event);
}

bool WindowChrome::titleEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonDblClick) {
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_pressedAt.reset();
        m_window->isMaximized() ? m_window->showNormal() : m_window->showMaximized();
        return true;
    }
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_pressedAt = mouse->globalPosition();
        return true;
    }
    if (type == QEvent::MouseButtonRelease) {
        const bool ours = m_pressedAt.has_value() && mouse->button() == Qt::LeftButton;
        if (ours)
            m_pressedAt.reset();
        return ours;
    }
    // A move: with the left button still held from our press, past the drag
    // distance, the window manager takes over.
    if (!m_pressedAt)
        return false;
    if (!(mouse->buttons() & Qt::LeftButton)) {
        m_pressedAt.reset(); // the release went elsewhere
        return false;
    }
    if ((mouse->globalPosition() - *m_pressedAt).manhattanLength() <
        QApplication::startDragDistance())
        return true;
    m_pressedAt.reset();
    watchWindow();
    if (!m_watched || !m_watched->startSystemMove())
        useSystemFrame();
    return true;
}

} // namespace ql
