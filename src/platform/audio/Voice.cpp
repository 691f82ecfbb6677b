#include "platform/audio/Voice.h"

#include "platform/audio/AudioFile.h"
#include "platform/audio/PrefetchReader.h"
#include "platform/audio/Resampler.h"
#include "platform/audio/TimeStretch.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include <pthread.h>

namespace ql::platform {

namespace {

constexpr std::uint64_t kNone = ~std::uint64_t(0);
constexpr std::uint64_t kRunning = 1, kEnded = 2, kFailed = 4;
// About 2.7 s of stereo at 48 kHz (2 MiB): deep enough to ride out a slow
// disk; a seek throws it away, but refilling it takes milliseconds. A
// multiple of 10080 (divisible by every channel count up to 10, and by 12,
// 14, 16, 18, 20, 24, 28 and 32), so the ring holds whole frames of any
// usual layout.
constexpr std::size_t kRingSamples = 10080 * 26;
// Read-ahead blocks of 64 Ki samples: large enough that handing a block from
// thread to thread costs little next to decoding it.
constexpr std::size_t kReadSamples = 65536;
constexpr std::size_t kMinChunkIn = 256;
// While the ring holds less than kLowSeconds, the decoder takes kLowPiece
// source frames at a time (see decodeStep).
constexpr double kLowSeconds = 1.0;
constexpr std::size_t kLowPiece = 2048;
constexpr double kNow = -std::numeric_limits<double>::infinity();
// Gain after a rate converter on an integer stream: a converted signal has
// peaks between the source's samples, 3.01 dB above them for a tone at a
// quarter of the rate sampled between its crests. Without this margin such
// material, mastered to full scale, would hard-clip at the encoder; the
// 0.2 dB beyond that covers the filter's ripple.
constexpr double kConverterHeadroom = 0.69183097091893643; // -3.2 dB

std::uint64_t nextVoiceId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t serialOf(std::uint64_t state) {
    return state >> 3;
}

} // namespace

Voice::Voice(std::unique_ptr<AudioFile> file)
    : m_id(nextVoiceId()), m_sourceRate(file->sampleRate()), m_sourceChannels(file->channels()),
      m_lengthIsEstimate(file->lengthIsEstimate()), m_sourceFrames(file->frames()),
      m_readFrames(std::max<std::size_t>(kReadSamples / std::size_t(m_sourceChannels), 1024)),
      m_layout(file->layout()), m_path(file->path()), m_streamed(file->isStream()),
      m_ring(kRingSamples), m_eof(kNone), m_startAt(kNow),
      m_reader(std::make_unique<PrefetchReader>(std::move(file), m_readFrames)) {}

Voice::~Voice() {
    shutdown();
}

void Voice::setEndedHook(std::function<void(std::uint64_t, bool)> hook) {
    m_endedHook = std::move(hook);
}

// ---- main thread -------------------------------------------------------------

void Voice::start(const StreamFormat& format, std::int64_t sourceFrame) {
    if (m_thread.joinable()) {
        retarget(format, sourceFrame);
        return;
    }
    if (!m_reader) {
        // Let go by a shutdown: a fresh handle on the file (a file that is
        // gone now fails as a read error when the first block is asked for).
        // A stream cannot be opened again: it fails the same way.
        if (auto reopened = m_streamed ? AudioFile::Opened{} : AudioFile::open(m_path);
            reopened.file)
            m_reader = std::make_unique<PrefetchReader>(std::move(reopened.file), m_readFrames);
        m_readerNext = 0;
    }
    const bool running = isRunning();
    m_format = format;
    sizeTail(format);
    ++m_serial;
    Request r{m_serial, sourceFrame, format, m_speed, {}};
    {
        std::lock_guard lock(m_requestMutex);
        m_request = r;
        m_quit = false;
    }
    m_state.store(m_serial << 3 | (running ? kRunning : 0));
    // Prebuffer here so that play starts at once; the thread continues. A
    // stream's blocks come from the network: the main thread never waits
    // for them, the player starts when they come.
    beginSegment(r);
    for (int i = 0; i < 4 && !m_segmentDone && !m_streamed; ++i)
        decodeStep();
    m_thread = std::thread([this] { decoderLoop(); });
}

void Voice::shutdown() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_requestMutex);
        m_quit = true;
    }
    // A decoder waiting for a block the read-ahead cannot deliver (its
    // worker hangs in read) is released first; the join is then bounded.
    if (m_reader)
        m_reader->quit();
    wakeDecoder();
    m_thread.join();
    {
        std::lock_guard lock(m_requestMutex);
        if (m_handTo)
            m_handTo->decline();
        m_handTo.reset();
        // Stages asked for and not taken yet stay with the voice before.
        if (m_request.handover)
            m_request.handover->decline();
        m_request.handover.reset();
    }
    leaveHandover();
    m_awaitingStages = false;
    // Workers that are not reading end at once; one stuck in a read is
    // waited for on a thread of its own.
    if (m_reader && m_reader->reading())
        std::thread([reader = std::move(m_reader)] {}).detach();
    m_reader.reset();
}

