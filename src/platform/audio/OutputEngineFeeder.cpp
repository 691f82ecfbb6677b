// The feeder thread of an output engine (see "Threads" in OutputEngine.h):
// its loop, the clock it publishes as heard, the plan of each block (which
// voices play, where scheduled ones start) and the write to the sink. It
// never allocates, locks or logs.
#include "platform/audio/OutputEngine.h"

#include "platform/audio/SampleCodec.h"
#include "platform/audio/Voice.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include <poll.h>

#include <pthread.h>

namespace ql::platform {

void OutputEngine::publishClock(const SinkReport& report) {
    // Heard so far: what was written, less what the device says is still
    // ahead of the listener (its queue and whatever lies behind it).
    double delay = std::max(report.delay, 0.0);
    const double steady =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    // Once the device has taken every frame written (our queue is empty and
    // nothing was written since the last look), the last of them is heard
    // the delay reported at that look after it: that is the device's own
    // word on where its progress stands. A sound server's shared device goes
    // on reporting its own latency after that, or interpolates within each
    // of its cycles (lower, then back up), and never plays it out; a server
    // late by a cycle or two reports the same delay for a while. Neither
    // holds the end back past that moment, and as long as frames of ours
    // are still queued nothing counts as heard that the device has not
    // reported played, however long the delay stands still.
    const bool ours = report.queuedFrames > 0 || m_sinkPaused || m_written != m_writtenSeen;
    m_writtenSeen = m_written;
    //
    // The delay counted from that moment is the smaller of the one reported
    // then and the one reported at the last look that still found frames of
    // ours queued: that one was the device's word on when our last frame is
    // heard, and the frame only comes nearer. Once it has taken them all, a
    // sound server reports the delay a frame written now would have (its
    // whole cycle), which can be longer than what is left of ours: the
    // tail of our frames fills only the start of its cycle.
    if (ours) {
        m_handedOnAt = -1;
        m_oursDelay = delay;
    } else if (m_handedOnAt < 0) {
        m_handedOnAt = steady;
        m_handedOnDelay = m_oursDelay >= 0 ? std::min(delay, m_oursDelay) : delay;
    }
    if (m_handedOnAt >= 0)
        delay = std::min(delay, std::max(m_handedOnAt + m_handedOnDelay - steady, 0.0));
    const double played = std::max(double(m_written) - delay * m_format.rate, 0.0);
    const double t = m_clockBase + played / m_format.rate;
    // The reported delay jitters by a frame or two; the clock never steps back.
    if (t > m_clock.load(std::memory_order_relaxed))
        m_clock.store(t, std::memory_order_relaxed);
}

void OutputEngine::deviceLost() {
    // The device is gone: everything that was playing on it ends.
    m_lost.store(true);
    m_losses.fetch_add(1, std::memory_order_relaxed);
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
    for (auto& slot : m_voices)
        if (Voice* v = slot.load(std::memory_order_acquire))
            v->markLost();
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
}

bool OutputEngine::anyVoiceRunning() {
    // Marked as a cycle: detach() waits for it before a voice may go away.
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
    bool any = false;
    for (auto& slot : m_voices) {
        const Voice* v = slot.load(std::memory_order_acquire);
        any = any || (v && v->isRunning());
    }
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
    return any;
}

OutputEngine::MixPlan OutputEngine::planBlock(std::size_t limit) {
    MixPlan plan;
    const std::int64_t blockStart = m_written;
    const std::int64_t blockEnd = blockStart + std::int64_t(limit);
    for (std::size_t slot = 0; slot < m_voices.size(); ++slot) {
        Voice* v = m_voices[slot].load(std::memory_order_acquire);
        if (!v || !v->isRunning())
            continue;
        Entry& e = m_entries[std::size_t(plan.count++)];
        e = Entry{};
        e.voice = v;
        e.slot = slot;
        e.schedule = v->pendingStart();
    }
    // Voices already playing take the whole block.
    for (int i = 0; i < plan.count; ++i) {
        Entry& e = m_entries[std::size_t(i)];
        if (e.schedule.pending) {
            e.voice->followSegment();
            continue;
        }
        e.pull = e.voice->pull(limit, m_format);
        e.mixes = true;
    }
    // Scheduled ones start at their frame, which may lie in this block.
    const auto window = std::int64_t(std::llround(kSnapWindow * m_format.rate));
    for (int i = 0; i < plan.count; ++i) {
        Entry& e = m_entries[std::size_t(i)];
        if (!e.schedule.pending)
            continue;
        std::optional<std::int64_t> start;
        const Resolved& known = m_resolved[e.slot];
        if (known.voiceId == e.voice->id() && known.tag == e.schedule.tag) {
            start = known.frame;
        } else {
            // Clamped far inside the range of the frame counts, so a time
            // centuries away waits instead of overflowing the sums below.
            constexpr double kFar = 4.0e18;
            const auto asked = std::int64_t(std::llround(
                std::clamp((e.schedule.at - m_clockBase) * m_format.rate, -kFar, kFar)));
            // A start asked for near the end of a playing voice follows its
            // last frame exactly; until that voice reaches its end, wait.
            // A voice armed at another's end (continueStages) follows that
            // one wherever its end turns out to be: earlier by the tail it
            // handed on, or away from the asked frame when its length was
            // an estimate the decoder corrected. One that continues the
            // stages and started at the asked frame instead would starve
            // until they come, and they come only once that voice has
            // played down to its tail.
            const Entry* anchor = nullptr;
            std::int64_t best = window + 1;
            const std::uint64_t follows = e.voice->follows();
            for (int k = 0; k < plan.count && follows != 0; ++k) {
                const Entry& u = m_entries[std::size_t(k)];
                if (!u.schedule.pending && u.mixes && u.voice->id() == follows)
                    anchor = &u;
            }
            for (int k = 0; k < plan.count && !anchor; ++k) {
                const Entry& u = m_entries[std::size_t(k)];
                if (u.schedule.pending || !u.mixes)
                    continue;
                const std::int64_t distance = std::abs(blockStart + u.pull.remaining - asked);
                if (distance < best) {
                    best = distance;
                    anchor = &u;
                }
            }
            if (!anchor)
                start = asked;
            else if (anchor->pull.ends && !anchor->pull.starving)
                start = e.resolvedAt = blockStart + std::int64_t(anchor->pull.frames);
        }
        if (!start || *start >= blockEnd) {
            plan.waiting = true;
            continue;
        }
        // A time already past starts at once.
        e.offset = std::size_t(std::max<std::int64_t>(*start - blockStart, 0));
        e.pull = e.voice->pull(limit - e.offset, m_format);
        e.mixes = true;
        e.starts = true;
    }
    bool allEnding = !plan.waiting;
    plan.frames = 0;
    for (int i = 0; i < plan.count; ++i) {
        const Entry& e = m_entries[std::size_t(i)];
        if (!e.mixes)
            continue;
        plan.starving = plan.starving || e.pull.starving;
        plan.ready = plan.ready || (!e.pull.starving && e.pull.frames > 0);
        plan.startStarving = plan.startStarving || (e.starts && e.pull.starving);
        allEnding = allEnding && e.pull.ends;
        plan.frames = std::max(plan.frames, e.offset + e.pull.frames);
    }
    // When every voice is at its end, the stream ends with the longest one
    // instead of padding the block with silence; otherwise the block is whole
    // (silence before a scheduled start keeps the device clock going).
    if (!allEnding)
        plan.frames = limit;
    return plan;
}

void OutputEngine::commitStarts(const MixPlan& plan) {
    for (int i = 0; i < plan.count; ++i) {
        const Entry& e = m_entries[std::size_t(i)];
        if (e.starts) {
            e.voice->startedFor(e.schedule.tag);
            m_resolved[e.slot] = Resolved{}; // acted on; never to be matched again
        } else if (e.resolvedAt >= 0) {
            m_resolved[e.slot] = Resolved{e.voice->id(), e.schedule.tag, e.resolvedAt};
        }
    }
}

double OutputEngine::endHeardCheck(double now) {
    // Marked as a cycle: the voices are touched.
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
    double next = std::numeric_limits<double>::infinity();
    for (auto& slot : m_voices) {
        Voice* v = slot.load(std::memory_order_acquire);
        if (!v)
            continue;
        v->meterHeard(now);
        v->endIfHeard(now);
        next = std::min(next, v->pendingEndAt());
    }
    m_cycle.fetch_add(1, std::memory_order_acq_rel);
    return next;
}

void OutputEngine::waitOnSink(std::uint32_t seen, WakeSignal::Waiting kind, std::int64_t frames,
                              double seconds) {
    if (!m_wake.beginWait(seen, kind))
        return;
    const int ms = seconds < 0 || !std::isfinite(seconds)
                       ? -1
                       : int(std::clamp(std::ceil(seconds * 1000.0), 0.0, 60000.0));
    if (m_open) {
        m_sink->wait(frames, ms, m_wake.fd());
    } else {
        pollfd fd{m_wake.fd(), POLLIN, 0};
        ::poll(&fd, 1, ms);
    }
    m_wake.endWait();
}

bool OutputEngine::writePending() {
    const int frameBytes = m_format.bytesPerFrame();
    const std::int64_t put =
        m_sink->write(m_bytes.data() + m_pendingFrom * frameBytes, m_pendingFrames);
    if (put < 0) {
        deviceLost();
        return false;
    }
    m_written += put;
    m_pendingFrom += put;
    m_pendingFrames -= put;
    return true;
}

void OutputEngine::mixAndWrite(const MixPlan& plan) {
    const int ch = m_format.channels;
    const std::size_t frames = plan.frames;
    std::fill(m_mix.begin(), m_mix.begin() + std::ptrdiff_t(frames * std::size_t(ch)), 0.0);
    for (int i = 0; i < plan.count; ++i) {
        const Entry& e = m_entries[std::size_t(i)];
        if (!e.mixes)
            continue;
        const std::int64_t at = m_written + std::int64_t(e.offset);
        const double heardAt =
            m_clockBase + double(at + std::int64_t(e.pull.frames)) / m_format.rate;
        e.voice->mix(m_mix.data() + e.offset * std::size_t(ch), e.pull.frames, ch, at, heardAt);
        // The end is reported once the device has played this frame.
        if (e.pull.ends)
            e.voice->mixedToEnd(heardAt, e.pull.failed);
    }
    commitStarts(plan);
    m_cycle.fetch_add(1, std::memory_order_acq_rel); // even: the voices are free again
    if (frames == 0)
        return;
    encodeSamples(m_mix.data(), frames * std::size_t(ch), m_format.sample, m_bytes.data(),
                  &m_dither);
    m_pendingFrom = 0;
    m_pendingFrames = std::int64_t(frames);
    writePending();
}

void OutputEngine::feederLoop() {
    // Named so that profilers, and the tests that watch this thread, find it.
    pthread_setname_np(pthread_self(), "ql-feeder");
    using Waiting = WakeSignal::Waiting;
    // A bound on every wait while something plays, in case a device's poll
    // never answers; with nothing to play (or the device lost) only news
    // ends a wait.
    constexpr double kMaxWait = 0.1;

    for (;;) {
        // The news counter first, the stop after it: a stop asked for in
        // between has raised the counter past `seen`, so no wait below
        // sleeps through it. The other way round, a stop that came between
        // the two looked like old news, and a wait with no bound (nothing
        // playing) never ended: the main thread hung joining this one.
        const std::uint32_t seen = m_wake.count();
        if (m_stop.load(std::memory_order_acquire))
            break;
        if (m_lost.load(std::memory_order_relaxed)) {
            waitOnSink(seen, Waiting::ForRoom, 0, -1);
            continue;
        }
        const SinkReport report = m_sink->report();
        if (report.lost) {
            deviceLost();
            continue;
        }
        publishClock(report);
        const double now = m_clock.load(std::memory_order_relaxed);
        const double nextEnd = endHeardCheck(now);
        const double untilEnd = std::clamp(nextEnd - now, 0.0, kMaxWait);
        // The device played out everything it had while something was to be
        // heard (not the end of the last track, nor a track that starts the
        // moment the one before it was heard to its end): an under-run.
        if (report.queuedFrames == 0 && m_wasRunning && !m_sinkPaused && !m_endWaiting &&
            !std::isfinite(nextEnd) && anyVoiceRunning())
            m_underruns.fetch_add(1, std::memory_order_relaxed);
        m_wasRunning = report.queuedFrames > 0;
        m_deviceRan = m_deviceRan || m_wasRunning;

        if (m_pendingFrames > 0) {
            if (report.freeFrames <= 0)
                waitOnSink(seen, Waiting::ForRoom, m_pendingFrames, untilEnd);
            else
                writePending();
            continue;
        }

        if (!anyVoiceRunning()) {
            m_endWaiting = false;
            // Nothing to play: what the device holds (the end of a fade-out)
            // plays out, then the device stops until a voice runs again.
            if (!m_sinkPaused && report.queuedFrames > 0) {
                m_sink->start();
                waitOnSink(seen, Waiting::ForRoom, 0,
                           std::min(double(report.queuedFrames) / m_format.rate, kMaxWait));
                continue;
            }
            if (!m_sinkPaused) {
                // Nothing of ours is queued: whatever a sound server still
                // holds plays out while we are paused, so it counts as heard.
                publishClock(SinkReport{});
                m_sink->pause(true);
                m_sinkPaused = true;
            }
            waitOnSink(seen, Waiting::ForRoom, 0, -1);
            continue;
        }
        if (m_sinkPaused) {
            m_sink->pause(false);
            m_sinkPaused = false;
            continue;
        }
        const auto limit = std::size_t(std::min<std::int64_t>(
            std::int64_t(kBlockFrames), std::max<std::int64_t>(report.freeFrames, 0)));
        // Wait for a whole block of room, or half of what the sink holds when
        // its buffer is smaller than a block.
        const std::size_t room = std::min<std::size_t>(
            kBlockFrames, std::size_t(report.freeFrames + report.queuedFrames) / 2);
        if (limit == 0 || limit < room) {
            waitOnSink(seen, Waiting::ForRoom, std::int64_t(std::max<std::size_t>(room, 1)),
                       std::isfinite(nextEnd) ? untilEnd : kMaxWait);
            continue;
        }

        m_cycle.fetch_add(1, std::memory_order_acq_rel); // odd: the voices are in use
        const MixPlan plan = planBlock(limit);
        // Less than a quarter of the buffer left on a device that plays in
        // time (never a start that would open a gap: a join waits).
        const bool runningDry =
            m_deviceRan && report.queuedFrames * 4 < report.freeFrames + report.queuedFrames;
        if (plan.count == 0 ||
            (plan.starving && !(plan.ready && runningDry && !plan.startStarving))) {
            m_cycle.fetch_add(1, std::memory_order_acq_rel);
            // With other voices ready, look again when the device is about
            // to run dry (or when data comes).
            const std::int64_t total = report.freeFrames + report.queuedFrames;
            waitOnSink(seen, Waiting::ForData,
                       plan.ready && m_deviceRan ? total - total / 4 + 1 : 0,
                       std::isfinite(nextEnd) ? untilEnd : kMaxWait);
            continue;
        }
        mixAndWrite(plan);
        if (plan.frames > 0)
            m_endWaiting = false;
        if (plan.frames == 0) {
            // Every voice has had its last frame mixed: what is queued is
            // played out (even less than the device waits for before it
            // starts), and the ends are reported as the clock passes them.
            if (!std::exchange(m_endWaiting, true))
                m_endWaits.fetch_add(1, std::memory_order_relaxed);
            m_sink->start();
            const double end = endHeardCheck(now);
            double wait = std::isfinite(end) ? std::clamp(end - now, 0.0, kMaxWait) : kMaxWait;
            // Look again once our queue should have drained: the moment it
            // is seen empty is where the end rule in publishClock counts
            // the device's last delay from, so a look a whole delay late
            // (a sound server reports its cycle, not its progress in it)
            // would hold the end, and the next track, back by as much.
            if (report.queuedFrames > 0)
                wait = std::min(wait, double(report.queuedFrames) / m_format.rate);
            waitOnSink(seen, Waiting::ForRoom, 0, wait);
        }
    }
}

} // namespace ql::platform
