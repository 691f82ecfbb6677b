// The one stream of one output device, and the mixer in front of it. Every
// voice bound to the device (the current track, a scheduled successor, a
// fading-out player) is mixed here, each with its own gain, and written to the
// device's sink by one feeder thread.
//
// Format: the stream runs at the device's nominal rate and physical format as
// the hardware reports them. refreshFormat() reopens the stream when they
// changed; voices that are playing continue from the frame the device had
// reached (the queued tail of the old stream is dropped); when none plays
// (a track ended and the next asks for another rate), the old stream is
// drained first, so the end of the last track is heard whole.
//
// Device clock: seconds of frames the device has played — frames handed to
// the sink minus its reported delay — continuing across reopens and flushes.
// A voice ends when the clock passes its last frame, not when it is mixed.
// A sound server's shared device keeps reporting its own latency once our
// queue is empty and never plays it out (or interpolates it within each of
// its cycles): from the first look at which the device has taken every
// frame written, the last of them is heard once the delay reported at that
// look has passed, by the steady clock. While frames of ours are queued, a
// delay that stands still (a server late by a cycle or two) holds the clock
// where it is, so no tail counts as heard before the device took it.
//
// Flush: a change the user asks for (a seek, a new speed, a stop, another
// player started while the device is paused) must be heard at once, not after
// the ≈ 200 ms the device holds. flush() drops the device's queue and moves
// every voice that had frames in it back to the frame heard last, so nothing
// is skipped and nothing is heard twice.
//
// Fade-out: a pause, a stop or a seek would cut the signal in one sample, a
// click on music. For those the device keeps kKeepSeconds of its queue and
// gives the rest back (AudioSink::rewind); in its place the voice that
// changes fades out over kFadeSeconds, rebuilt from what it mixed, and the
// other voices go on unchanged for those frames, then from where they were.
// A device that cannot give frames back (a sound server's plugin that hands
// every frame on as it is written) drops all it holds instead, and the fade
// is written afresh from the first frame not heard yet; so a pause is heard
// within the fade whatever the buffer.
//
// Pause: when no voice runs, what the device holds (the end of a fade-out)
// plays out and the device is then paused (its clock stops).
//
// Rate: a device that takes any rate (a sound server's shared device) opens
// at the rate of the voice that starts its stream, so the file reaches the
// server unconverted; a voice of another rate joining a running stream is
// converted here.
// A stream with no running voice for kIdleRelease, or stopped with nothing
// else playing, is closed and the device given back (releaseIfIdle); the
// next play opens it again.
//
// Scheduled start: a voice given a device time starts on the stream frame of
// that time, with silence written before it so the clock keeps running. When
// the time lies within kSnapWindow of the end of a voice that is playing, it
// starts instead on the frame right after that voice's last one, so two
// tracks join without a gap, a repeat or an overlap, wherever in the window
// the request fell; a voice armed at that end (continueStages) follows that
// one's last frame even when the end moves (a length that was an estimate),
// and so does one that continues its stages (Voice.h, "Joins"). A scheduled
// voice that is paused or stopped before its frame never sounds.
//
// Starving: a voice whose decoder falls behind (a slow disk, a hung mount)
// holds the block back while the device has enough queued; once the device
// is about to run dry, the others play on and the starving one is silent
// for the rest of the block, until its data comes.
//
// Feeder: reads the voices' rings, mixes in doubles, encodes to the stream
// format (dithered to its word length whenever the mix is off the integer
// grid: a gain, a fade, a wider source; never on the bit-perfect path) and
// writes what the sink reports free. It never allocates, locks a
// mutex or logs (it counts what a maintainer would want to read: under-runs,
// a device lost, waits for the end to be heard; logChanges() logs the counts
// on the main thread); it sleeps in the sink's wait (the device's poll descriptors
// with the engine's WakeSignal), a period at a time in steady playback. When
// the sink reports the device gone, every running voice ends as failed and
// the stream stays dead until the next ensureOpen().
//
// Threads: all public methods are for the main thread.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/AudioSink.h"
#include "platform/audio/SampleCodec.h"
#include "platform/audio/Voice.h"
#include "platform/audio/WakeSignal.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace ql::platform {