std::uint64_t Voice::retarget(const StreamFormat& format, std::int64_t sourceFrame) {
    return retargetWith(format, sourceFrame, nullptr);
}

std::uint64_t Voice::retargetWith(const StreamFormat& format, std::int64_t sourceFrame,
                                  std::shared_ptr<StageHandover> handover) {
    // Another format comes only from an engine that does not mix the voice
    // meanwhile (a reopen, or before it is attached).
    if (!(format == m_format))
        sizeTail(format);
    m_format = format;
    ++m_serial;
    {
        std::lock_guard lock(m_requestMutex);
        m_follows.store(handover ? handover->fromVoice() : 0, std::memory_order_release);
        // Stages asked for by a request the decoder may never begin stay
        // with the voice before.
        if (m_request.handover && m_request.handover != handover)
            m_request.handover->decline();
        m_request = Request{m_serial, sourceFrame, format, m_speed, std::move(handover)};
        // A follower waiting for this voice's stages cannot have them: this
        // voice no longer ends where it was going to.
        if (m_handTo)
            m_handTo->decline();
        m_handTo.reset();
    }
    // Keep "running" unless the feeder has just ended the old serial.
    std::uint64_t st = m_state.load();
    for (;;) {
        const bool running = (st & kRunning) != 0;
        if (m_state.compare_exchange_weak(st, m_serial << 3 | (running ? kRunning : 0)))
            break;
    }
    wakeDecoder();
    return m_serial;
}

void Voice::setSpeed(double speed) {
    if (speed == m_speed)
        return;
    m_speed = speed;
    // An ended voice starts over from the beginning at the next play, which
    // makes a new segment anyway.
    if (isStarted() && !hasEnded())
        retarget(m_format, std::int64_t(std::llround(position())));
}

void Voice::scheduleStart(double deviceTime) {
    m_startAt.store(std::isnan(deviceTime) ? kNow : deviceTime);
}

void Voice::setRunning(bool running) {
    std::uint64_t st = m_state.load();
    for (;;) {
        if (st & kEnded)
            return; // a new serial (retarget) must come first
        const std::uint64_t want = running ? (st | kRunning) : (st & ~kRunning);
        if (m_state.compare_exchange_weak(st, want))
            return;
    }
}

QString Voice::readError() const {
    return m_reader ? m_reader->error() : QString();
}

bool Voice::hasEnded() const {
    const std::uint64_t st = m_state.load();
    return (st & kEnded) && serialOf(st) == m_serial;
}

bool Voice::isRunning() const {
    return (m_state.load() & kRunning) != 0;
}

double Voice::position() const {
    const Played p = m_played.load();
    if (p.serial != m_serial) {
        std::lock_guard lock(m_requestMutex);
        return double(m_request.sourceFrame);
    }
    return p.source;
}

double Voice::heardPosition(double deviceNow) const {
    const Played p = m_played.load();
    if (p.serial != m_serial) {
        std::lock_guard lock(m_requestMutex);
        return double(m_request.sourceFrame);
    }
    const double queued = std::max(p.heardAt - deviceNow, 0.0);
    return std::max(p.source - queued * p.sourcePerSecond, p.sourceStart);
}

bool Voice::hasUnheard(double deviceNow) const {
    const Played p = m_played.load();
    return p.serial == m_serial && p.heardAt > deviceNow;
}

void Voice::wakeDecoder() {
    m_wake.fetch_add(1, std::memory_order_release);
    m_wake.notify_one();
}

