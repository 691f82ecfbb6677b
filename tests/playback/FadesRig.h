// Guards against: (fixture) fade rows that each build their own device and clock.
// The fades' rig: the simulated device on a manual clock with a driven
// monotonic clock, crossfade on, and tracks 1 (0.5) and 2, 3 (0.25) of 13 s
// and 4 (0.5) of 12 s at constant level, so with the slider at 100 a recorded
// frame is the sum of the two players' gains times those levels. Header
// only; link ql_app.
#pragma once

#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QToolButton>

#include <sndfile.h>

namespace ql::test::fades {

using namespace ql::platform;

constexpr int kRate = 44100;
constexpr std::int64_t kStep = kRate / 10; // device frames of one 0.1 s fade step
// How long the rig waits for what the player does on its own threads (the
// device buffer refilled, a position heard): through the 2x time-stretch of
// the sanitized build on a machine whose cores are shared, a refill that
// takes a few milliseconds on an idle one has taken over 5 s.
constexpr int kWaitMs = 30000;

struct Rig : test::TrackIds<Rig> {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 4096);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    double clock = 100.0;    // the driven monotonic clock
    std::int64_t played = 0; // device frames handed out
    int requests = 0;        // play requests

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        test::fakes(app).clock.monotonic = [this] { return clock; };
        test::fakes(app).observer.playRequest = [this](const Track&) { ++requests; };
        app.listening.crossfadeOn = true;
        app.playback.maxQuality = app.playback.rateMatchOn = false;
        app.views.volume->setDoubleValue(100);
        for (const auto& [id, value, seconds] :
             {std::tuple(1, 0.5, 13), {2, 0.25, 13}, {3, 0.25, 13}, {4, 0.5, 12}}) {
            add(id, tempFile(QString("c%1.wav").arg(id)));
            QVERIFY(test::writeFloatWav(track(id).path, kRate, 2,
                                        std::vector<double>(2 * seconds * kRate, value)));
        }
        show({1, 2});
    }
    AudioPlayer& audio() const { return *app.playback.audio; }
    bool start(qint64 id) {
        return test::playTaken(app, track(id)) && app.isPlaying() && advance(0);
    }
    // Hands the device `frames` more and waits until its buffer is full again
    // (the engine writes whole blocks of 1024 frames).
    bool advance(std::int64_t frames) {
        sink->advance(frames);
        played += frames;
        return QTest::qWaitFor([&] { return sink->framesWritten() > played + 4096 - 1024; },
                               kWaitMs);
    }
    // Plays the current file up to `seconds` of it (at 2x within 20 ms).
    bool playTo(double seconds) {
        const double speed = audio().enableRate() ? double(audio().rate()) : 1.0;
        const double within = speed == 1.0 ? 1e-6 : 0.02;
        return advance(std::llround((seconds - audio().currentTime()) * kRate / speed)) &&
               QTest::qWaitFor([&] { return std::abs(audio().currentTime() - seconds) < within; },
                               kWaitMs);
    }
    // 0.1 s passes on the device and the clock; then the fade's timer fires.
    bool fadeStep() {
        clock += 0.1;
        return advance(kStep) &&
               (!app.playback.fadeTimer ||
                QMetaObject::invokeMethod(app.playback.fadeTimer.get(), "timeout"));
    }
    void elapse(double seconds) { clock += seconds, app.sleepTick(); }
};

} // namespace ql::test::fades
