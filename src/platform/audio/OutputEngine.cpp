#include "platform/audio/OutputEngine.h"

#include "platform/LogCategories.h"
#include "platform/audio/SampleCodec.h"
#include "platform/audio/Voice.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ql::platform {

namespace {

std::optional<SampleFormat> sampleFormatOf(const PhysicalFormat& f) {
    if (!f.isLinearPcm || f.channels <= 0)
        return std::nullopt;
    const int bytes = f.bytesPerFrame / f.channels;
    if (f.isFloat)
        return f.bits == 32 && bytes == 4 ? std::optional(SampleFormat::F32) : std::nullopt;
    if (f.bits == 16 && bytes == 2)
        return SampleFormat::S16;
    if (f.bits == 24 && bytes == 3)
        return SampleFormat::S24P;
    if (f.bits == 24 && bytes == 4)
        return SampleFormat::S24In32;
    if (f.bits == 32 && bytes == 4)
        return SampleFormat::S32;
    return std::nullopt;
}

QString describe(const StreamFormat& f) {
    const QString sample = f.sample == SampleFormat::F32
                               ? QStringLiteral("32-bit float")
                               : QStringLiteral("%1-bit").arg(validBits(f.sample));
    return QStringLiteral("%1 Hz, %2, %3 channels").arg(f.rate).arg(sample).arg(f.channels);
}

} // namespace

OutputEngine::OutputEngine(AudioHardware& hardware, DeviceId device,
                           std::unique_ptr<AudioSink> sink)
    : m_hardware(hardware), m_device(device), m_sink(std::move(sink)) {}

OutputEngine::~OutputEngine() {
    stopFeeder();
    logChanges(); // what the feeder counted since the last upkeep
    close();
}

std::optional<StreamFormat> OutputEngine::deviceFormat(QString& error) const {
    const auto name = m_hardware.name(m_device);
    const QString who =
        name ? QStringLiteral("“%1”").arg(*name) : QStringLiteral("The output device");
    const auto streams = m_hardware.outputStreams(m_device);
    if (!streams || streams->empty()) {
        error = QStringLiteral("%1 has no output stream.").arg(who);
        return std::nullopt;
    }
    const auto physical = m_hardware.physicalFormat(streams->front());
    if (!physical) {
        error = QStringLiteral("%1 does not report its stream format.").arg(who);
        return std::nullopt;
    }
    const auto sample = sampleFormatOf(*physical);
    if (!sample) {
        error = QStringLiteral("%1 uses a sample format this player cannot write.").arg(who);
        return std::nullopt;
    }
    const auto nominal = m_hardware.nominalRate(m_device);
    const double rate = nominal && *nominal > 0 ? *nominal : physical->rate;
    if (!(rate > 0)) {
        error = QStringLiteral("%1 reports no sample rate.").arg(who);
        return std::nullopt;
    }
    return StreamFormat{rate, *sample, physical->channels};
}

