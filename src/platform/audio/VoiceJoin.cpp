// Voice's part in a gapless join of converted voices (see "Joins" in
// Voice.h): linking a follower to the voice before it, and handing the
// stages over at the end of the file.
#include "platform/audio/Voice.h"

#include "platform/audio/Resampler.h"
#include "platform/audio/TimeStretch.h"

#include <cmath>

namespace ql::platform {

// ---- main thread ---------------------------------------------------------------

bool Voice::canFollow(const Voice& before) const {
    const StreamFormat f = before.format();
    const bool staged = std::abs(f.rate - m_sourceRate) > 1e-9 || m_speed != 1.0;
    return &before != this && staged && before.m_sourceRate == m_sourceRate &&
           before.m_sourceChannels == m_sourceChannels && before.m_speed == m_speed &&
           f == m_format && before.isStarted() && isStarted();
}

void Voice::continueAfter(Voice& before) {
    auto handover = std::make_shared<StageHandover>(before.id());
    retargetWith(m_format, std::int64_t(std::llround(position())), handover);
    before.offerStages(std::move(handover));
}

void Voice::offerStages(std::shared_ptr<StageHandover> handover) {
    {
        std::lock_guard lock(m_requestMutex);
        // The stages of the segment playing now, while they are unflushed.
        if (m_quit || m_openTail != m_serial) {
            handover->decline();
            return;
        }
        if (m_handTo)
            m_handTo->decline();
        m_handTo = std::move(handover);
        m_handToSerial = m_serial;
    }
    wakeDecoder(); // a decoder holding the tail gives it now
}

// ---- decoder thread ------------------------------------------------------------

bool Voice::awaitStages() {
    StageHandover::Stages stages;
    if (m_current.handover->take(stages, &m_wake) == StageHandover::State::Waiting)
        return false;
    m_awaitingStages = false;
    setUpSegment(std::move(stages));
    return true;
}

void Voice::leaveHandover() {
    if (m_current.handover)
        m_current.handover->decline();
    m_current.handover.reset();
}

// At the end of the file, with stages that hold a tail: keep them while the
// ring holds more than kTailHold (a follower may still come, or one that
// came may still be taken back: its tail would then be lost), then hand them
// to a follower that asked, else flush them here.
Voice::Tail Voice::settleTail() {
    std::shared_ptr<StageHandover> to;
    {
        std::lock_guard lock(m_requestMutex);
        if (m_handTo && m_handToSerial == m_current.serial)
            to = m_handTo;
        const std::size_t ch = std::size_t(std::max(m_current.format.channels, 1));
        const std::size_t hold = std::size_t(kTailHold * m_current.format.rate) * ch;
        const std::size_t filled = m_ring.capacity() - m_ring.freeSpace();
        if (!m_quit && filled > hold) {
            // The feeder wakes this thread once the ring is down to `hold`.
            m_decoderNeed.store(m_ring.capacity() - hold, std::memory_order_relaxed);
            return Tail::Hold;
        }
        m_openTail = 0;
        m_handTo.reset();
    }
    if (to) {
        StageHandover::Stages s{std::move(m_resampler), std::move(m_stretch),
                                m_segIn * m_outPerIn - double(m_segOut)};
        if (to->give(s))
            return Tail::Handed;
        m_resampler = std::move(s.resampler);
        m_stretch = std::move(s.stretch);
    }
    return Tail::Drain;
}

} // namespace ql::platform
