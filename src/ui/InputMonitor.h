// The main window's navigation and transport input, watched for the whole
// application: scroll gestures, side buttons and swipes move back or forward
// in the browser's history; Space, Ctrl+[ / ] and Ctrl+Left / Right play,
// pause, navigate and skip.
//
// It watches the deliveries to top-level windows (QWindow), which every
// input event from the platform passes exactly once before Qt hands it to a
// widget, so a key or a wheel event that propagates through widgets is judged
// once. Acting on an event consumes it; everything else goes through
// untouched. Only events of `mainWindow` count, and keys are left alone while
// a text field there has the focus. With the keys watched, a press on
// anything there that takes no text takes the focus from a text field, so
// the keys work again after typing in the search field.
//
// Thread: main thread. Owned by the controller; removed from the application
// with it, so no event reaches actions that are gone.
#pragma once

#include "ui/InputRules.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace ql {

class InputMonitor final : public QObject {
public:
    struct Actions {
        std::function<void()> back, forward, toggle, next, previous;
    };

    // The two sums hold the running scroll gesture; they outlive the monitor.
    InputMonitor(QWidget* mainWindow, double& swipeAccum, double& swipeVert, Actions actions,
                 QObject* parent);
    ~InputMonitor() override;

    // The two watches, each switched on once by the launch.
    void watchPointer() { m_pointer = true; }
    void watchKeys() { m_keys = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isMainWindow(QObject* watched) const;
    bool textFieldHasFocus() const;
    bool pointerEvent(QEvent* event);
    bool keyEvent(QEvent* event);
    void leaveTextField(QPoint at);
    bool act(InputAction action);

    QPointer<QWidget> m_window;
    double& m_accum;
    double& m_vert;
    Actions m_actions;
    bool m_pointer = false;
    bool m_keys = false;
};

} // namespace ql