void Voice::setEngineWake(WakeSignal* wake) {
    m_engineWake.store(wake);
    // A decoder that loaded the old signal just before finishes raising it
    // first; one that starts now loads the new one (both sides are
    // sequentially consistent).
    while (m_engineWaking.load() != 0)
        std::this_thread::yield();
}

void Voice::wakeEngine() {
    m_engineWaking.fetch_add(1);
    if (auto* w = m_engineWake.load())
        w->raiseData();
    m_engineWaking.fetch_sub(1);
}

// ---- decoder thread ------------------------------------------------------------

void Voice::decoderLoop() {
    pthread_setname_np(pthread_self(), "ql-decoder");
    for (;;) {
        const std::uint32_t seen = m_wake.load(std::memory_order_acquire);
        Request r;
        {
            std::lock_guard lock(m_requestMutex);
            if (m_quit)
                return;
            r = m_request;
        }
        bool progressed = false;
        if (r.serial != m_current.serial) {
            beginSegment(r);
            progressed = true;
        }
        if (m_awaitingStages)
            progressed = awaitStages() || progressed;
        if (!m_segmentDone && !m_awaitingStages)
            progressed = decodeStep() || progressed;

        const std::uint64_t st = m_state.load(std::memory_order_acquire);
        if ((st & kEnded) && serialOf(st) != m_reportedEnd) {
            m_reportedEnd = serialOf(st);
            if (m_endedHook)
                m_endedHook(serialOf(st), !(st & kFailed));
        }
        if (!progressed)
            m_wake.wait(seen, std::memory_order_acquire);
    }
}

void Voice::beginSegment(const Request& r) {
    if (m_current.handover && m_current.handover != r.handover)
        m_current.handover->decline();
    m_current = r;
    m_segmentDone = false;
    m_draining = false;
    m_stretchDrained = false;
    // The converter and the stretcher start fresh for every segment (what
    // they hold belongs to the old position or speed), unless the segment
    // continues the stages of the voice before it.
    m_resampler.reset();
    m_stretch.reset();
    {
        std::lock_guard lock(m_requestMutex);
        m_openTail = r.serial;
    }
    StageHandover::Stages stages;
    if (r.handover && r.handover->take(stages, &m_wake) == StageHandover::State::Waiting) {
        // Its output begins with the tail of the voice before: nothing is
        // published until the stages come (or are declined).
        m_awaitingStages = true;
        return;
    }
    m_awaitingStages = false;
    setUpSegment(std::move(stages));
}

