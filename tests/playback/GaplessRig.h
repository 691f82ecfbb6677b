// Guards against: (fixture) gapless rows that each build their own two-device rig.
// The gapless succession's rig: both simulated devices at 44.1 kHz with
// recording sinks on manual clocks (nothing plays unless a row advances a
// device), tracks that are spans of one 24-bit ramp, and the waits a row
// needs on what the player does on its own threads. Header only; link ql_app.
#pragma once

#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QComboBox>
#include <QDir>
#include <QTimer>

#include <sndfile.h>

#include <functional>

namespace ql::test::gapless {

using namespace ql::platform;

constexpr int kRate = 44100;
// How long a row waits for what the player does on its own threads (a
// buffer filled, a position heard, a look ahead answered): far more than an
// idle machine needs, as a busy one stretches every step of it.
constexpr int kWaitMs = 30000;
using test::kRampStep;
using test::ramp;

enum class Codec { Wav, Alac, PipedFlac };

// A span of the ramp as a 24-bit WAV, or encoded from it by ffmpeg to
// 24-bit ALAC in .m4a, or to a FLAC written through a pipe (no stored length).
inline QString writeRamp(const QString& name, std::int64_t from, std::int64_t to, int rate = kRate,
                         Codec codec = Codec::Wav) {
    const QString path = tempFile(name);
    if (!test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, ramp(from, to, rate)))
        qFatal("cannot write %s", qPrintable(path));
    if (codec == Codec::Wav)
        return path;
    const bool alac = codec == Codec::Alac;
    const QString encoded = path + (alac ? ".m4a" : ".flac");
    if (!(alac ? test::runFfmpeg({"-i", path, "-c:a", "alac", "-sample_fmt", "s32p", encoded})
               : test::pipedFlac(path, encoded)))
        qFatal("cannot encode %s", qPrintable(path));
    return encoded;
}

// Both devices at 44.1 kHz, 24 bits in 4 bytes, each with a recording sink on
// the manual clock.
struct Rig : test::TrackIds<Rig> {
    std::shared_ptr<SimSinkControl> dacA =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20);
    std::shared_ptr<SimSinkControl> analogB =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20);
    test::RiggedApp rig{
        devices(), SimOutputs{SimClock::Manual, {{test::kDacA, dacA}, {test::kAnalogB, analogB}}}};
    App& app = rig.app;
    QList<qint64> requests; // play requests, in order

    Rig() {
        UserDefaults().clear();
        test::fakes(app).observer.playRequest = [this](const Track& t) { requests << t.id; };
    }
    static SimRig devices() {
        SimRig rig = test::twoOutputs();
        const PhysicalFormat format{double(kRate), 24, false, 2, 8, true};
        for (SimDevice& d : rig.devices) {
            d.nominalRate = kRate;
            d.nominalRates = {{double(kRate), double(kRate)}}; // nothing to upsample to
            d.outputStreams[0].format = format;
            d.outputStreams[0].available.push_back(format);
        }
        return rig;
    }
    AudioPlayer& audio() const { return *app.playback.audio; }
    std::optional<qint64> queuedId() const {
        return app.playback.preparedAs(PreparedNext::Kind::Scheduled)
                   ? std::optional(app.playback.prepared->track.id)
                   : std::nullopt;
    }
    // Plays `id` from the list, the device holding its first frames, once
    // the look ahead at the next track has answered.
    bool start(qint64 id) {
        const bool taken = test::playTaken(app, track(id));
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        return taken && app.playback.audio && app.isPlaying() &&
               QTest::qWaitFor([this] { return analogB->framesWritten() >= 4096; }, kWaitMs) &&
               QTest::qWaitFor([&ahead] { return !ahead || !ahead->running; }, kWaitMs);
    }
    // What a tick does before its checks: the look ahead aimed at the
    // successor as it stands now; then waits until its job has answered.
    bool lookAhead() {
        app.aimLookAhead();
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        return QTest::qWaitFor([&ahead] { return !ahead || !ahead->running; }, kWaitMs);
    }
    // Waits until everything asked ahead about the playing track's
    // successor has answered and its answer was taken: the decode made ahead
    // and every open off the main thread (the rate look, say). Each answer
    // runs the gapless check (successorAnswered), which arms the successor
    // if the playing track is in its last seconds by then; waited for before
    // the device plays into them, the answer arms nothing, and the end of
    // the track asks for its successor with a play request.
    bool lookAheadAnswered() {
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        const bool answered = QTest::qWaitFor(
            [&ahead] { return (!ahead || !ahead->running) && FileOpen::stillRunning() == 0; },
            kWaitMs);
        // An open's thread has posted its answer before it counts as done.
        QCoreApplication::sendPostedEvents();
        return answered;
    }
    // Lets the device play the current file up to `seconds` of it (device
    // frames are source frames divided by the speed) and waits until the
    // player has heard them; at 1x to the frame, else within 20 ms.
    bool playTo(double seconds) {
        const double speed = audio().enableRate() ? double(audio().rate()) : 1.0;
        const double from = audio().currentTime();
        analogB->advance(std::llround((seconds - from) * kRate / speed));
        const double within = speed == 1.0 ? 1e-6 : 0.02;
        return QTest::qWaitFor([&] { return std::abs(audio().currentTime() - seconds) < within; },
                               kWaitMs);
    }
};

// Tracks of the arming table: 1 plays (10 s); 2 (6 s) follows it in the
// list; 3 lasts 5 s; 5 is 6 s at 44102 Hz; 6 does not open; 7 holds no
// samples.
inline void addGateTracks(Rig& r) {
    r.add(1, writeRamp("g1.wav", 0, 10 * kRate));
    r.add(2, writeRamp("g2.wav", 0, 6 * kRate));
    r.add(3, writeRamp("g3.wav", 0, 5 * kRate));
    r.add(5, writeRamp("g5.wav", 0, 6 * 44102, 44102));
    if (!test::writeFile(tempFile("g6.wav"), "not audio"))
        qFatal("cannot write g6.wav");
    r.add(6, tempFile("g6.wav"));
    r.add(7, writeRamp("g7.wav", 0, 0));
}

constexpr qint64 kNone = -1;

inline void bitPerfect(Rig& r) {
    r.app.playback.bitPerfect = true;
    r.app.playback.maxQuality = false;
}

inline void gaplessOff(Rig& r) {
    r.app.playback.gaplessOn = false;
}

// The first frame where the left channel does not rise by one ramp step
// (scaled by `gain`) from the frame before, or -1.
inline std::int64_t firstBreak(const std::vector<double>& got, std::int64_t frames, double gain) {
    const double step = gain * double(kRampStep) / 2147483648.0;
    for (std::int64_t f = 1; f < frames; ++f) {
        const double d = got[std::size_t(2 * f)] - got[std::size_t(2 * f - 2)];
        if (std::abs(d - step) > step / 4)
            return f;
    }
    return -1;
}

} // namespace ql::test::gapless
