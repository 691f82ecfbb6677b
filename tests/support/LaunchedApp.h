// Guards against: (fixture) a launch unlike the program's own.
// A controller launched as the program launches it, with its window on
// screen: no missing-tools alert, a backend that takes requests and never
// answers, and the tick stopped so that only the test writes the status line.
// Header only; link ql_app.
#pragma once

#include "FakeServices.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/l10n/L10n.h"

#include <QMainWindow>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace ql::test {

struct LaunchedApp {
    platform::Platform plat;
    std::unique_ptr<App> app;

    // The language is chosen before the App exists; `before` runs just before
    // the launch (to set stand-ins or state the launch reads). The platform is none
    // unless one is given (a simulated one, for tests that play).
    explicit LaunchedApp(const QString& lang, const std::function<void(App&)>& before = {},
                         platform::Platform platform = {})
        : plat(std::move(platform)) {
        L10n::setLanguage(lang);
        app = std::make_unique<App>(plat, fakeServices());
        test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(*app).tools.backendWrite = [](const QByteArray&) {};
        if (before)
            before(*app);
        app->applicationDidFinishLaunching();
        app->timer->stop();
        if (!QTest::qWaitForWindowExposed(app->window.get()))
            qWarning("the main window was not shown");
    }
    App* operator->() const { return app.get(); }
    App& operator*() const { return *app; }
};

} // namespace ql::test
