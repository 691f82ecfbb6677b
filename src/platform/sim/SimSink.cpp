#include "platform/sim/SimSink.h"

#include "platform/audio/SampleCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <poll.h>

namespace ql::platform {

SimSinkControl::SimSinkControl(SimClock clock, std::int64_t recordCapacityBytes,
                               std::int64_t bufferFrames, SimCapture capture)
    : clock(clock), bufferFrames(std::max<std::int64_t>(bufferFrames, 64)), capture(capture),
      m_record(std::size_t(std::max<std::int64_t>(recordCapacityBytes, 0))) {}

template <typename F> void SimSinkControl::forEachSample(int session, F&& f) const {
    if (m_sessions.empty())
        return;
    const std::size_t s = session < 0 ? m_sessions.size() - 1 : std::size_t(session);
    if (s >= m_sessions.size())
        return;
    const StreamFormat& fmt = m_sessions[s].format;
    const std::int64_t begin = m_sessions[s].firstByte;
    const std::int64_t end =
        s + 1 < m_sessions.size() ? m_sessions[s + 1].firstByte : m_recordedBytes.load();
    const int step = bytesPerSample(fmt.sample);
    for (std::int64_t b = begin; b + step <= end; b += step)
        f(m_record.data() + b, fmt.sample);
}

std::vector<std::int32_t> SimSinkControl::recordedInt32(int session) const {
    std::vector<std::int32_t> out;
    forEachSample(session, [&out](const unsigned char* p, SampleFormat f) {
        out.push_back(decodeSampleInt32(p, f));
    });
    return out;
}

std::vector<double> SimSinkControl::recordedDouble(int session) const {
    std::vector<double> out;
    forEachSample(session, [&out](const unsigned char* p, SampleFormat f) {
        out.push_back(decodeSample(p, f));
    });
    return out;
}

SimSink::SimSink(std::shared_ptr<SimSinkControl> control) : m_control(std::move(control)) {}

SimSink::~SimSink() {
    close();
}

bool SimSink::open(const StreamFormat& format, QString& error) {
    close();
    if (m_control->failOpen.load()) {
        error = QStringLiteral("The simulated output device could not be opened.");
        return false;
    }
    if (format.channels <= 0 || !(format.rate > 0)) {
        error = QStringLiteral("The simulated output device has no usable stream format.");
        return false;
    }
    // A session starts on a whole frame of its own format.
    m_control->m_sessions.push_back({format, m_control->m_recordedBytes.load()});
    m_format = format;
    m_isOpen = true;
    m_paused = false;
    m_started = false;
    m_written = 0;
    m_played = 0;
    m_fraction = 0;
    m_queuePlayed = m_ranOut = false;
    const bool queues =
        m_control->capture == SimCapture::Heard && m_control->clock != SimClock::Untimed;
    m_queue.assign(queues ? std::size_t(m_control->bufferFrames * format.bytesPerFrame()) : 0, 0);
    m_lastTick = std::chrono::steady_clock::now();
    m_manualSeen = m_control->m_manualFrames.load();
    m_control->m_open.store(true);
    m_control->m_paused.store(false);
    return true;
}

void SimSink::record(const unsigned char* data, std::int64_t frames) {
    const int bpf = m_format.bytesPerFrame();
    const std::int64_t at = m_control->m_recordedBytes.load();
    const std::int64_t room = std::int64_t(m_control->m_record.size()) - at;
    const std::int64_t keep = std::min(frames * bpf, room - room % bpf);
    if (keep <= 0)
        return;
    if (data)
        std::memcpy(m_control->m_record.data() + at, data, std::size_t(keep));
    else
        std::memset(m_control->m_record.data() + at, 0, std::size_t(keep));
    m_control->m_recordedBytes.store(at + keep, std::memory_order_release);
}

// The device clock moves on by `frames`: queued frames are heard first, then,
// on a stream that ran dry, silence.
void SimSink::play(std::int64_t frames) {
    const std::int64_t fromQueue = std::min(frames, queued());
    if (!m_queue.empty()) {
        const int bpf = m_format.bytesPerFrame();
        const std::int64_t cap = m_control->bufferFrames;
        for (std::int64_t done = 0; done < fromQueue;) {
            const std::int64_t at = (m_played + done) % cap;
            const std::int64_t run = std::min(fromQueue - done, cap - at);
            record(m_queue.data() + at * bpf, run);
            done += run;
        }
    }
    m_played += fromQueue;
    m_queuePlayed = m_queuePlayed || fromQueue > 0;
    m_ranOut = m_ranOut || (m_queuePlayed && frames > fromQueue);
    if (frames > fromQueue && m_control->capture == SimCapture::Heard)
        record(nullptr, frames - fromQueue);
    m_control->m_framesHeard.fetch_add(frames);
}

void SimSink::advanceClock() {
    switch (m_control->clock) {
    case SimClock::RealTime: {
        const auto now = std::chrono::steady_clock::now();
        const double delta =
            std::chrono::duration<double>(now - m_lastTick).count() * m_format.rate + m_fraction;
        m_lastTick = now;
        // Time that passes while paused, or before the first frame, plays
        // nothing; a sound server goes on playing silence meanwhile.
        if (m_paused || !m_started || !(delta > 0)) {
            if (m_paused && m_control->serverLatencyFrames > 0 && delta >= 1 &&
                m_control->capture == SimCapture::Heard) {
                const auto whole = std::int64_t(delta);
                record(nullptr, whole);
                m_control->m_framesHeard.fetch_add(whole);
                m_fraction = delta - double(whole);
                break;
            }
            m_fraction = 0;
            break;
        }
        const auto whole = std::int64_t(delta);
        m_fraction = delta - double(whole);
        play(whole);
        break;
    }
    case SimClock::Manual: {
        // The test hands out frames to play; what cannot be played yet (the
        // queue is short, or the device is paused) is kept for later.
        if (m_paused)
            break;
        const std::int64_t total = m_control->m_manualFrames.load();
        const auto take = std::min<std::int64_t>(total - m_manualSeen, queued());
        if (take > 0) {
            play(take);
            m_manualSeen += take;
        }
        break;
    }
    case SimClock::Untimed:
        play(queued());
        break;
    }
}

std::int64_t SimSink::write(const void* data, std::int64_t frames) {
    if (!m_isOpen || frames <= 0)
        return 0;
    m_control->m_writer.store(std::this_thread::get_id());
    advanceClock();
    const std::int64_t lose = m_control->loseAfterFrames.load();
    const std::int64_t total = m_control->m_framesWritten.load();
    if ((lose >= 0 && total >= lose) || m_control->loseAtReport.load())
        return -1;
    std::int64_t n = frames;
    if (m_control->clock != SimClock::Untimed)
        n = std::min(n, std::max<std::int64_t>(m_control->bufferFrames - queued(), 0));
    if (m_paused && m_control->noHardwarePause.load())
        n = 0;
    if (lose >= 0)
        n = std::min(n, lose - total);
    if (n <= 0)
        return 0;

    const auto* bytes = static_cast<const unsigned char*>(data);
    const int bpf = m_format.bytesPerFrame();
    if (m_queue.empty()) {
        // Written capture, or an untimed device (which plays it at once).
        record(bytes, n);
    } else {
        const std::int64_t cap = m_control->bufferFrames;
        for (std::int64_t done = 0; done < n;) {
            const std::int64_t at = (m_written + done) % cap;
            const std::int64_t run = std::min(n - done, cap - at);
            std::memcpy(m_queue.data() + at * bpf, bytes + done * bpf, std::size_t(run * bpf));
            done += run;
        }
    }
    if (!m_started) {
        m_started = true;
        m_lastTick = std::chrono::steady_clock::now();
    }
    if (std::exchange(m_ranOut, false))
        m_control->m_dropouts.fetch_add(1);
    m_written += n;
    m_control->m_framesWritten.fetch_add(n);
    publishQueued();
    if (m_control->clock == SimClock::Untimed)
        play(queued());
    return n;
}

SinkReport SimSink::report() {
    SinkReport r;
    if (!m_isOpen)
        return r;
    if (m_control->loseAtReport.load()) {
        r.lost = true;
        return r;
    }
    advanceClock();
    r.queuedFrames = queued();
    std::int64_t delay = std::max(r.queuedFrames, m_control->serverLatencyFrames.load());
    if (const std::int64_t wobble = m_control->serverLatencyWobbleFrames.load();
        wobble > 0 && delay > r.queuedFrames) {
        m_wobbleLow = !m_wobbleLow;
        if (m_wobbleLow)
            delay -= std::min(wobble, delay - r.queuedFrames);
    }
    r.delay = double(delay) / m_format.rate;
    r.running = !m_paused && r.queuedFrames > 0;
    r.freeFrames = m_control->clock == SimClock::Untimed
                       ? m_control->bufferFrames
                       : std::max<std::int64_t>(m_control->bufferFrames - r.queuedFrames, 0);
    if (m_paused && m_control->noHardwarePause.load())
        r.freeFrames = 0;
    publishQueued();
    return r;
}

void SimSink::pause(bool paused) {
    if (!m_isOpen || paused == m_paused)
        return;
    advanceClock();
    m_paused = paused;
    m_queuePlayed = m_ranOut = false;
    m_lastTick = std::chrono::steady_clock::now();
    m_control->m_paused.store(paused);
}

bool SimSink::canPause() const {
    return !m_control->noHardwarePause.load();
}

void SimSink::drop() {
    if (!m_isOpen)
        return;
    advanceClock();
    // A drop comes while sound is due (a seek, a pause, a stop): silence
    // played before it was a gap in the sound too.
    if (m_ranOut)
        m_control->m_dropouts.fetch_add(1);
    m_played = m_written;
    m_started = false;
    m_fraction = 0;
    m_paused = false;
    m_queuePlayed = m_ranOut = false;
    m_control->m_paused.store(false);
    m_control->m_drops.fetch_add(1);
    publishQueued();
}

std::int64_t SimSink::rewind(std::int64_t frames) {
    // Only a queue of frames not heard yet can be taken back (frames recorded
    // as written, or played at once, are out of reach).
    if (!m_isOpen || m_queue.empty() || frames <= 0 || m_control->serverLatencyFrames > 0)
        return 0;
    advanceClock();
    const std::int64_t n = std::min(frames, queued());
    m_written -= n;
    publishQueued();
    return n;
}

void SimSink::drain(int timeoutMs) {
    if (!m_isOpen)
        return;
    advanceClock();
    // A real-time device takes the time the queue lasts; a manual one plays
    // it out at once (the test's clock has no say in a drain).
    if (m_control->clock == SimClock::RealTime && !m_paused) {
        const double seconds =
            std::min(double(queued()) / m_format.rate, std::max(timeoutMs, 0) / 1000.0);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        advanceClock();
    } else if (!m_paused) {
        play(queued());
    }
    m_played = m_written;
    m_started = false;
    m_queuePlayed = m_ranOut = false;
    publishQueued();
}

void SimSink::wait(std::int64_t frames, int timeoutMs, int wakeFd) {
    int ms = timeoutMs < 0 ? -1 : timeoutMs;
    const bool room = frames > 0 && m_isOpen && !m_paused;
    if (room && m_control->clock == SimClock::RealTime && m_started) {
        // Like a card woken a period (a quarter of the buffer) at a time:
        // the time the clock takes to free that much.
        const std::int64_t want =
            std::min(std::max(frames, m_control->bufferFrames / 4), m_control->bufferFrames);
        const std::int64_t missing =
            want - std::max<std::int64_t>(m_control->bufferFrames - queued(), 0);
        const auto toRoom =
            int(std::ceil(double(std::max<std::int64_t>(missing, 0)) * 1000.0 / m_format.rate));
        ms = ms < 0 ? toRoom : std::min(ms, toRoom);
    } else if (room && m_control->clock == SimClock::Untimed) {
        ms = 0;
    } else if (m_isOpen && m_control->clock == SimClock::Manual && queued() > 0) {
        // The test moves this clock without telling anyone: look again soon.
        ms = ms < 0 ? 1 : std::min(ms, 1);
    }
    if (ms == 0)
        return;
    pollfd fd{wakeFd, POLLIN, 0};
    ::poll(&fd, wakeFd >= 0 ? 1 : 0, ms < 0 && wakeFd < 0 ? 10 : ms);
}

void SimSink::close() {
    if (!m_isOpen)
        return;
    // What is still queued is never heard.
    advanceClock();
    m_isOpen = false;
    m_control->m_open.store(false);
    publishQueued();
}

} // namespace ql::platform
