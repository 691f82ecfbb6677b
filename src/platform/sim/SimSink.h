// The simulated device's sink: a model of a sound card that keeps time,
// records what it plays, and can be told to fail like a real one.
//
// Clocks:
//  - RealTime: plays `bufferFrames` of queue at the stream rate against the
//    steady clock, like a card (used on machines without one); a stream that
//    runs out of frames plays silence until more come;
//  - Manual: plays only the frames the test hands out with advance() (frames
//    handed out with nothing queued wait for frames: it never runs dry);
//  - Untimed: plays everything at once, so the engine runs as fast as it can
//    (throughput benchmarks, long files in tests).
//
// Capture: by default the recording holds the frames as the device clock
// plays them (what a listener hears): frames still queued when the stream is
// dropped, closed or rewound are never recorded, a paused stream records nothing, and
// a RealTime stream that starves records silence. SimCapture::Written records
// frames when the engine writes them instead, for the tests that look at
// what the engine produced rather than at what was heard.
//
// The sink is owned by its output engine; the test or rig keeps the shared
// SimSinkControl to set switches, move the manual clock and read what was
// recorded. Recording goes into memory reserved up front (recordCapacityBytes),
// so the feeder thread never allocates; frames beyond it are counted, not kept.
//
// Threads: the switches, advance() and the counters are atomics, safe from any
// thread. sessions() and the recorded* readers are for the test's thread once
// the engine has stopped writing (or for frames already counted).
#pragma once

#include "platform/AudioSink.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace ql::platform {

enum class SimClock { RealTime, Manual, Untimed };
enum class SimCapture { Heard, Written };

class SimSinkControl {
public:
    explicit SimSinkControl(SimClock clock = SimClock::RealTime,
                            std::int64_t recordCapacityBytes = 0, std::int64_t bufferFrames = 4096,
                            SimCapture capture = SimCapture::Heard);

    const SimClock clock;
    const std::int64_t bufferFrames;
    const SimCapture capture;

    // Failure switches.
    std::atomic<bool> failOpen{false};
    // The device vanishes once this many frames were accepted in total (-1: never).
    std::atomic<std::int64_t> loseAfterFrames{-1};
    // The device vanishes and the sink first notices it in report().
    std::atomic<bool> loseAtReport{false};
    // Like a card without hardware pause: paused, it takes no frames.
    std::atomic<bool> noHardwarePause{false};
    // Above 0, the device behaves as a sound server's shared device: its
    // reported delay never falls below this many frames, so once its queue
    // has played out the delay stays put (the server's own latency, which
    // never runs down), and it cannot give frames back (rewind takes none).
    std::atomic<std::int64_t> serverLatencyFrames{0};
    // A server that interpolates that latency within its cycles: every other
    // report gives it up to this many frames lower (0: it stays put).
    std::atomic<std::int64_t> serverLatencyWobbleFrames{0};

    // Manual clock: lets the device play `frames` more frames, as soon as
    // they are queued.
    void advance(std::int64_t frames) { m_manualFrames.fetch_add(frames); }

    // One stream as opened: its format and where its bytes start in the recording.
    struct Session {
        StreamFormat format;
        std::int64_t firstByte = 0;
    };
    const std::vector<Session>& sessions() const { return m_sessions; }
    int opens() const { return int(m_sessions.size()); }
    bool isOpen() const { return m_open.load(); }
    bool isPaused() const { return m_paused.load(); }
    // Frames accepted over every session, recorded or not.
    std::int64_t framesWritten() const { return m_framesWritten.load(); }
    // Frames the device clock played over every session, silence included.
    std::int64_t framesHeard() const { return m_framesHeard.load(); }
    // Frames queued and not played yet, as of the sink's last call.
    std::int64_t queuedFrames() const { return m_queued.load(); }
    // Queues discarded by a drop (not counting close).
    int drops() const { return m_drops.load(); }
    // Times a RealTime clock played its queue out and went on in silence,
    // then got frames again, or had its queue dropped (a seek, a pause or a
    // stop asked while sound was due), with no pause in between: a gap
    // heard inside the sound, which the engine may not have seen (the clock
    // can run out and be fed between two of its looks).
    std::int64_t dropouts() const { return m_dropouts.load(); }
    // The thread that wrote last (the engine's feeder).
    std::thread::id writerThread() const { return m_writer.load(); }

    // The recorded samples of one session, interleaved: as integers scaled to
    // 32 bits (a 16-bit sample s reads s << 16, the exact form of every
    // integer format; F32 samples are scaled by 2^31 and must be whole), or as
    // doubles at full scale ±1.
    std::vector<std::int32_t> recordedInt32(int session = -1) const;
    std::vector<double> recordedDouble(int session = -1) const;

private:
    friend class SimSink;
    std::vector<unsigned char> m_record; // reserved once, written by the feeder
    std::atomic<std::int64_t> m_recordedBytes{0};
    std::vector<Session> m_sessions; // changed at open (feeder stopped)
    std::atomic<std::int64_t> m_framesWritten{0};
    std::atomic<std::int64_t> m_framesHeard{0};
    std::atomic<std::int64_t> m_queued{0};
    std::atomic<int> m_drops{0};
    std::atomic<std::int64_t> m_dropouts{0};
    std::atomic<std::int64_t> m_manualFrames{0};
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_paused{false};
    std::atomic<std::thread::id> m_writer{};

    template <typename F> void forEachSample(int session, F&& f) const;
};

class SimSink final : public AudioSink {
public:
    explicit SimSink(std::shared_ptr<SimSinkControl> control);
    ~SimSink() override;

    bool open(const StreamFormat& format, QString& error) override;
    std::int64_t write(const void* data, std::int64_t frames) override;
    SinkReport report() override;
    void pause(bool paused) override;
    bool canPause() const override;
    void drop() override;
    std::int64_t rewind(std::int64_t frames) override;
    void start() override {}
    void drain(int timeoutMs) override;
    void wait(std::int64_t frames, int timeoutMs, int wakeFd) override;
    void close() override;

private:
    void advanceClock();
    void play(std::int64_t frames);
    void record(const unsigned char* data, std::int64_t frames);
    std::int64_t queued() const { return m_written - m_played; }
    void publishQueued() { m_control->m_queued.store(m_isOpen ? queued() : 0); }

    std::shared_ptr<SimSinkControl> m_control;
    StreamFormat m_format;
    bool m_isOpen = false;
    bool m_paused = false;
    bool m_started = false; // a RealTime stream runs from its first frame on
    // Feeder-thread state: frames queued and played in this session, and the
    // queue itself (a ring of bufferFrames frames, made at open).
    std::int64_t m_written = 0;
    std::int64_t m_played = 0;
    double m_fraction = 0;    // of a frame, carried between RealTime ticks
    bool m_wobbleLow = false; // the last report's latency was the lower one
    // Since the last open, pause or drop: frames were played from the queue,
    // and after them silence for want of more (see dropouts()).
    bool m_queuePlayed = false, m_ranOut = false;
    std::vector<unsigned char> m_queue;
    std::chrono::steady_clock::time_point m_lastTick;
    std::int64_t m_manualSeen = 0;
};

} // namespace ql::platform
