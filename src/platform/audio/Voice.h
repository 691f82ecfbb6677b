// One player's stream into an output engine: the decoder thread that takes
// the file's blocks from its read-ahead thread (PrefetchReader), maps their
// channels (a downmix, see Downmix.h), changes their speed (TimeStretch, only when the speed is not
// 1) and converts their rate to the engine's stream, the lock-free ring it fills, and the few
// atomics the engine's feeder thread reads to mix it.
//
// Segments: every start, seek, change of speed or change of stream format is
// a new segment with a serial number. The decoder publishes a segment (where
// it starts in the ring, which source frame it begins at, how many source
// frames one stream frame stands for) before writing its samples; the feeder,
// on seeing a newer segment, skips the ring to its start. So a seek never
// makes the decoder touch the read side, and the feeder never waits for the
// decoder.
//
// Run state: one atomic word packs the serial, "running" and "ended" (and
// whether the end was a failure). The main thread sets running; the feeder
// turns running into ended with a compare-and-swap, so an end that races with
// a pause or a seek is either seen by both or by neither. The feeder does so
// when the device has played the last frame (not when it mixed it): until
// then the voice stays running, its tail in the device's queue.
//
// Scheduled start: a running voice may carry a device time to start at
// (scheduleStart). The engine decides the exact frame (see OutputEngine) and
// tells the voice once it has started it, so a later play() or seek does not
// hold it back again.
//
// Position: the feeder publishes, with every block it mixes, the source frame
// it mixed up to and the device time at which that frame will be heard. So
// the main thread knows both where decoding must resume (position) and what
// is being heard now (heardPosition), at any speed.
//
// Metering: the sums of each mixed block wait in a short delay line until
// the device clock reaches the block, so the meter shows what is heard.
//
// Joins: a voice scheduled right after the end of another voice with the
// same source rate, channels and speed continues that voice's rate converter
// and stretcher (continueAfter, StageHandover.h) instead of starting from
// empty ones, so the join sounds as the two files converted as one. A voice
// whose file is read to the end keeps its stages' tail unflushed while the
// ring still holds more than kTailHold of sound, and only then hands them to
// a follower that asked (or flushes them itself); the feeder then starts the
// follower on the frame after that voice's last one, whatever the scheduled
// time said. A follower taken back after that moment (in the last
// kTailHold and the device's queue) takes the tail with it: the voice before
// ends that much early (the converter's 15 ms, a stretcher's up to 0.1 s).
//
// Mixed tail: the feeder keeps the last kTailSeconds of what it mixed of the
// voice (before the gain), by stream frame, so that the engine can rebuild
// what the device still holds when it takes those frames back: faded out
// for a pause, a stop or a seek, unchanged for the other voices.
//
// Gain: applied per block; when it changed since the block before, the block
// ramps linearly from the old to the new gain, so a volume step never clicks.
// Gain 1.0 with no change adds the samples untouched (the bit-perfect path).
//
// Threads: the methods under "main thread" are for the player's owner; those
// under "feeder" for the feeder of the engine the voice is attached to (one
// at a time, see OutputEngine::detach). The feeder side never allocates,
// locks or logs. The ended hook runs on the decoder thread.
//
// Implemented in Voice.cpp (reading, decoding, segments, ends), VoiceMix.cpp
// (the feeder's mixing, meter line and mixed tail) and VoiceJoin.cpp (joins).
#pragma once

#include "platform/AudioSink.h"
#include "platform/audio/Downmix.h"
#include "platform/audio/MeterTap.h"
#include "platform/audio/SeqLock.h"
#include "platform/audio/SpscRing.h"
#include "platform/audio/StageHandover.h"
#include "platform/audio/WakeSignal.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ql::platform {

class AudioFile;
class PrefetchReader;
class Resampler;
class TimeStretch;

class Voice {
public:
    explicit Voice(std::unique_ptr<AudioFile> file);
    ~Voice();
    Voice(const Voice&) = delete;
    Voice& operator=(const Voice&) = delete;

    // Unique among all voices of the process, never reused (unlike the
    // address of a voice that was destroyed).
    std::uint64_t id() const { return m_id; }
    double sourceRate() const { return m_sourceRate; }
    int sourceChannels() const { return m_sourceChannels; }
    // The file's length; for a file that stores none (see
    // AudioFile::lengthIsEstimate) an estimate until the decoder reaches the
    // end, then what it decoded.
    std::int64_t sourceFrames() const { return m_sourceFrames.load(std::memory_order_relaxed); }

    // ---- main thread --------------------------------------------------------
    // Called on the decoder thread with the serial that ended and whether it
    // played to its end (false: a decode error). Set before start().
    void setEndedHook(std::function<void(std::uint64_t serial, bool ok)> hook);

