// The volume keys, seen through an application-wide event filter: every key
// press and release delivered to one of our windows passes `handler`, which
// returns true to swallow the event. Keys typed into other applications never
// reach us (no program may read them on Wayland), so the keys work only while
// a window of ours has focus.
//
// Installs itself on the application when made (nothing without an
// application object) and removes itself when destroyed. Main thread only.
#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;

namespace ql {

class VolumeKeyFilter final : public QObject {
public:
    using Handler = std::function<bool(const QKeyEvent& event)>;
    explicit VolumeKeyFilter(Handler handler);
    ~VolumeKeyFilter() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler m_handler;
};

} // namespace ql