void Voice::setUpSegment(StageHandover::Stages stages) {
    const Request& r = m_current;
    const int ch = std::max(r.format.channels, 1);
    const bool convert = std::abs(r.format.rate - m_sourceRate) > 1e-9;
    const bool stretch = r.speed != 1.0;
    if (bool(stages.resampler) == convert && bool(stages.stretch) == stretch &&
        (convert || stretch)) {
        m_resampler = std::move(stages.resampler);
        m_stretch = std::move(stages.stretch);
    } else {
        stages = StageHandover::Stages{};
        if (convert)
            m_resampler = std::make_unique<Resampler>(m_sourceRate, r.format.rate, ch);
    }

    // Stream frames per source frame, through both stages.
    const double outPerIn = (convert ? r.format.rate / m_sourceRate : 1.0) / r.speed;
    m_outPerIn = outPerIn;
    const std::size_t ringFrames = m_ring.capacity() / std::size_t(ch);
    m_chunkIn = std::clamp<std::size_t>(std::size_t(double(ringFrames / 4) / outPerIn), kMinChunkIn,
                                        m_readFrames);
    // What one step hands the converter is capped so that the most it may
    // write fits in half the ring: otherwise, at a high stream rate with many
    // channels and a slow speed, the room it waits for would never be there.
    const std::size_t half = ringFrames / 2;
    const std::size_t stageCap =
        m_resampler ? std::max<std::size_t>(
                          std::size_t(double(half > 64 ? half - 64 : 0) / m_resampler->ratio()), 1)
                    : half;
    // The stretcher keeps what does not fit for the next step; it is given
    // at most half its output room per step so that backlog drains.
    m_chunkIn = std::min(
        m_chunkIn,
        std::max<std::size_t>(stretch ? std::size_t(double(stageCap) * r.speed / 2) : stageCap, 1));
    // A stretcher handed over takes no larger blocks than it was made for.
    if (m_stretch)
        m_chunkIn = std::min(m_chunkIn, m_stretch->maxBlock());
    // The speed changes before the rate, at the file's rate: rubberband is
    // tuned for the usual music rates, and a file usually has one of them.
    if (stretch) {
        if (!m_stretch)
            m_stretch = std::make_unique<TimeStretch>(m_sourceRate, ch, r.speed, m_chunkIn);
        m_stretchOut = std::min(m_stretch->maxOutput(m_chunkIn), stageCap);
    } else {
        m_stretchOut = m_chunkIn;
    }
    m_maxOut = m_resampler ? m_resampler->maxOutput(m_stretchOut) : m_stretchOut;
    m_mapped.assign(m_chunkIn * std::size_t(ch), 0.0);
    m_matrix = channelMatrix(m_layout, ch);
    m_stretched.assign(stretch ? m_stretchOut * std::size_t(ch) : 0, 0.0);
    m_out.assign(m_resampler ? m_maxOut * std::size_t(ch) : 0, 0.0);
    m_inFrames = m_inPos = 0;
    m_inEnded = false;
    // What the stages still owe of the voice before is heard first: the
    // segment begins that much before its first source frame.
    m_segIn = -stages.owed / outPerIn;
    m_segOut = 0;
    m_headroom = m_resampler && r.format.sample != SampleFormat::F32 ? kConverterHeadroom : 1.0;

    Segment s;
    s.serial = r.serial;
    s.startIndex = m_ring.writeIndex();
    const std::int64_t last = m_sourceFrames.load(std::memory_order_relaxed);
    s.ratio = m_sourceRate / r.format.rate * r.speed;
    s.sourceStart =
        double(std::clamp<std::int64_t>(r.sourceFrame, 0, last)) - stages.owed * s.ratio;
    s.rate = r.format.rate;
    s.channels = ch;
    m_segment.store(s);

    const std::int64_t from = std::clamp<std::int64_t>(r.sourceFrame, 0, last);
    if (m_reader && from != m_readerNext)
        m_reader->restart(from);
    m_readerNext = from;
    if (m_resampler && !m_resampler->isValid())
        finishSegment(true);
    wakeEngine();
}

// Ring room, in samples, for what one step may write after `stageFrames`
// frames came out of the stretch stage.
// The converter may hand back up to m_maxOut frames per call whatever the
// input (it releases what it held back), so with one the need is that much.
std::size_t Voice::ringNeed(std::size_t stageFrames) const {
    const std::size_t frames =
        m_resampler ? std::max(m_resampler->maxOutput(stageFrames), m_maxOut) : stageFrames;
    return frames * std::size_t(std::max(m_current.format.channels, 1));
}

// Frames at the file's rate on their way to the ring: converted when the
// stream runs at another rate, then written.
void Voice::toRing(const double* samples, std::size_t frames) {
    if (!m_resampler) {
        push(samples, frames);
        return;
    }
    const std::size_t ch = std::size_t(std::max(m_current.format.channels, 1));
    std::size_t done = 0;
    while (done < frames) {
        const auto step =
            m_resampler->process(samples + done * ch, frames - done, m_out.data(), m_maxOut);
        pushConverted(step.produced);
        done += step.consumed;
        if (step.consumed == 0 && step.produced == 0)
            break;
    }
}

void Voice::pushConverted(std::size_t frames) {
    if (m_headroom != 1.0) {
        const std::size_t n = frames * std::size_t(std::max(m_current.format.channels, 1));
        for (std::size_t i = 0; i < n; ++i)
            m_out[i] *= m_headroom;
    }
    push(m_out.data(), frames);
}

bool Voice::drainStep() {
    if (m_ring.freeSpace() < ringNeed(m_stretchOut)) {
        m_decoderNeed.store(ringNeed(m_stretchOut), std::memory_order_relaxed);
        return false;
    }
    if (m_stretch && !m_stretchDrained) {
        const auto step = m_stretch->process(nullptr, 0, m_stretched.data(), m_stretchOut);
        toRing(m_stretched.data(), step.produced);
        m_stretchDrained = step.produced == 0;
        return true;
    }
    if (m_resampler) {
        const auto step = m_resampler->process(nullptr, 0, m_out.data(), m_maxOut);
        pushConverted(step.produced);
        if (step.produced > 0)
            return true;
    }
    finishSegment(false);
    return true;
}

