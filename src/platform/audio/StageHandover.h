// The rate converter and time-stretcher of a voice whose file has been read
// to its end, passed to the voice that follows it without a gap.
//
// A converter (and a stretcher) holds the last few milliseconds of what it
// was given: its filter needs the samples after them. A voice that flushes
// them pads its end with silence and the next voice starts from empty
// history, so the join of two halves of one signal differs from the signal
// converted whole (a faint tick at every join of a 44.1 kHz album on a
// 48 kHz stream). Instead, the voice that ends hands its stages over, and the
// one that follows feeds its first samples into them: the held-back tail
// comes out at the start of the follower's output, and the two outputs
// joined are the conversion of the joined signal.
//
// Protocol (both sides are decoder threads, or the main thread; never a
// feeder): the follower creates the handover and asks for the stages
// (take); the voice before it, once its file is read to the end, gives them
// (give) or, when it cannot wait any longer for a follower, flushes them
// itself and declines. Either side may decline while the stages are still
// unclaimed; a declined handover leaves the follower with fresh stages.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace ql::platform {

class Resampler;
class TimeStretch;

class StageHandover {
public:
    struct Stages {
        std::unique_ptr<Resampler> resampler;
        std::unique_ptr<TimeStretch> stretch;
        // Stream frames the given input still owes: the tail the stages hold.
        double owed = 0;
    };
    enum class State { Waiting, Given, Declined };

    // `fromVoice`: the id of the voice that is to give.
    explicit StageHandover(std::uint64_t fromVoice);
    ~StageHandover();
    StageHandover(const StageHandover&) = delete;
    StageHandover& operator=(const StageHandover&) = delete;

    std::uint64_t fromVoice() const { return m_from; }

    // The voice before: moves `stages` over when the follower still waits
    // for them (true); otherwise leaves them where they are.
    bool give(Stages& stages);
    // The follower: Given moves the stages into `into`; Waiting registers
    // `wake` (its decoder's wake word), raised when the answer comes.
    State take(Stages& into, std::atomic<std::uint32_t>* wake);
    // No handover (from either side); the follower's wake word is raised.
    void decline();

private:
    void raise();

    const std::uint64_t m_from;
    std::mutex m_mutex;
    State m_state = State::Waiting;
    Stages m_stages;
    std::atomic<std::uint32_t>* m_wake = nullptr;
};

} // namespace ql::platform
