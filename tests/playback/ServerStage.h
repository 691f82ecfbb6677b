// Guards against: (fixture) sound-server rows that each build their own stage and rig.
// What the rows played at a sound server's sink share: the stage (a private
// PipeWire graph, or the simulated device in its sound-server mode with a
// real-time clock), the program on it, the ramp and sine files they play
// and how a recording of them is read. Header only; link ql_app.
#pragma once

#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimNowPlaying.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSink.h"
#include "ui/SeekSlider.h"
#include "ui/WindowViews.h"

#include "CaseRows.h"
#include "EventWait.h"
#include "LogLines.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "SoundServerGraph.h"
#include "SoundStage.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "ToneRuns.h"
#include "TrackIds.h"

#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace ql::test::server {

using namespace ql::platform;
using test::Device;

constexpr int kSinkRate = test::SoundServerGraph::kRate;
constexpr int kWaitMs = 60000;
constexpr double kHz = 997;

// The simulated server holds 200 ms, as a server's own queue does.
struct Stage : test::SoundStage {
    explicit Stage(Device d, std::int64_t wobble = 0)
        : SoundStage(d, test::SimServer{9600, 1024, wobble}) {}
};

struct Rig : test::TrackIds<Rig> {
    std::unique_ptr<App> owned;
    App& app;
    explicit Rig(Stage& s) : owned(std::make_unique<App>(*s.platform)), app(*owned) {
        UserDefaults().clear();
    }
    platform::AudioPlayer& audio() { return *app.playback.audio; }
};

// `seconds` of a 997 Hz sine at -6 dBFS at `rate`, starting `phase` seconds
// into it, as a float WAV.
inline QString sineFile(const QString& name, int rate, double seconds, double phase) {
    std::vector<double> v;
    const auto frames = std::int64_t(std::llround(seconds * rate));
    for (std::int64_t f = 0; f < frames; ++f) {
        const double x = 0.5 * std::sin(2 * M_PI * kHz * (phase + double(f) / rate));
        v.insert(v.end(), {x, x});
    }
    const QString path = tempFile(name);
    if (!test::writeFloatWav(path, rate, 2, v))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The ramp's frame number in a sample of its left channel (-1: none of its).
inline std::int64_t rampFrame(double v) {
    const double f = (v + 1.0) * 2147483648.0 / double(test::kRampStep);
    const double whole = std::round(f);
    return std::abs(f - whole) < 1e-3 && whole >= 0 ? std::int64_t(whole) : -1;
}

// What is wrong with ramp frames [from, to) heard from the recorded frame
// `at` on, each following the one before (the recording may end first);
// empty when nothing.
inline QString rampFault(const std::vector<double>& v, std::size_t at, std::int64_t from,
                         std::int64_t to) {
    const std::size_t n = v.size() / 2;
    for (std::int64_t want = from; at < n && want < to; ++at, ++want)
        if (rampFrame(v[2 * at]) != want)
            return QStringLiteral("ramp frame %1 missing at %2 s (heard %3)")
                .arg(want)
                .arg(double(at) / kSinkRate)
                .arg(rampFrame(v[2 * at]));
    return {};
}

} // namespace ql::test::server
