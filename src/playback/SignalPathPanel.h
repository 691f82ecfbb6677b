// The signal-path panel: a small tool window, "🧩 신호 경로", that shows the
// report of signalPathData() as one row per stage — a filled green marker
// when the stage alters the signal, a hollow dim one when not, the stage's
// name and its value — and the verdict below, green when the path is clean.
//
// Made once with the controller and kept for the whole run: closing the
// window hides it, and the next toggle shows it again with fresh rows. The
// report is passed as a function to toggle(), so it is computed (and the
// source probed) only when the panel opens; while visible, the controller's
// tick calls refresh() every 2 s.
//
// Knows nothing of the controller. Main thread only.
#pragma once

#include "playback/SignalPath.h"

#include <functional>
#include <memory>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace ql {

class SignalPathPanel final {
public:
    SignalPathPanel();
    ~SignalPathPanel();
    SignalPathPanel(const SignalPathPanel&) = delete;
    SignalPathPanel& operator=(const SignalPathPanel&) = delete;

    bool visible() const;
    // Shows the panel, centred, with the report `data` gives, or hides it.
    void toggle(const std::function<SignalPathReport()>& data);
    // Replaces the rows and the verdict.
    void refresh(const SignalPathReport& report);

    QWidget* window() const { return m_window.get(); }

private:
    std::unique_ptr<QWidget> m_window;
    QVBoxLayout* m_rows = nullptr;
    QLabel* m_verdict = nullptr;
};

} // namespace ql