class OutputEngine {
public:
    // Frames mixed and written per feeder cycle.
    static constexpr std::size_t kBlockFrames = 1024;
    static constexpr int kMaxVoices = 16;
    // How far (seconds) a scheduled start may lie from the end of a playing
    // voice and still be joined to it.
    static constexpr double kSnapWindow = 0.05;
    // Seconds without a running voice after which the stream is closed.
    static constexpr double kIdleRelease = 5.0;
    // The longest a drain before a reopen may take (the device's buffer).
    static constexpr int kDrainMs = 250;
    // How often the owner looks at idle streams (releaseWhenIdleFor).
    static constexpr int kUpkeepMs = 250;
    // A fade-out: the part of the queue the device keeps (room for the main
    // thread to write what follows), and the length of the fade.
    static constexpr double kKeepSeconds = 0.005;
    static constexpr double kServerKeepSeconds = 0.001; // on a sound server's shared device
    static constexpr double kFadeSeconds = 0.005;

    OutputEngine(AudioHardware& hardware, DeviceId device, std::unique_ptr<AudioSink> sink);
    ~OutputEngine();
    OutputEngine(const OutputEngine&) = delete;
    OutputEngine& operator=(const OutputEngine&) = delete;

    DeviceId device() const { return m_device; }

    // The stream format the device asks for now, from the hardware.
    std::optional<StreamFormat> deviceFormat(QString& error) const;

    // Opens the stream (or reopens it after a lost device or a changed
    // format) and starts the feeder. False with a readable error when the
    // device cannot play; the voices that were playing then end as failed.
    // `startRate`: the rate of the voice about to start (0: none), the
    // stream's rate on a device that takes any rate while no voice runs.
    bool ensureOpen(QString& error, double startRate = 0);
    bool refreshFormat(QString& error) { return ensureOpen(error); }
    bool isOpen() const { return m_open; }
    bool isLost() const { return m_lost.load(); }
    StreamFormat format() const { return m_format; }

    // Binds a voice (false when every slot is taken). A voice decoding for
    // another format is asked to continue in this one.
    bool attach(Voice* voice);
    // Unbinds a voice; when this returns the feeder no longer touches it.
    void detach(Voice* voice);
    bool isAttached(const Voice* voice) const;

    // Tells the feeder something changed (a voice started or paused).
    void wake();
    // Before `voice` starts: frames of other voices that are paused still
    // in the device's queue would be heard first, so they are flushed.
    void beforeStart(const Voice* voice);
    // `starting` is about to play with no other voice running: when the
    // device offers the file's channel count, the device is set to it, so
    // each channel reaches its own speaker untouched instead of being folded
    // to the stream's. A mono file counts as stereo on a device left at more
    // than two channels. True when the device changed (the stream is
    // reopened by the next ensureOpen).
    bool matchChannels(const Voice& starting);
    // `next` is to start at `deviceTime`: when that is the end of a playing
    // voice, `next` starts on the frame after that voice's last one wherever
    // the end turns out to be (a length that was an estimate), and when it
    // may follow it (Voice::canFollow) it continues that voice's rate
    // converter and stretcher, so the join is converted as one signal.
    void continueStages(Voice& next, double deviceTime);
    // Drops what the device holds and moves the voices that had frames in it
    // back to the frame heard last; `whileHeld` runs with the feeder stopped,
    // after that (a seek or a speed change of one voice). With `fading`, that
    // voice fades out instead of stopping in one sample (see Fade-out) and
    // goes on from the frame after its fade.
    void flush(const std::function<void()>& whileHeld = {}, Voice* fading = nullptr);
    // Closes the stream and gives the device back when no voice runs (the
    // paused ones continue from where they were heard at the next play).
    // False when a voice is playing.
    bool releaseIfIdle();
    // Closes the stream after kIdleRelease without a running voice, or at
    // the first call after releaseSoon() when none runs then; call from time
    // to time (OutputEngines does, every kUpkeepMs).
    void releaseWhenIdleFor(double now);
    // A player stopped: when nothing else plays, the stream is closed at the
    // next upkeep unless a voice runs by then (a next track started right
    // after the stop).
    void releaseSoon() { m_releaseSoon = !anyAttachedRunning(); }
    // No voice bound and the device gone: nothing will use this engine again.
    bool isAbandoned() const;
    // Device under-runs (the device played out everything it had while a
    // voice was running) since the engine was made.
    std::int64_t underruns() const { return m_underruns.load(std::memory_order_relaxed); }
    // Logs what the feeder counted since the last call (under-runs and a
    // lost device as warnings; the sink's recoveries and the waits for a
    // stream's end to be heard as debug lines). The upkeep calls it.
    void logChanges();

