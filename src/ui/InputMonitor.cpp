#include "ui/InputMonitor.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWheelEvent>
#include <QWindow>

namespace ql {

namespace {

ScrollPhase phaseOf(Qt::ScrollPhase phase) {
    switch (phase) {
    case Qt::ScrollBegin:
        return ScrollPhase::Begin;
    case Qt::ScrollUpdate:
        return ScrollPhase::Update;
    case Qt::ScrollEnd:
        return ScrollPhase::End;
    default:
        return ScrollPhase::None; // a wheel, or momentum after a flick
    }
}

bool isTextField(const QWidget* w) {
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->isEditable();
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QTextEdit*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w);
}

// The widget or one of its ancestors in its window takes typed text.
bool takesText(const QWidget* w) {
    for (; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (isTextField(w))
            return true;
    return false;
}

} // namespace

InputMonitor::InputMonitor(QWidget* mainWindow, double& swipeAccum, double& swipeVert,
                           Actions actions, QObject* parent)
    : QObject(parent), m_window(mainWindow), m_accum(swipeAccum), m_vert(swipeVert),
      m_actions(std::move(actions)) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

InputMonitor::~InputMonitor() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool InputMonitor::isMainWindow(QObject* watched) const {
    return m_window && m_window->windowHandle() && watched == m_window->windowHandle();
}

bool InputMonitor::textFieldHasFocus() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != m_window)
        focus = m_window ? m_window->focusWidget() : nullptr;
    return focus && isTextField(focus);
}

bool InputMonitor::act(InputAction action) {
    const std::function<void()>* run = nullptr;
    switch (action) {
    case InputAction::None:
        return false;
    case InputAction::Back:
        run = &m_actions.back;
        break;
    case InputAction::Forward:
        run = &m_actions.forward;
        break;
    case InputAction::Toggle:
        run = &m_actions.toggle;
        break;
    case InputAction::Next:
        run = &m_actions.next;
        break;
    case InputAction::Previous:
        run = &m_actions.previous;
        break;
    }
    if (*run)
        (*run)();
    return true;
}

bool InputMonitor::pointerEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPointF delta = wheel->pixelDelta();
        return act(scrollStep(m_accum, m_vert, phaseOf(wheel->phase()), delta.x(), delta.y()));
    }
    case QEvent::MouseButtonPress: {
        auto* press = static_cast<QMouseEvent*>(event);
        if (m_keys)
            leaveTextField(press->position().toPoint());
        return act(buttonAction(press->button()));
    }
    case QEvent::NativeGesture: {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() != Qt::SwipeNativeGesture)
            return false;
        return act(swipeAction(gesture->delta().x()));
    }
    default:
        return false;
    }
}

void InputMonitor::leaveTextField(QPoint at) {
    QWidget* focus = m_window->focusWidget();
    if (!focus || !isTextField(focus))
        return;
    // Controls that take no focus of their own (the sidebar, the tool
    // buttons) would otherwise leave the keys with the field.
    if (!takesText(m_window->childAt(at)))
        focus->clearFocus();
}

bool InputMonitor::keyEvent(QEvent* event) {
    if (event->type() != QEvent::KeyPress || textFieldHasFocus())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    return act(keyAction(keyPlace(key->nativeScanCode(), key->key()), key->modifiers()));
}

bool InputMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (!m_window || !watched->isWindowType() || !isMainWindow(watched))
        return false;
    if (m_pointer && pointerEvent(event))
        return true;
    return m_keys && keyEvent(event);
}

} // namespace ql