bool Voice::decodeStep() {
    const int ch = std::max(m_current.format.channels, 1);
    if (m_awaitingStages)
        return false;
    if (m_draining)
        return drainStep();
    if (m_inPos >= m_inFrames) {
        if (m_inEnded) {
            if (!m_resampler && !m_stretch) {
                finishSegment(false);
                return true;
            }
            switch (settleTail()) {
            case Tail::Hold:
                return false;
            case Tail::Handed:
                finishSegment(false);
                return true;
            case Tail::Drain:
                m_draining = true;
                return true;
            }
        }
        const std::int64_t n = m_reader ? m_reader->next(&m_in) : -1;
        if (n < 0) {
            finishSegment(true);
            return true;
        }
        m_inFrames = std::size_t(n);
        m_inPos = 0;
        m_readerNext += n;
        m_inEnded = m_inFrames < m_readFrames;
        if (m_inEnded && m_lengthIsEstimate && !quitting()) {
            // The decoder ran out: from now on the length is what it gave.
            m_sourceFrames.store(m_readerNext, std::memory_order_relaxed);
        }
        return true;
    }

    // While the ring holds little, it is filled in small pieces: the
    // feeder may be about to wait for it (a join whose stages came with the
    // tail of the voice before, a seek), and a whole chunk through a
    // stretcher takes a while on a busy machine. What the stages make does
    // not depend on how their input is cut.
    const std::size_t held = (m_ring.capacity() - m_ring.freeSpace()) / std::size_t(ch);
    const bool low = double(held) < kLowSeconds * m_current.format.rate;
    const std::size_t piece =
        std::min({m_inFrames - m_inPos, m_chunkIn, low ? kLowPiece : m_chunkIn});
    const std::size_t stageOut =
        m_stretch ? std::min(m_stretch->maxOutput(piece), m_stretchOut) : piece;
    const std::size_t need = ringNeed(stageOut);
    if (m_ring.freeSpace() < need) {
        m_decoderNeed.store(need, std::memory_order_relaxed);
        return false;
    }
    const double* in = m_in + m_inPos * std::size_t(m_sourceChannels);
    const double* mapped = in;
    if (m_sourceChannels != ch) {
        applyMatrix(in, m_sourceChannels, m_mapped.data(), ch, m_matrix.data(), piece);
        mapped = m_mapped.data();
    }
    if (m_stretch) {
        const auto step = m_stretch->process(mapped, piece, m_stretched.data(), stageOut);
        toRing(m_stretched.data(), step.produced);
    } else {
        toRing(mapped, piece);
    }
    m_inPos += piece;
    m_segIn += double(piece);
    return true;
}

bool Voice::quitting() const {
    std::lock_guard lock(m_requestMutex);
    return m_quit;
}

void Voice::push(const double* samples, std::size_t frames) {
    if (frames == 0)
        return;
    const std::size_t n = frames * std::size_t(std::max(m_current.format.channels, 1));
    // Every caller checked the room first (ringNeed); a short write would
    // drop samples and leave half a frame in the ring.
    [[maybe_unused]] const std::size_t put = m_ring.write(samples, n);
    assert(put == n);
    m_segOut += std::int64_t(frames);
    wakeEngine();
}

void Voice::finishSegment(bool failed) {
    {
        std::lock_guard lock(m_requestMutex);
        if (m_openTail == m_current.serial)
            m_openTail = 0;
        if (m_handTo && m_handToSerial == m_current.serial) {
            m_handTo->decline();
            m_handTo.reset();
        }
    }
    m_segmentDone = true;
    m_eof.store(m_current.serial << 1 | (failed ? 1 : 0), std::memory_order_release);
    wakeEngine();
}

// ---- feeder --------------------------------------------------------------------