bool OutputEngine::ensureOpen(QString& error, double startRate) {
    if (!m_sink) {
        error = QStringLiteral("The output device cannot play sound.");
        qCWarning(lcAudio, "device %u: %s", m_device, qUtf8Printable(error));
        return false;
    }
    auto wanted = deviceFormat(error);
    if (!wanted) {
        qCWarning(lcAudio, "device %u: %s", m_device, qUtf8Printable(error));
        return false;
    }
    if (m_sink->takesAnyRate()) {
        // The voice that starts the stream gives it its rate; a voice joining
        // a running stream is converted, and a reopen for another reason
        // keeps the rate.
        if (startRate > 0 && !anyAttachedRunning())
            wanted->rate = startRate;
        else if (m_open && !m_lost.load())
            wanted->rate = m_format.rate;
    }
    if (m_open && !m_lost.load() && *wanted == m_format)
        return true;

    // Where each voice is heard now: what is still queued in the old stream
    // is not heard from it, so it is played again in the new one. With
    // nothing left to hear (a track ended and the next asks for another
    // rate) the old stream plays out what it holds before it closes.
    const bool wasOpen = m_open && !m_lost.load();
    stopFeeder();
    std::vector<std::pair<Voice*, double>> resume;
    bool unheard = false;
    const double now = wasOpen ? heardNow() : m_clock.load();
    for (auto& slot : m_voices) {
        Voice* v = slot.load();
        if (!v)
            continue;
        const bool queued = wasOpen && v->isStarted() && !v->hasEnded() && v->hasUnheard(now);
        unheard = unheard || queued;
        resume.emplace_back(v, std::max(queued ? v->heardPosition(now) : v->position(), 0.0));
    }
    if (wasOpen && !unheard && !anyAttachedRunning())
        m_sink->drain(kDrainMs);
    close();
    m_clockBase = m_clock.load();

    if (!m_sink->open(*wanted, error)) {
        // Nothing will play what the voices hold: those that were playing end
        // as failed rather than wait for a stream that is not there.
        m_lost.store(true);
        for (auto& [v, at] : resume)
            v->markLost();
        qCWarning(lcAudio, "device %u did not open: %s", m_device, qUtf8Printable(error));
        return false;
    }
    qCDebug(lcAudio, "device %u “%s” %s at %s", m_device,
            qUtf8Printable(m_hardware.name(m_device).value_or(QString())),
            wasOpen ? "reopened" : "opened", qUtf8Printable(describe(*wanted)));
    m_format = *wanted;
    m_open = true;
    m_lost.store(false);
    resetStream();
    m_mix.assign(kBlockFrames * std::size_t(m_format.channels), 0.0);
    m_bytes.assign(kBlockFrames * std::size_t(m_format.bytesPerFrame()), 0);
    for (auto& [v, at] : resume)
        if (v->isStarted() && !v->hasEnded() &&
            (!(v->format() == m_format) || std::llround(at) != std::llround(v->position())))
            v->retarget(m_format, std::int64_t(std::llround(at)));
    startFeeder();
    return true;
}

double OutputEngine::heardNow() {
    // The feeder is stopped: the clock is brought up to date here.
    publishClock(m_sink->report());
    return m_clock.load();
}

void OutputEngine::resetStream() {
    for (auto& slot : m_voices)
        if (Voice* v = slot.load())
            v->forgetMixed();
    m_written = 0;
    m_sinkPaused = false;
    m_wasRunning = false;
    m_deviceRan = false;
    m_endWaiting = false;
    m_pendingFrom = m_pendingFrames = 0;
    m_resolved = {};
    m_writtenSeen = -1;
    m_handedOnAt = -1;
    m_oursDelay = -1;
}

void OutputEngine::holdAtHeard() {
    const double now = heardNow();
    for (auto& slot : m_voices) {
        Voice* v = slot.load();
        if (v && v->isStarted() && !v->hasEnded() && v->hasUnheard(now))
            v->retarget(v->format(), std::int64_t(std::llround(v->heardPosition(now))));
    }
}

void OutputEngine::flush(const std::function<void()>& whileHeld, Voice* fading) {
    if (!m_open || m_lost.load() || !m_feeder.joinable()) {
        if (whileHeld)
            whileHeld();
        return;
    }
    stopFeeder();
    if (!fading || !fadeOut(fading)) {
        holdAtHeard();
        m_sink->drop();
        // The dropped frames were never heard: the clock goes on from here.
        m_clockBase = m_clock.load();
        resetStream();
    }
    if (whileHeld)
        whileHeld();
    startFeeder();
}

