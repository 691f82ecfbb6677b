// Lets a manual simulated device play as a card in time does, for tests that
// step its clock by hand.
#pragma once

#include "platform/sim/SimSink.h"

#include <QTest>

#include <algorithm>
#include <cstdint>

namespace ql::test {

// Lets the device play about `frames` frames a step at a time, never more
// than the engine has queued, so that it never runs dry: a manual clock
// handed more than the queue at once plays faster than any card, and a
// decoder behind on a loaded machine would count as under-runs.
inline void playInTime(platform::SimSinkControl& device, std::int64_t frames) {
    const std::int64_t half = device.bufferFrames / 2;
    while (frames > 0) {
        // The feeder refills what the last step played; at the end of a
        // track only its last frames are left. More than half, so that a
        // step of half never takes the whole queue while the track goes on
        // (a decoder behind on a loaded machine leaves exactly half queued).
        static_cast<void>(
            QTest::qWaitFor([&device, half] { return device.queuedFrames() > half; }, 3000));
        const std::int64_t step = std::min({frames, half, device.queuedFrames()});
        if (step <= 0)
            return;
        const std::int64_t heard = device.framesHeard() + step;
        device.advance(step);
        frames -= step;
        if (!QTest::qWaitFor([&] { return device.framesHeard() >= heard; }, 5000))
            return;
    }
}

} // namespace ql::test