Voice::Pull Voice::pull(std::size_t want, const StreamFormat& format) {
    Pull p;
    // Order matters: the end mark, then the write index, then the segment, so
    // that everything a finished segment wrote is counted, and data past a
    // newer segment's start is never taken for the old one.
    const std::uint64_t eof = m_eof.load(std::memory_order_acquire);
    const std::uint64_t w = m_ring.publishedWriteIndex();
    const Segment seg = m_segment.load();
    adoptSegment(seg);
    if (seg.serial != serialOf(m_state.load(std::memory_order_acquire)) ||
        seg.channels != format.channels || std::abs(seg.rate - format.rate) > 1e-9) {
        // The decoder has not caught up with a seek or a new stream format
        // yet: what the ring holds is from before it and must not be heard.
        p.starving = true;
        wakeDecoder();
        return p;
    }
    const std::uint64_t r = m_ring.readIndex();
    const std::size_t avail = w > r ? std::size_t(w - r) / std::size_t(seg.channels) : 0;
    const bool atEnd = eof != kNone && (eof >> 1) == seg.serial;
    p.frames = std::min(want, avail);
    p.starving = !atEnd && avail < want;
    // A decoder that went to sleep waiting for room must not be left there
    // while the feeder waits for it.
    if (p.starving)
        wakeDecoder();
    p.ends = atEnd && avail <= want;
    p.failed = atEnd && (eof & 1);
    if (atEnd) {
        p.remaining = std::int64_t(avail);
    } else {
        const double fed = seg.sourceStart + double(m_feedConsumed) * seg.ratio;
        p.remaining = std::max(
            std::int64_t(avail),
            std::int64_t(std::llround(
                (double(m_sourceFrames.load(std::memory_order_relaxed)) - fed) / seg.ratio)));
    }
    return p;
}

double Voice::bufferedSeconds() const {
    const Segment seg = m_segment.load();
    const std::uint64_t w = m_ring.publishedWriteIndex();
    const std::uint64_t r = m_ring.readIndex();
    if (seg.channels <= 0 || !(seg.rate > 0) || w <= r)
        return 0.0;
    return double((w - r) / std::uint64_t(seg.channels)) / seg.rate;
}

void Voice::adoptSegment(const Segment& seg) {
    if (m_feedHaveSeg && seg.serial == m_feedSeg.serial)
        return;
    m_ring.skipTo(seg.startIndex);
    m_feedSeg = seg;
    m_feedHaveSeg = true;
    m_feedConsumed = 0;
    m_meterCount = 0; // what was queued of the old segment is not heard
    wakeDecoder();    // the skipped samples were room it may be waiting for
}

void Voice::followSegment() {
    adoptSegment(m_segment.load());
}

Voice::Schedule Voice::pendingStart() const {
    Schedule s;
    s.at = m_startAt.load(&s.tag);
    s.pending = s.tag != m_feedStartTag && s.at != kNow;
    return s;
}

bool Voice::markEnded(bool failed) {
    std::uint64_t expected = m_feedSeg.serial << 3 | kRunning;
    const std::uint64_t ended = m_feedSeg.serial << 3 | kEnded | (failed ? kFailed : 0);
    if (!m_state.compare_exchange_strong(expected, ended))
        return false;
    wakeDecoder();
    return true;
}

void Voice::mixedToEnd(double heardAt, bool failed) {
    if (m_feedEndPending && m_feedEndSerial == m_feedSeg.serial)
        return;
    m_feedEndPending = true;
    m_feedEndSerial = m_feedSeg.serial;
    m_feedEndAt = heardAt;
    m_feedEndFailed = failed;
}

bool Voice::endIfHeard(double deviceNow) {
    if (!m_feedEndPending)
        return false;
    // A seek or a new format since: that end will never be heard.
    if (m_feedEndSerial != serialOf(m_state.load(std::memory_order_acquire))) {
        m_feedEndPending = false;
        return false;
    }
    // Within a microsecond: the clock and the end time are sums of doubles.
    if (deviceNow + 1e-6 < m_feedEndAt)
        return false;
    m_feedEndPending = false;
    return m_feedEndSerial == m_feedSeg.serial && markEnded(m_feedEndFailed);
}

double Voice::pendingEndAt() const {
    return m_feedEndPending ? m_feedEndAt : std::numeric_limits<double>::infinity();
}

void Voice::markLost() {
    std::uint64_t st = m_state.load();
    for (;;) {
        if (!(st & kRunning))
            return;
        if (m_state.compare_exchange_weak(st, serialOf(st) << 3 | kEnded | kFailed))
            break;
    }
    wakeDecoder();
}

} // namespace ql::platform