bool OutputEngine::fadeOut(Voice* fading) {
    const SinkReport report = m_sink->report();
    publishClock(report);
    const double rate = m_format.rate;
    // A sound server reads our queue a whole cycle at a time and already
    // holds a cycle or two of its own: what it would play of the queue kept
    // only delays the pause.
    const double keepSeconds = m_sink->takesAnyRate() ? kServerKeepSeconds : kKeepSeconds;
    const auto keep = std::int64_t(std::llround(keepSeconds * rate));
    const auto fade = std::max<std::int64_t>(std::llround(kFadeSeconds * rate), 1);
    // Taken back: the queue past what the device keeps, no further back than
    // the fading voice's mixed tail reaches.
    const std::int64_t want = std::min(report.queuedFrames - keep, m_written - fading->mixedFrom());
    std::int64_t got = want > 0 ? m_sink->rewind(want) : 0;
    if (got <= 0) {
        // The device cannot give frames back (a sound server's plugin that
        // has handed them on): all it holds is dropped, and the fade starts
        // at the first frame not heard yet, so it is heard at once whatever
        // the size of the buffer.
        const auto heard = std::int64_t(
            std::llround((m_clock.load(std::memory_order_relaxed) - m_clockBase) * rate));
        if (heard < fading->mixedFrom() || heard >= m_written)
            return false;
        got = m_written - heard;
        m_sink->drop();
        m_sinkPaused = false;
    }
    m_written -= got;
    m_pendingFrames = 0; // mixed, never taken: gone with the rest
    const std::int64_t from = m_written;
    const int ch = m_format.channels;
    const auto length = std::size_t(std::min(fade, got));
    // In place of what was taken back: the fading voice's frames falling to
    // silence, every other voice's frames as they were.
    std::vector<double> frames(length * std::size_t(ch), 0.0);
    const double fromTime = m_clockBase + double(from) / rate;
    for (auto& slot : m_voices)
        if (Voice* v = slot.load(); v && v->hasUnheard(fromTime))
            v->addMixed(frames.data(), from, length, ch, v == fading);
    std::vector<unsigned char> bytes(length * std::size_t(m_format.bytesPerFrame()));
    encodeSamples(frames.data(), frames.size(), m_format.sample, bytes.data(), &m_dither);
    // Room was just made for them; a sink that takes fewer cuts the fade short.
    for (std::int64_t put = 0; put < std::int64_t(length);) {
        const std::int64_t n = m_sink->write(bytes.data() + put * m_format.bytesPerFrame(),
                                             std::int64_t(length) - put);
        if (n <= 0)
            break;
        put += n;
        m_written += n;
    }
    // Every voice goes on with the frame after the ones just written (the
    // fading one when it plays again).
    const double nextTime = m_clockBase + double(m_written) / rate;
    for (auto& slot : m_voices) {
        Voice* v = slot.load();
        if (v && v->isStarted() && !v->hasEnded() && v->hasUnheard(fromTime))
            v->retarget(v->format(), std::int64_t(std::llround(v->heardPosition(nextTime))));
    }
    m_resolved = {};
    return true;
}

void OutputEngine::beforeStart(const Voice* voice) {
    if (!m_open || m_lost.load())
        return;
    const double now = deviceTime();
    for (auto& slot : m_voices) {
        const Voice* v = slot.load();
        if (v && v != voice && !v->isRunning() && v->hasUnheard(now)) {
            flush();
            return;
        }
    }
}

bool OutputEngine::matchChannels(const Voice& starting) {
    int want = starting.sourceChannels();
    if (want < 1 || std::any_of(m_voices.begin(), m_voices.end(), [&](const auto& slot) {
            const Voice* v = slot.load();
            return v && v != &starting && v->isRunning();
        }))
        return false;
    const auto streams = m_hardware.outputStreams(m_device);
    if (!streams || streams->empty())
        return false;
    const auto current = m_hardware.physicalFormat(streams->front());
    if (!current || current->channels <= 0 || current->bytesPerFrame % current->channels != 0)
        return false;
    // A mono file stays a copy on both sides of a stereo device; a device
    // left at more channels by a surround file goes back to stereo for it.
    if (want == 1)
        want = current->channels > 2 ? 2 : current->channels;
    if (current->channels == want)
        return false;
    PhysicalFormat f = *current;
    f.bytesPerFrame = current->bytesPerFrame / current->channels * want;
    f.channels = want;
    return m_hardware.setPhysicalFormat(streams->front(), f);
}

void OutputEngine::continueStages(Voice& next, double deviceTime) {
    const double now = m_clock.load();
    Voice* before = nullptr;
    for (auto& slot : m_voices) {
        Voice* v = slot.load();
        if (!v || v == &next || !v->isRunning() || v->hasEnded())
            continue;
        const double end = now + (double(v->sourceFrames()) - v->heardPosition(now)) /
                                     (v->sourceRate() * v->speed());
        if (std::abs(end - deviceTime) > kSnapWindow)
            continue;
        if (next.canFollow(*v)) {
            next.continueAfter(*v);
            return;
        }
        before = before ? before : v;
    }
    // A link made for an earlier start goes, with the stages it waited for.
    if (next.follows() != 0)
        next.retarget(next.format(), std::int64_t(std::llround(next.position())));
    if (before)
        next.setFollows(before->id());
}

