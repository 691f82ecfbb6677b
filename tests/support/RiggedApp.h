// Guards against: (fixture) an App on hardware unlike the rig.
// An App on a simulated platform built from a rig, for the tests of the
// controller's output-device and volume code. Header only; link ql_app.
#pragma once

#include "FakeServices.h"
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "ui/TrackTableView.h"

#include "TestAudio.h"

#include <QDir>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTest>

#include <sndfile.h>

namespace ql::test {

struct RiggedApp {
    platform::Platform platform;
    App app;
    explicit RiggedApp(platform::SimRig rig, platform::SimOutputs outputs = {})
        : platform(platform::makeSimulatedPlatform(std::move(rig), std::move(outputs))),
          app(platform, fakeServices()) {}
    platform::SimHardware& hw() { return *platform::simulatedHardware(platform); }
};

// The window of an App that was not launched, built and shown as the launch
// builds it, its track table holding the visible list.
inline void showTrackList(App& app) {
    if (!app.window) {
        app.window = std::make_unique<QMainWindow>();
        app.window->resize(1280, 820);
        app.buildMainUI();
        app.window->show();
        if (!QTest::qWaitForWindowExposed(app.window.get()))
            qWarning("the main window was not shown");
    }
    app.reloadTable();
}

// The track table pressed on `row`, as the right-click that opens the row
// menu presses it.
inline void pressTrackRow(App& app, int row) {
    showTrackList(app);
    TrackTableView* table = app.views.table;
    const QPointF at(5, table->rowViewportPosition(row) + 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::RightButton, Qt::RightButton, {});
    QCoreApplication::sendEvent(table->viewport(), &press);
}

// The device with that UID in a rig (the test's own description of it).
inline platform::SimDevice& deviceIn(platform::SimRig& rig, const QString& uid) {
    for (platform::SimDevice& d : rig.devices)
        if (d.uid == uid)
            return d;
    qFatal("no such device in the rig");
}

// A player on `name`, a second of 16-bit WAV noise in the temporary folder,
// on the rig's outputs.
inline std::unique_ptr<platform::AudioPlayer> openPlayer(RiggedApp& r, const QString& name) {
    const QString path = writeTemp(name, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16});
    return platform::AudioPlayer::open(*r.platform.outputs, path).player;
}

} // namespace ql::test
