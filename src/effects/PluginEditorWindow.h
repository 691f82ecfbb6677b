// The editor of one plug-in slot, a floating window. When the plug-in ships
// an interface of its own that can be embedded here (an X11 one, and the
// program runs on X11), the window shows that interface, lets it work about
// 30 times a second while shown (a timer that stops when the window hides or
// closes), follows the sizes it asks for and closes when it asks to. Else, or
// when that interface fails to load, it is the generic editor, silently.
//
// The generic editor: one row per
// control input of the editing instance (ports marked "not on GUI" are left
// out). Each row is the control's name and unit, then a check box (a toggle),
// a pop-up of its labelled values (an enumeration), a spin box (an integer)
// or a slider of 1,000 steps with its value beside it, logarithmic when the
// port asks for it and its range lies above 0. A range that is not a number,
// or whose minimum is not below its maximum, disables its row. Every change
// goes straight into the instance; the slot learns of it only when the
// window closes (onClose), because a plug-in's state is captured whole.
//
// The window owns the instance. Main thread only.
#pragma once

#include "platform/PluginHost.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCloseEvent;
class QTimer;

namespace ql {

class PluginEditorWindow final : public QWidget {
public:
    PluginEditorWindow(const QString& title, PluginCodes codes,
                       std::unique_ptr<platform::PluginEditor> editor);
    ~PluginEditorWindow() override;

    // The plug-in the instance is, so a slot changed meanwhile is not given
    // another plug-in's state.
    PluginCodes codes() const { return m_codes; }
    platform::PluginEditor& editor() { return *m_editor; }
    // The plug-in's own interface and the native widget it lives in; none
    // for the generic editor.
    platform::PluginView* view() const { return m_view.get(); }
    QWidget* viewHolder() const { return m_holder; }

    // Called once when the user (or anyone) closes the window.
    std::function<void()> onClose;

    // Slider position (0 … kSteps) and control value, each way.
    static constexpr int kSteps = 1000;
    static float valueAt(const platform::PluginControl& c, int step);
    static int stepOf(const platform::PluginControl& c, float value);

    // How often a shown interface gets its periodic work.
    static constexpr int kIdleMs = 33;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool showOwnInterface();
    void buildGeneric();
    QWidget* makeRow(const platform::PluginControl& control);

    PluginCodes m_codes;
    std::unique_ptr<platform::PluginEditor> m_editor;
    // Goes before the editor's instance it talks to, and before the widget
    // its window lives in.
    std::unique_ptr<platform::PluginView> m_view;
    QWidget* m_holder = nullptr;
    QTimer* m_idle = nullptr;
    bool m_closed = false;
};

} // namespace ql