    double deviceTime() const { return m_clock.load(std::memory_order_relaxed); }

private:
    // One running voice's part in the block being mixed.
    struct Entry {
        Voice* voice = nullptr;
        std::size_t slot = 0;
        Voice::Schedule schedule;
        Voice::Pull pull;
        std::size_t offset = 0;       // where in the block its frames begin
        bool mixes = false;           // takes part in this block
        bool starts = false;          // its scheduled start is in this block
        std::int64_t resolvedAt = -1; // its exact start frame, found in this block
    };
    struct MixPlan {
        int count = 0;              // entries in m_entries
        bool starving = false;      // a voice that mixes has too little ready
        bool ready = false;         // a voice that mixes has all it needs
        bool startStarving = false; // a voice starting in this block has too little
        bool waiting = false;       // a scheduled voice starts after this block
        std::size_t frames = 0;
    };
    // A scheduled start tied to a voice that ended in an earlier block.
    // Keyed on the voice's id, not its address: a new voice may be created
    // where a destroyed one was.
    struct Resolved {
        std::uint64_t voiceId = 0;
        std::uint32_t tag = 0;
        std::int64_t frame = 0;
    };

    bool anyVoiceRunning();
    bool anyAttachedRunning() const;
    double endHeardCheck(double now);
    MixPlan planBlock(std::size_t limit);
    void commitStarts(const MixPlan& plan);
    void mixAndWrite(const MixPlan& plan);
    bool writePending();
    void waitOnSink(std::uint32_t seen, WakeSignal::Waiting kind, std::int64_t frames,
                    double seconds);
    void startFeeder();
    void stopFeeder();
    void close();
    double heardNow();
    void resetStream();
    void holdAtHeard();
    bool fadeOut(Voice* fading);
    void feederLoop();
    void deviceLost();
    void waitForCycle() const;
    void publishClock(const SinkReport& report);

    AudioHardware& m_hardware;
    const DeviceId m_device;
    std::unique_ptr<AudioSink> m_sink;

    // ---- main thread (fixed while the feeder runs) ----
    StreamFormat m_format;
    bool m_open = false;
    std::thread m_feeder;
    std::vector<double> m_mix;
    std::vector<unsigned char> m_bytes;
    // The stream's own dither source, drawn from by the feeder only.
    Dither m_dither{std::uint64_t(reinterpret_cast<std::uintptr_t>(this))};
    double m_clockBase = 0;  // seconds played by earlier streams (and before a flush)
    double m_idleSince = -1; // steady seconds since no voice runs; -1 while one does
    bool m_releaseSoon = false;
    // The feeder's counts as last logged (logChanges).
    std::int64_t m_loggedUnderruns = 0, m_loggedLosses = 0, m_loggedEndWaits = 0,
                 m_loggedRecoveries = 0;

    // ---- shared ----
    std::array<std::atomic<Voice*>, kMaxVoices> m_voices{};
    WakeSignal m_wake;
    std::atomic<bool> m_stop{false};
    std::atomic<std::int64_t> m_underruns{0};
    std::atomic<std::int64_t> m_losses{0};   // the sink reported the device gone
    std::atomic<std::int64_t> m_endWaits{0}; // all mixed; waiting for the end to be heard
    std::atomic<bool> m_lost{false};
    std::atomic<std::uint64_t> m_cycle{0}; // odd while the feeder mixes
    std::atomic<double> m_clock{0};

    // ---- feeder only (the main thread while the feeder is stopped) ----
    std::int64_t m_written = 0; // frames handed to the sink by this stream
    bool m_sinkPaused = false;
    bool m_wasRunning = false; // the device had frames at the last look
    bool m_deviceRan = false;  // the device had frames at some look since the stream started
    bool m_endWaiting = false; // in the wait for the end of every voice to be heard
    std::int64_t m_pendingFrom = 0, m_pendingFrames = 0; // encoded frames not taken yet
    // The frame count at the last look (publishClock); the steady time (s)
    // of the first look at which the device had taken every frame written
    // (-1: it has not since the last write), and the delay it reported then;
    // the delay at the last look at which frames of ours were still queued
    // (-1: none yet).
    std::int64_t m_writtenSeen = -1;
    double m_handedOnAt = -1, m_handedOnDelay = 0, m_oursDelay = -1;
    std::array<Entry, kMaxVoices> m_entries{};
    std::array<Resolved, kMaxVoices> m_resolved{};
};

} // namespace ql::platform
