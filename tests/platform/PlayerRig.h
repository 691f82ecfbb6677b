// Guards against: (fixture) a rig that records other than what the device was given.
// A simulated platform with recording sinks, for the tests of the output
// engine and the player. Header only; link ql_platform.
#pragma once

#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cmath>

#include <sndfile.h>

namespace ql::test {

// A stream format as the simulated hardware describes it.
inline platform::PhysicalFormat physical(double rate, int bits, bool isFloat, int bytesPerSample,
                                         int channels = 2) {
    return platform::PhysicalFormat{rate, bits, isFloat, channels, bytesPerSample * channels, true};
}

// Devices "DAC A" and "Analog B" (the default) set to `format` (and
// offering `alsoOffered` too), each with a recording sink on `clock`.
struct PlayerRig {
    std::shared_ptr<platform::SimSinkControl> a, b;
    platform::Platform platform;

    explicit PlayerRig(platform::SimClock clock, const platform::PhysicalFormat& format,
                       std::int64_t recordBytes = 64 << 20, std::int64_t bufferFrames = 4096,
                       const std::vector<platform::PhysicalFormat>& alsoOffered = {})
        : a(std::make_shared<platform::SimSinkControl>(clock, recordBytes, bufferFrames)),
          b(std::make_shared<platform::SimSinkControl>(clock, recordBytes, bufferFrames)),
          platform(make(format, alsoOffered, a, b)) {}

    platform::SimHardware& hardware() { return *platform::simulatedHardware(platform); }

    std::unique_ptr<platform::AudioPlayer> open(const QString& path) {
        auto r = platform::AudioPlayer::open(*platform.outputs, path);
        if (!r.player)
            qWarning("open failed: %s", qPrintable(r.error));
        return std::move(r.player);
    }

private:
    static platform::Platform make(const platform::PhysicalFormat& format,
                                   const std::vector<platform::PhysicalFormat>& alsoOffered,
                                   std::shared_ptr<platform::SimSinkControl> a,
                                   std::shared_ptr<platform::SimSinkControl> b) {
        platform::SimRig rig = twoOutputs();
        for (auto& d : rig.devices) {
            d.nominalRate = format.rate;
            d.outputStreams[0].format = format;
            d.outputStreams[0].available.push_back(format);
            for (const auto& f : alsoOffered)
                d.outputStreams[0].available.push_back(f);
        }
        platform::SimOutputs outs;
        outs.controls[kDacA] = std::move(a);
        outs.controls[kAnalogB] = std::move(b);
        return platform::makeSimulatedPlatform(std::move(rig), std::move(outs));
    }
};

// Watches a player's end calls from construction on.
struct Finishes {
    QList<bool> results;
    bool onMainThread = true;
    explicit Finishes(platform::AudioPlayer& p) {
        p.onFinished = [this](bool ok) {
            results << ok;
            onMainThread =
                onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

// `seconds` of a `freq` Hz sine at `rate`, written to the temporary file `name`.
inline QString writeSine(const QString& name, int rate, double seconds, double freq = 1000,
                         int channels = 2, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_24) {
    return writeTemp(name, {format, rate, channels, std::int64_t(std::llround(rate * seconds)),
                            Signal::Sine, freq});
}

// `frames` of stereo noise in libsndfile `format`, written to the temporary file `name`.
inline QString writeNoise(const QString& name, int format, std::int64_t frames) {
    return writeTemp(name, {.format = format, .frames = frames});
}

// Plays `path` on the rig's default device until it ends well: what the
// device recorded; nothing when it does not open, start or end well.
inline std::vector<std::int32_t> playedThrough(PlayerRig& rig, const QString& path) {
    auto player = rig.open(path);
    if (!player)
        return {};
    Finishes fin(*player);
    if (!player->play() || !QTest::qWaitFor([&] { return !fin.results.isEmpty(); }, 30000) ||
        fin.results != QList<bool>{true})
        return {};
    return rig.b->recordedInt32(0);
}

// Every session `sink` recorded, one after the other.
inline std::vector<std::int32_t> allSessions(const platform::SimSinkControl& sink) {
    std::vector<std::int32_t> all;
    for (int s = 0; s < sink.opens(); ++s) {
        const auto part = sink.recordedInt32(s);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Waits, without running the event loop, until `done()` holds or `ms` pass.
template <typename F> bool spinUntil(F done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace ql::test