    // Starts decoding at `sourceFrame` in `format`: the first blocks are
    // decoded at once, then the decoder thread takes over.
    void start(const StreamFormat& format, std::int64_t sourceFrame);
    // Ends the decoder thread and forgets what was buffered, without waiting
    // on the file: the read-ahead is told to quit first, and it is let go on
    // a thread of its own, which waits out a read stuck on a hung mount. The
    // next start() opens the file again.
    void shutdown();
    bool isStarted() const { return m_thread.joinable(); }

    // Continues from `sourceFrame` in `format` (a seek, or a new stream
    // format); the running flag is kept. Returns the new serial.
    std::uint64_t retarget(const StreamFormat& format, std::int64_t sourceFrame);
    StreamFormat format() const { return m_format; }
    std::uint64_t serial() const { return m_serial; }

    // True when this voice, not playing yet, may continue the stages of
    // `before` (see "Joins"): same source rate, channels, speed and stream
    // format, and a stage in the path (another rate or another speed).
    bool canFollow(const Voice& before) const;
    // Restarts this voice's segment (at its position) to take over the
    // stages of `before` when that voice's file has been read; when it
    // cannot wait for that, this voice starts from fresh stages.
    void continueAfter(Voice& before);

    // Tempo factor; 1.0 means no time-stretch stage at all. A started voice
    // continues at the new speed from where the feeder is.
    void setSpeed(double speed);
    double speed() const { return m_speed; }

    // Start when the device clock reaches `deviceTime` (seconds); minus
    // infinity starts at once. Takes effect with the next setRunning(true);
    // setting minus infinity (as pause and stop do) cancels a start that has
    // not happened.
    void scheduleStart(double deviceTime);

    void setRunning(bool running);
    // True when the feeder ended the current serial (end of file or error).
    bool hasEnded() const;
    // Why the file could not be read (empty when it could). Main thread.
    QString readError() const;
    bool isRunning() const;

    // Linear gain for the blocks the feeder mixes from now on (the first of
    // them ramps to it from the gain before).
    void setGain(float gain) { m_gain.store(gain, std::memory_order_relaxed); }
    // The next frames mixed fade in from silence over 5 ms (a resume or a
    // seek the user asked for; never a start, an end or a gapless join).
    void fadeInNext() { m_fadeIn.store(true, std::memory_order_release); }

    // The sound decoded ahead of the feeder, in seconds of the stream: what
    // the ring holds. Any thread.
    double bufferedSeconds() const;
    // The source frame the feeder has mixed up to, for the current serial;
    // the target of a seek the feeder has not reached yet.
    double position() const;
    // The source frame heard at device time `deviceNow`: position() less
    // what is still queued in the device, never before the segment's start.
    double heardPosition(double deviceNow) const;
    // True when frames of the current serial are still queued in the device
    // (mixed, to be heard after `deviceNow`).
    bool hasUnheard(double deviceNow) const;

    // Level metering of the samples mixed (before the gain).
    MeterTap& meter() { return m_meter; }

    // The signal the decoder raises when it has new data for the feeder. A
    // signal replaced (the voice leaves its engine) is no longer in use when
    // this returns, so its engine may be destroyed.
    void setEngineWake(WakeSignal* wake);

    // ---- the engine, while its feeder does not touch the voice ---------------
    // Forgets what was mixed: the stream's frame numbers start again (a new
    // stream, a flush, another engine).
    void forgetMixed();
    // Adds the stream frames [from, from + frames) as this voice mixed them,
    // at its gain, to `out`; with `fadeOut` the gain falls to silence across
    // them (frame k at (frames - k) / frames of it). Returns how many of them
    // it still had, counted from `from` (none once past what it mixed).
    std::size_t addMixed(double* out, std::int64_t from, std::size_t frames, int channels,
                         bool fadeOut) const;
    // The first stream frame addMixed() still has.
    std::int64_t mixedFrom() const { return m_tailEnd - m_tailCount; }

