#include "platform/audio/StageHandover.h"

#include "platform/audio/Resampler.h"
#include "platform/audio/TimeStretch.h"

namespace ql::platform {

StageHandover::StageHandover(std::uint64_t fromVoice) : m_from(fromVoice) {}

StageHandover::~StageHandover() = default;

void StageHandover::raise() {
    if (!m_wake)
        return;
    m_wake->fetch_add(1, std::memory_order_release);
    m_wake->notify_one();
}

bool StageHandover::give(Stages& stages) {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Waiting)
        return false;
    m_stages = std::move(stages);
    m_state = State::Given;
    raise();
    return true;
}

StageHandover::State StageHandover::take(Stages& into, std::atomic<std::uint32_t>* wake) {
    std::lock_guard lock(m_mutex);
    m_wake = wake;
    if (m_state == State::Given) {
        into = std::move(m_stages);
        m_stages = Stages{};
        // Taken once; a later take (a new segment of the follower) starts fresh.
        m_state = State::Declined;
        m_wake = nullptr;
        return State::Given;
    }
    return m_state;
}

void StageHandover::decline() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Waiting)
        m_state = State::Declined;
    // Stages given but never taken (the follower went away) go with it.
    m_stages = Stages{};
    raise();
    m_wake = nullptr;
}

} // namespace ql::platform
