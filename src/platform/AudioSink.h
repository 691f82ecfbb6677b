// The contract between an output engine and the device it writes to (the
// ALSA PCM, or the simulated device). A sink is deliberately small: it opens a
// stream in one format, accepts frames, reports its buffer state, pauses and
// closes. Buffering, timing, mixing, gain and end-of-stream live above it, in
// OutputEngine, written once for every backend.
//
// A sink models a card: frames are heard only as the device clock plays
// them, so what is queued when the stream is dropped or closed is never
// heard, and a paused stream keeps its queue and its clock stands still.
//
// Threads: open(), close(), release(), drain() and rewind() are called by the
// engine's owner while the feeder thread is not running; write(), report(),
// pause(), drop(), start() and wait() by the feeder thread (or by the owner
// while the feeder is not running). So a sink needs no locks of its own, and the feeder
// calls must not block (wait() excepted), allocate or log: the engine never
// offers more than report() said is free.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace ql::platform {

using DeviceId = std::uint32_t;

// How one sample is laid out in the stream, little-endian throughout.
enum class SampleFormat {
    S16,     // 16-bit signed integer
    S24P,    // 24-bit signed integer packed in 3 bytes
    S24In32, // 24-bit signed integer in the low bits of 4 bytes
    S32,     // 32-bit signed integer
    F32,     // 32-bit IEEE float, full scale ±1.0
};

int bytesPerSample(SampleFormat format);
// Valid bits of the integer formats; 24 for F32 (its exact integer range).
int validBits(SampleFormat format);

struct StreamFormat {
    double rate = 0;
    SampleFormat sample = SampleFormat::F32;
    int channels = 0;
    int bytesPerFrame() const { return bytesPerSample(sample) * channels; }
    bool operator==(const StreamFormat&) const = default;
};

struct SinkReport {
    std::int64_t freeFrames = 0;   // frames write() accepts now without waiting
    std::int64_t queuedFrames = 0; // frames written but not yet played
    double delay = 0;              // seconds until a frame written now is heard
    bool running = false;          // playing out frames (false when paused or starved)
    bool lost = false;             // the device is gone (as write() returning -1)
};

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Opens the stream. On failure returns false and sets `error` to a
    // sentence a user can read.
    virtual bool open(const StreamFormat& format, QString& error) = 0;
    // A device shared through a sound server takes a stream at any rate (the
    // server converts, or moves its own rate to it).
    virtual bool takesAnyRate() const { return false; }
    // Queues `frames` interleaved frames in the opened format. Returns the
    // number accepted, or -1 when the device is gone (the stream is dead until
    // it is reopened).
    virtual std::int64_t write(const void* data, std::int64_t frames) = 0;
    virtual SinkReport report() = 0;
    // Pausing keeps what is queued and stops the device clock; resuming plays
    // it. Without hardware pause (canPause() false) the queue plays out while
    // paused, so the engine drops it instead.
    virtual void pause(bool paused) = 0;
    virtual bool canPause() const = 0;
    // Discards what is queued (never heard); the stream takes frames again
    // at once and starts with the next ones written.
    virtual void drop() = 0;
    // Takes back up to `frames` of the frames written last and not played
    // yet (they are never heard); the next write follows the frames kept.
    // Returns how many it took back: fewer, or none, where the device cannot
    // take back what it has already been given.
    virtual std::int64_t rewind(std::int64_t frames) {
        (void)frames;
        return 0;
    }
    // Starts playing what is queued even when it is less than the stream
    // waits for before it starts by itself (the end of a short file).
    virtual void start() = 0;
    // Plays out what is queued, waiting at most `timeoutMs`, then stops.
    virtual void drain(int timeoutMs) = 0;
    // Waits until `frames` frames are free, `timeoutMs` passed, or the fd
    // `wakeFd` (an eventfd, or -1) became readable. Returns at once when the
    // stream is paused, starved or not open only through the timeout or the fd.
    virtual void wait(std::int64_t frames, int timeoutMs, int wakeFd) = 0;
    // Closes the stream; what is queued is lost.
    virtual void close() = 0;
    // Closes the stream and gives the device back to the system (a card
    // reserved for us is handed back to its sound server).
    virtual void release() { close(); }
    // Times the device had to be brought back (an under-run prepared again,
    // a suspended device resumed) since the sink was made. Any thread: the
    // feeder counts, the engine's owner reads the count to log it.
    virtual std::int64_t recoveries() const { return 0; }
};

// Makes the sink of one device; null when the device has none.
using SinkFactory = std::function<std::unique_ptr<AudioSink>(DeviceId)>;

} // namespace ql::platform