    // ---- feeder -------------------------------------------------------------
    struct Pull {
        std::size_t frames = 0;     // frames mix() will take
        bool starving = false;      // fewer than asked, and more is coming
        bool ends = false;          // these are the last frames of the serial
        bool failed = false;        // the serial ends with a decode error
        std::int64_t remaining = 0; // stream frames to the end of the serial (exact once
                                    // decoded to the end, else from the source position)
    };
    // Looks at what is ready for a block of `want` frames in `format`.
    Pull pull(std::size_t want, const StreamFormat& format);
    // Adds `frames` frames times the gain to `mix` (channels as in pull()).
    // `streamFrame` is the stream frame the first of them lands on, `heardAt`
    // the device time at which the frame after the last one will be heard.
    void mix(double* mix, std::size_t frames, int channels, std::int64_t streamFrame,
             double heardAt);
    // Turns "running" into "ended" for the serial pull() looked at; false
    // when the main thread paused or moved on meanwhile.
    bool markEnded(bool failed);
    // The last frame of the serial was mixed; it is heard at device time
    // `heardAt`. The first call per serial counts.
    void mixedToEnd(double heardAt, bool failed);
    // Ends the serial (markEnded) once the device clock `deviceNow` has
    // reached its last frame; true when it did.
    bool endIfHeard(double deviceNow);
    // The device time of a mixed end not heard yet, or +infinity.
    double pendingEndAt() const;
    // Hands the meter the blocks the device clock `deviceNow` has played.
    void meterHeard(double deviceNow);
    // The device is gone: a running voice ends as failed, whether or not the
    // feeder has mixed any of its current serial (a voice waiting for its
    // scheduled start, or just seeked).
    void markLost();

    // A start time the feeder has not acted on yet.
    struct Schedule {
        bool pending = false;
        double at = 0;         // device seconds
        std::uint32_t tag = 0; // which request this is
    };
    Schedule pendingStart() const;
    // The feeder started the voice for that request.
    void startedFor(std::uint32_t tag) { m_feedStartTag = tag; }
    // The id of the voice this one was armed to follow (0: none), whose
    // stages it may have asked to continue; while that voice plays, this one
    // starts on the frame after its last.
    std::uint64_t follows() const { return m_follows.load(std::memory_order_acquire); }
    // Main thread: arms this voice, not playing yet, to follow the voice
    // `before` (an id) without taking its stages.
    void setFollows(std::uint64_t before) { m_follows.store(before, std::memory_order_release); }
    // Moves to the decoder's newest segment, dropping what the ring holds of
    // older ones (pull does it too; for a voice waiting for its start, the
    // room lets its decoder go on).
    void followSegment();

    // Seconds of sound a voice whose file is read keeps its stages' tail for
    // a follower (see "Joins").
    static constexpr double kTailHold = 0.25;

private:
    struct Segment {
        std::uint64_t serial = 0;
        std::uint64_t startIndex = 0;
        double sourceStart = 0;
        double ratio = 1; // source frames per stream frame
        double rate = 0;
        std::int64_t channels = 0; // a whole word: the record has no padding
    };
    struct Request {
        std::uint64_t serial = 0;
        std::int64_t sourceFrame = 0;
        StreamFormat format;
        double speed = 1.0;
        std::shared_ptr<StageHandover> handover; // the stages to continue, if any
    };
    enum class Tail { Hold, Handed, Drain };
    // What the feeder has mixed, for the main thread.
    struct Played {
        std::uint64_t serial = 0;
        double sourceStart = 0;     // where the segment began
        double source = 0;          // source frame mixed up to
        double heardAt = 0;         // device time at which `source` is heard
        double sourcePerSecond = 0; // source frames per second of device time
    };

    void decoderLoop();
    void beginSegment(const Request& r);
    void setUpSegment(StageHandover::Stages stages);
    bool awaitStages();
    Tail settleTail();
    void leaveHandover();
    void offerStages(std::shared_ptr<StageHandover> handover);
    std::uint64_t retargetWith(const StreamFormat& format, std::int64_t sourceFrame,
                               std::shared_ptr<StageHandover> handover);
    bool decodeStep();
    bool drainStep();
    std::size_t ringNeed(std::size_t stageFrames) const;
    void toRing(const double* samples, std::size_t frames);
    void finishSegment(bool failed);
    void push(const double* samples, std::size_t frames);
    void pushConverted(std::size_t frames);
    void adoptSegment(const Segment& seg);
    void addFadingIn(double* out, const double* p, std::size_t n, std::size_t sampleOffset,
                     int channels, double gain) const;
    void addScaled(double* mix, const double* p, std::size_t n, std::size_t sampleOffset,
                   int channels, std::size_t totalSamples, double from, double to);
    void sizeTail(const StreamFormat& format);
    void keepMixed(std::int64_t streamFrame, const double* p, std::size_t n,
                   std::size_t sampleOffset, int channels);
    void wakeDecoder();
    void wakeEngine();
    bool quitting() const;

    // Fixed at construction.
    const std::uint64_t m_id;
    const double m_sourceRate;
    const int m_sourceChannels;
    const bool m_lengthIsEstimate;
    std::atomic<std::int64_t> m_sourceFrames; // set by the decoder once an estimate is ended
    const std::size_t m_readFrames;           // frames per read-ahead block
    const std::vector<Speaker> m_layout;
    const QString m_path;
    const bool m_streamed; // the sound comes from a stream (PcmStream)

