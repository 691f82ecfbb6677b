// One open ALSA playback stream in exactly the format the engine writes: the
// rate, sample format and channel count are set as given, with alsa-lib's own
// resampling and conversion turned off, so what is written is what the device
// (or the plugin at the end of the name) receives.
//
// Buffering is chosen for low CPU and no under-runs on a loaded two-core
// machine: about 200 ms of buffer in four periods of about 50 ms (on a sound
// server's shared device in periods of 25 ms, woken every second one, see
// kServerPeriodMicros);
// the stream starts by itself once a period is queued.
//
// open() never waits: the PCM is opened non-blocking, so a device another
// program holds fails at once with -EBUSY (describeOpenError gives the
// sentence to show). Writes never wait either: a full buffer accepts 0 frames.
// An under-run is recovered (prepared again) and the write tried again; a
// suspended device is asked to resume on each later call without waiting
// (it reports no room meanwhile, so the feeder sleeps in between), and
// prepared when it cannot resume or has not within a second. Recovery is bounded: a stream whose
// writes keep failing after a recovery that "succeeded" (a sound server that died behind the PCM)
// counts as gone after kMaxRecoveries in a row, as does any other error; a device that is gone
// makes write() return -1 for good. Played-out parts of the buffer are filled with silence, so an
// under-run never repeats old frames.
//
// Threads: open and close on the owner's thread while no other thread uses
// the stream; write, report and pause from one thread at a time (the feeder).
// None of them allocates.
#pragma once

#include "platform/alsa/AlsaApi.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace ql::platform::alsa {

struct StreamConfig {
    unsigned rate = 48000;
    PcmFormat format = PcmFormat::S16_LE;
    int channels = 2;
    bool shared = false; // a sound server's shared device (shorter periods)
};

struct StreamReport {
    std::int64_t freeFrames = 0;   // frames write() takes now
    std::int64_t queuedFrames = 0; // written, not yet played
    double delay = 0;              // seconds until a frame written now is heard
    bool running = false;          // playing out (not paused, not starved)
    bool lost = false;             // the stream is dead (as write() returning -1)
};

class AlsaPcmStream {
public:
    // Opens `pcm` at `config`. On failure returns null and sets `error` to a
    // negative errno.
    static std::unique_ptr<AlsaPcmStream> open(const QString& pcm, const StreamConfig& config,
                                               int& error);
    ~AlsaPcmStream();
    AlsaPcmStream(const AlsaPcmStream&) = delete;
    AlsaPcmStream& operator=(const AlsaPcmStream&) = delete;

    // Queues interleaved frames; returns how many were taken (0 when full),
    // or -1 when the device is gone.
    std::int64_t write(const void* data, std::int64_t frames);
    StreamReport report();
    // Paused, the device stops where it is and keeps what is queued. Where
    // the hardware cannot pause, the stream takes no more frames and plays out
    // what it holds, then starts afresh on resume.
    void pause(bool paused);
    // Plays out what is queued (waiting at most `timeoutMs`), then stops.
    void drain(int timeoutMs);
    // Discards what is queued; the stream takes frames again at once.
    void drop();
    // Takes back up to `frames` of the frames written last that the device
    // has not fetched yet (snd_pcm_rewindable); returns how many. Always 0
    // on a sound server's PCM that hands frames on as they are written (an
    // I/O or external plugin other than PipeWire's, or alsa-lib's plugins in
    // front of one): the server already holds them, and alsa-lib's "rewind"
    // there takes back nothing that is not heard.
    std::int64_t rewind(std::int64_t frames);
    // Starts a prepared stream that holds less than its start threshold.
    void start();
    // Waits (poll on the PCM and on `wakeFd` when not -1) until `frames`
    // frames are free, `timeoutMs` passed or `wakeFd` became readable.
    void wait(std::int64_t frames, int timeoutMs, int wakeFd);

    // Failed recoveries in a row after which the stream counts as gone.
    static constexpr int kMaxRecoveries = 3;

    const StreamConfig& config() const { return m_config; }
    std::int64_t bufferFrames() const { return m_bufferFrames; }
    std::int64_t periodFrames() const { return m_periodFrames; }
    bool canPause() const { return m_canPause; }
    // Recoveries that brought the stream back (an under-run prepared again,
    // a suspended device resumed or prepared). Any thread.
    std::int64_t recoveries() const { return m_recovered.load(std::memory_order_relaxed); }

    // A sentence for an open that failed with `error` (a negative errno).
    static QString describeOpenError(int error);

private:
    AlsaPcmStream() = default;
    bool recover(int err);
    bool resumed();
    bool recovered(bool ok); // counts a recovery that worked
    bool failed(int err);

    void* m_pcm = nullptr; // snd_pcm_t*
    StreamConfig m_config;
    std::int64_t m_bufferFrames = 0;
    std::int64_t m_periodFrames = 0;
    int m_bytesPerFrame = 0;
    bool m_canPause = false;
    bool m_rewinds = false; // rewind() really takes frames back (rewindsForReal)
    bool m_paused = false;
    bool m_gone = false;
    int m_recoveries = 0;                     // recoveries since the last frames taken
    std::atomic<std::int64_t> m_recovered{0}; // recoveries that worked (recoveries())
    std::int64_t m_suspendedSince = -1;       // steady ns at which a suspend was seen, -1 awake
    StreamReport m_last;                      // the last report of a stream awake
};

} // namespace ql::platform::alsa
