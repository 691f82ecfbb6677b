// The main window's navigation and transport input: one application-wide
// watch (InputMonitor), made by whichever of the two launch steps comes
// first and switched on part by part.
#include "app/App.h"
#include "ui/InputMonitor.h"

#include <QMainWindow>
#include <QPointer>

namespace ql {

namespace {

InputMonitor* monitorOf(App& app) {
    if (!app.inputMonitor) {
        // The actions hold the controller weakly: once it is gone every event
        // goes through.
        QPointer<App> self(&app);
        auto call = [self](void (App::*action)()) {
            return [self, action] {
                if (self)
                    (self.data()->*action)();
            };
        };
        app.inputMonitor =
            new InputMonitor(app.window.get(), app.core.swipeAccum, app.core.swipeVert,
                             {call(&App::navBack), call(&App::navForward), call(&App::toggle),
                              call(&App::next), call(&App::previous)},
                             &app);
    }
    return app.inputMonitor;
}

} // namespace

void App::installPointerMonitor() {
    monitorOf(*this)->watchPointer();
}

void App::installKeyMonitor() {
    monitorOf(*this)->watchKeys();
}

} // namespace ql