    // ---- shared, lock-free ----
    SpscRing<double> m_ring;
    std::atomic<std::uint64_t> m_state{0}; // serial << 3 | failed << 2 | ended << 1 | running
    std::atomic<float> m_gain{1.0f};
    std::atomic<bool> m_fadeIn{false};
    std::atomic<std::uint32_t> m_wake{0}; // decoder waits on it
    std::atomic<std::size_t> m_decoderNeed{0};
    std::atomic<WakeSignal*> m_engineWake{nullptr};
    std::atomic<int> m_engineWaking{0}; // the decoder is between loading and raising it
    SeqLock<Segment> m_segment;         // written by the decoder
    // serial << 1 | failed of the segment the decoder finished; kNone before.
    std::atomic<std::uint64_t> m_eof;
    SeqLock<Played> m_played;  // written by the feeder
    SeqLock<double> m_startAt; // written by the main thread
    MeterTap m_meter;

    // ---- main thread ↔ decoder, under m_requestMutex (never the feeder) ----
    mutable std::mutex m_requestMutex;
    Request m_request;
    bool m_quit = false;
    // The serial whose stages are still unflushed at the file's end (0: none),
    // and the follower that asked for them.
    std::uint64_t m_openTail = 0;
    std::shared_ptr<StageHandover> m_handTo;
    std::uint64_t m_handToSerial = 0;
    // Read by the feeder (see follows()); set by the main thread.
    std::atomic<std::uint64_t> m_follows{0};

    // ---- main thread only ----
    StreamFormat m_format;
    std::uint64_t m_serial = 0;
    double m_speed = 1.0;
    std::thread m_thread;
    std::function<void(std::uint64_t, bool)> m_endedHook;

    // ---- decoder thread only (the main thread before the thread starts) ----
    std::unique_ptr<PrefetchReader> m_reader;
    std::unique_ptr<Resampler> m_resampler;
    std::unique_ptr<TimeStretch> m_stretch; // null at speed 1
    Request m_current;
    bool m_segmentDone = true;
    bool m_draining = false;
    bool m_stretchDrained = false;
    bool m_awaitingStages = false; // the segment waits for a handover
    // Source frames given to the stages in this segment (less what a handover
    // still owed, in source frames) and stream frames they gave out.
    double m_segIn = 0;
    std::int64_t m_segOut = 0;
    double m_outPerIn = 1.0; // stream frames per source frame through the stages
    double m_headroom = 1.0; // gain ahead of an integer stream after a converter
    // Frames per step: taken from the reader, out of the stretcher, and at
    // most written to the ring.
    std::size_t m_chunkIn = 0, m_stretchOut = 0, m_maxOut = 0;
    std::vector<double> m_mapped, m_stretched, m_out;
    std::vector<double> m_matrix;            // source channels onto the stream's (Downmix.h)
    const double* m_in = nullptr;            // the reader's block in use
    std::size_t m_inFrames = 0, m_inPos = 0; // its length, and how far it is used
    bool m_inEnded = false;                  // that block was the file's last
    std::int64_t m_readerNext = 0;           // the frame the reader's next block starts at
    std::uint64_t m_reportedEnd = ~std::uint64_t(0);

    // ---- feeder only ----
    Segment m_feedSeg;
    bool m_feedHaveSeg = false;
    std::uint64_t m_feedConsumed = 0;
    std::uint32_t m_feedStartTag = 0;                     // the scheduled start already acted on
    float m_feedGain = 1.0f;                              // gain at the end of the last block mixed
    std::int64_t m_feedNextFrame = -1;                    // stream frame after it; -1 none
    std::int64_t m_feedFadeTotal = 0, m_feedFadeDone = 0; // a fade-in, in frames
    // The mixed tail: frames [m_tailEnd - m_tailCount, m_tailEnd) of the
    // stream, a ring of m_tailFrames (sized in the main thread at start and
    // at a change of format, when the feeder does not touch the voice).
    std::vector<float> m_tail;
    std::int64_t m_tailFrames = 0, m_tailEnd = 0, m_tailCount = 0;
    int m_tailChannels = 0;
    // Meter sums of blocks mixed but not heard yet, oldest first.
    struct MeterEntry {
        double heardAt = 0;
        MeterTap::Block block;
    };
    std::array<MeterEntry, 32> m_meterLine{};
    std::size_t m_meterFirst = 0, m_meterCount = 0;
    // The serial whose last frame was mixed, heard at m_feedEndAt.
    std::uint64_t m_feedEndSerial = 0;
    double m_feedEndAt = 0;
    bool m_feedEndPending = false;
    bool m_feedEndFailed = false;
};

} // namespace ql::platform