bool OutputEngine::releaseIfIdle() {
    if (anyAttachedRunning())
        return false;
    if (!m_open)
        return true;
    stopFeeder();
    if (!m_lost.load())
        holdAtHeard();
    m_sink->release();
    qCDebug(lcAudio, "device %u released", m_device);
    m_open = false;
    m_clockBase = m_clock.load();
    resetStream();
    m_idleSince = -1;
    return true;
}

void OutputEngine::releaseWhenIdleFor(double now) {
    const bool soon = std::exchange(m_releaseSoon, false);
    if (!m_open || anyAttachedRunning()) {
        m_idleSince = -1;
        return;
    }
    if (m_idleSince < 0)
        m_idleSince = now;
    if (soon || now - m_idleSince >= kIdleRelease)
        releaseIfIdle();
}

bool OutputEngine::isAbandoned() const {
    return m_lost.load() &&
           std::all_of(m_voices.begin(), m_voices.end(), [](const auto& s) { return !s.load(); });
}

bool OutputEngine::anyAttachedRunning() const {
    return std::any_of(m_voices.begin(), m_voices.end(), [](const auto& s) {
        const Voice* v = s.load();
        return v && v->isRunning();
    });
}

void OutputEngine::close() {
    if (m_open) {
        m_sink->close();
        qCDebug(lcAudio, "device %u closed", m_device);
    }
    m_open = false;
}

void OutputEngine::logChanges() {
    const auto taken = [](const std::atomic<std::int64_t>& count, std::int64_t& logged) {
        const std::int64_t now = count.load(std::memory_order_relaxed);
        return std::exchange(logged, now) != now ? now : std::int64_t(0);
    };
    if (const std::int64_t n = taken(m_losses, m_loggedLosses))
        qCWarning(lcAudio, "device %u lost (losses so far: %lld)", m_device,
                  static_cast<long long>(n));
    if (const std::int64_t n = taken(m_underruns, m_loggedUnderruns))
        qCWarning(lcAudio, "device %u ran dry while playing (under-runs so far: %lld)", m_device,
                  static_cast<long long>(n));
    const std::int64_t recoveries = m_sink ? m_sink->recoveries() : 0;
    if (std::exchange(m_loggedRecoveries, recoveries) != recoveries)
        qCDebug(lcAudio, "device %u brought back by its driver (recoveries so far: %lld)", m_device,
                static_cast<long long>(recoveries));
    if (const std::int64_t n = taken(m_endWaits, m_loggedEndWaits))
        qCDebug(lcAudio, "device %u playing out the end of a stream (ends so far: %lld)", m_device,
                static_cast<long long>(n));
}

bool OutputEngine::attach(Voice* voice) {
    if (isAttached(voice))
        return true;
    for (auto& slot : m_voices) {
        Voice* empty = nullptr;
        if (slot.load() == nullptr) {
            voice->setEngineWake(&m_wake);
            voice->forgetMixed(); // frames of another stream
            if (m_open && voice->isStarted() && !(voice->format() == m_format))
                voice->retarget(m_format, std::int64_t(std::llround(voice->position())));
            slot.compare_exchange_strong(empty, voice);
            wake();
            return true;
        }
    }
    return false;
}

void OutputEngine::detach(Voice* voice) {
    for (auto& slot : m_voices) {
        Voice* v = voice;
        if (slot.compare_exchange_strong(v, nullptr)) {
            waitForCycle();
            voice->setEngineWake(nullptr);
        }
    }
}

bool OutputEngine::isAttached(const Voice* voice) const {
    return std::any_of(m_voices.begin(), m_voices.end(),
                       [voice](const auto& slot) { return slot.load() == voice; });
}

void OutputEngine::wake() {
    m_wake.raise();
}

void OutputEngine::waitForCycle() const {
    // A cycle is bounded work (mixing and a non-blocking write), so this
    // wait is short; after it the feeder has seen the emptied slot.
    const std::uint64_t c = m_cycle.load();
    if (c & 1)
        while (m_cycle.load() == c)
            std::this_thread::yield();
}

void OutputEngine::startFeeder() {
    if (m_feeder.joinable())
        return;
    m_stop.store(false);
    m_feeder = std::thread([this] { feederLoop(); });
}

void OutputEngine::stopFeeder() {
    if (!m_feeder.joinable())
        return;
    m_stop.store(true);
    wake();
    m_feeder.join();
}

} // namespace ql::platform
