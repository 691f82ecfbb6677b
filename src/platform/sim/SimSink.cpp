#include "platform/sim/SimSink.h"

#include "platform/audio/SampleCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ql::platform {

SimSinkControl::SimSinkControl(SimClock clock, std::int64_t recordCapacityBytes,
                               std::int64_t bufferFrames)
    : clock(clock), bufferFrames(std::max<std::int64_t>(bufferFrames, 64)),
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
    m_written = 0;
    m_played = 0;
    m_lastTick = std::chrono::steady_clock::now();
    m_manualSeen = m_control->m_manualFrames.load();
    m_control->m_open.store(true);
    m_control->m_paused.store(false);
    return true;
}

void SimSink::advanceClock() {
    const double queued = double(m_written) - m_played;
    switch (m_control->clock) {
    case SimClock::RealTime: {
        const auto now = std::chrono::steady_clock::now();
        const double delta =
            std::chrono::duration<double>(now - m_lastTick).count() * m_format.rate;
        m_lastTick = now;
        // Time that passes while paused or starved plays nothing.
        if (!m_paused)
            m_played += std::min(std::max(delta, 0.0), queued);
        break;
    }
    case SimClock::Manual: {
        // The test hands out frames to play; what cannot be played yet (the
        // queue is short, or the device is paused) is kept for later.
        if (m_paused)
            break;
        const std::int64_t total = m_control->m_manualFrames.load();
        const auto take = std::min<std::int64_t>(total - m_manualSeen, std::int64_t(queued));
        if (take > 0) {
            m_played += double(take);
            m_manualSeen += take;
        }
        break;
    }
    case SimClock::Untimed:
        m_played = double(m_written);
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
    if (m_control->clock != SimClock::Untimed) {
        const auto queued = std::int64_t(std::ceil(double(m_written) - m_played));
        n = std::min(n, std::max<std::int64_t>(m_control->bufferFrames - queued, 0));
    }
    if (lose >= 0)
        n = std::min(n, lose - total);

    const std::int64_t bytes = n * m_format.bytesPerFrame();
    const std::int64_t at = m_control->m_recordedBytes.load();
    const std::int64_t room = std::int64_t(m_control->m_record.size()) - at;
    const std::int64_t keep = std::min(bytes, room - room % m_format.bytesPerFrame());
    if (keep > 0) {
        std::memcpy(m_control->m_record.data() + at, data, std::size_t(keep));
        m_control->m_recordedBytes.store(at + keep, std::memory_order_release);
    }
    m_written += n;
    m_control->m_framesWritten.fetch_add(n);
    if (m_control->clock == SimClock::Untimed)
        m_played = double(m_written);
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
    const double queued = double(m_written) - m_played;
    r.queuedFrames = std::int64_t(std::ceil(queued));
    r.delay = queued / m_format.rate;
    r.running = !m_paused && queued > 0;
    r.freeFrames = m_control->clock == SimClock::Untimed
                       ? m_control->bufferFrames
                       : std::max<std::int64_t>(m_control->bufferFrames - r.queuedFrames, 0);
    if (m_paused && m_control->noHardwarePause.load())
        r.freeFrames = 0;
    return r;
}

void SimSink::pause(bool paused) {
    if (!m_isOpen || paused == m_paused)
        return;
    advanceClock();
    m_paused = paused;
    m_control->m_paused.store(paused);
}

void SimSink::close() {
    if (!m_isOpen)
        return;
    m_isOpen = false;
    m_control->m_open.store(false);
}

} // namespace ql::platform
