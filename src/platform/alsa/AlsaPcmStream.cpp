#include "platform/alsa/AlsaPcmStream.h"

#include "platform/alsa/AlsaFormats.h"

#include "platform/alsa/AlsaNative.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include <poll.h>
#include <time.h>

namespace ql::platform::alsa {

namespace {

// About 200 ms of buffer in four periods: a feeder that wakes every 50 ms
// uses little CPU, and a 150 ms stall on a busy machine is still no gap.
constexpr unsigned kBufferMicros = 200'000;
constexpr unsigned kPeriodMicros = 50'000;
// A sound server's shared device: 25 ms periods, the writer woken every
// second one (wakeFrames). PipeWire's plugin takes that 50 ms wake-up as its
// own period and as its latency, and the server runs its graph in the
// longest cycle every client allows (a power of two, at most 2048 frames by
// default: 42.7 ms at 48 kHz). A pause or seek is heard one cycle and the
// fade after the call, 48 ms; the plugin's thread wakes once a cycle. A
// wake-up under 42.7 ms (a 40 ms period) would halve the cycle and double
// those wake-ups; a longer one changes nothing there. The buffer stays
// 200 ms: a loaded machine under-runs a shorter one.
constexpr unsigned kServerBufferMicros = 200'000;
constexpr unsigned kServerPeriodMicros = 25'000;
// How long a suspended stream is asked to resume before it is prepared
// instead (what it held is then lost).
constexpr std::int64_t kResumeNanos = 1'000'000'000;
// PCM poll descriptors waited on (plugins use one or two).
constexpr int kMaxPollFds = 8;

// Frames free before the writer is woken: a period, and on a sound
// server's shared device two of its short periods (every 50 ms, as on a
// card, and the latency PipeWire's plugin asks of its server).
snd_pcm_uframes_t wakeFrames(const StreamConfig& c, snd_pcm_uframes_t period) {
    return c.shared ? 2 * period : period;
}

std::int64_t steadyNanos() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

snd_pcm_t* pcmOf(void* p) {
    return static_cast<snd_pcm_t*>(p);
}

// Sets up `pcm` at exactly `c`; a negative errno when the device refuses.
int configure(snd_pcm_t* pcm, const StreamConfig& c, snd_pcm_uframes_t& buffer,
              snd_pcm_uframes_t& period, bool& canPause) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err < 0)
        return err;
    // No conversion or resampling inside alsa-lib: the engine has done what
    // is needed, and the bit-perfect path must arrive untouched.
    if ((err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 0)) < 0 ||
        (err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, alsaFormat(c.format))) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm, hw, unsigned(c.channels))) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm, hw, c.rate, 0)) < 0)
        return err;
    unsigned bufferTime = c.shared ? kServerBufferMicros : kBufferMicros;
    unsigned periodTime = c.shared ? kServerPeriodMicros : kPeriodMicros;
    int dir = 0;
    // Near values: a device picks the sizes it has; a failure here keeps its own.
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, &dir);
    dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodTime, &dir);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return err;
    snd_pcm_hw_params_get_buffer_size(hw, &buffer);
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    canPause = snd_pcm_hw_params_can_pause(hw) != 0;
    if (buffer == 0 || period == 0)
        return -EINVAL;

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0)
        return err;
    // Start once a period is queued, whatever the writer does next; wake the
    // writer when a period is free.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, period);
    snd_pcm_sw_params_set_avail_min(pcm, sw, wakeFrames(c, period));
    // What has played is overwritten with silence: a stream that runs dry
    // plays nothing rather than the buffer's old contents.
    snd_pcm_uframes_t boundary = 0;
    if (snd_pcm_sw_params_get_boundary(sw, &boundary) == 0) {
        snd_pcm_sw_params_set_silence_threshold(pcm, sw, 0);
        snd_pcm_sw_params_set_silence_size(pcm, sw, boundary);
    }
    if ((err = snd_pcm_sw_params(pcm, sw)) < 0)
        return err;
    return snd_pcm_prepare(pcm);
}

// Whether the I/O plugin is PipeWire's: its server reads the ring only at
// its own cycle, from the hardware pointer on, so frames past that pointer
// are still ours to take back. alsa-lib names the plugin only in its dump.
bool isPipeWirePlugin(snd_pcm_t* pcm) {
    snd_output_t* out = nullptr;
    if (snd_output_buffer_open(&out) < 0)
        return false;
    snd_pcm_dump(pcm, out);
    char* text = nullptr;
    const std::size_t size = snd_output_buffer_string(out, &text);
    const bool found =
        text && std::string_view(text, size).find("PipeWire") != std::string_view::npos;
    snd_output_close(out);
    return found;
}

// Whether frames alsa-lib says it took back are really not heard. A sound
// server's plugin (an I/O or external plugin: PulseAudio, JACK, bluez) has
// handed every frame on when the write returns; alsa-lib's rewind there only
// moves its own pointer and reports success. What really rewinds: a kernel
// device, dmix/dshare in front of one, the null device, PipeWire's plugin,
// and alsa-lib's own plugins (plug, route, softvol, ...) in front of a card,
// which report the card of the device at the end of the chain.
bool rewindsForReal(snd_pcm_t* pcm) {
    switch (snd_pcm_type(pcm)) {
    case SND_PCM_TYPE_HW:
    case SND_PCM_TYPE_DMIX:
    case SND_PCM_TYPE_DSHARE:
    case SND_PCM_TYPE_NULL:
        return true;
    case SND_PCM_TYPE_IOPLUG:
        return isPipeWirePlugin(pcm);
    case SND_PCM_TYPE_EXTPLUG:
        return false;
    default:
        break;
    }
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_alloca(&info);
    return snd_pcm_info(pcm, info) == 0 && snd_pcm_info_get_card(info) >= 0;
}

} // namespace

std::unique_ptr<AlsaPcmStream> AlsaPcmStream::open(const QString& pcm, const StreamConfig& config,
                                                   int& error) {
    silenceAlsaErrors();
    error = 0;
    if (config.rate == 0 || config.channels <= 0) {
        error = -EINVAL;
        return nullptr;
    }
    snd_pcm_t* handle = nullptr;
    int err =
        snd_pcm_open(&handle, pcm.toUtf8().constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        error = err;
        return nullptr;
    }
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_uframes_t period = 0;
    bool canPause = false;
    err = configure(handle, config, buffer, period, canPause);
    if (err < 0) {
        snd_pcm_close(handle);
        error = err;
        return nullptr;
    }
    std::unique_ptr<AlsaPcmStream> s(new AlsaPcmStream);
    s->m_pcm = handle;
    s->m_config = config;
    s->m_bufferFrames = std::int64_t(buffer);
    s->m_periodFrames = std::int64_t(period);
    s->m_bytesPerFrame = layoutOf(config.format).bytes * config.channels;
    s->m_canPause = canPause;
    s->m_rewinds = rewindsForReal(handle);
    return s;
}

AlsaPcmStream::~AlsaPcmStream() {
    if (m_pcm)
        snd_pcm_close(pcmOf(m_pcm));
}

bool AlsaPcmStream::recover(int err) {
    snd_pcm_t* pcm = pcmOf(m_pcm);
    // A recovery that "succeeds" while every write still fails (a dead sound
    // server behind the PCM) must not go on for ever.
    if (++m_recoveries > kMaxRecoveries)
        return failed(err);
    if (err == -ESTRPIPE) {
        m_suspendedSince = steadyNanos();
        return resumed();
    }
    if (err == -EPIPE || err == -EINTR)
        return recovered(snd_pcm_prepare(pcm) >= 0) || failed(err);
    // ENODEV (unplugged), EBADFD, EIO: the stream is dead.
    return failed(err);
}

bool AlsaPcmStream::resumed() {
    if (m_suspendedSince < 0)
        return true;
    // Asked without waiting: the caller comes back after its own wait (the
    // feeder sleeps in wait(), a period or its timeout at a time).
    snd_pcm_t* pcm = pcmOf(m_pcm);
    const int r = snd_pcm_resume(pcm);
    if (r == -EAGAIN && steadyNanos() - m_suspendedSince < kResumeNanos)
        return false;
    m_suspendedSince = -1;
    // A device that cannot resume, or not in time, starts afresh.
    return recovered(r == 0 || snd_pcm_prepare(pcm) >= 0) || failed(r);
}

bool AlsaPcmStream::recovered(bool ok) {
    if (ok)
        m_recovered.fetch_add(1, std::memory_order_relaxed);
    return ok;
}

bool AlsaPcmStream::failed(int) {
    m_gone = true;
    return false;
}

std::int64_t AlsaPcmStream::write(const void* data, std::int64_t frames) {
    if (m_gone)
        return -1;
    if (frames <= 0 || (m_paused && !m_canPause))
        return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!resumed())
            break; // still waking: tried again on a later call
        const snd_pcm_sframes_t n = snd_pcm_writei(pcmOf(m_pcm), data, snd_pcm_uframes_t(frames));
        if (n > 0) {
            m_recoveries = 0;
            return n;
        }
        if (n == 0 || n == -EAGAIN)
            return 0;
        if (!recover(int(n)))
            break;
    }
    return m_gone ? -1 : 0;
}

StreamReport AlsaPcmStream::report() {
    StreamReport r;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    // Both read after one sync with the hardware pointer, so the delay (what
    // is queued plus what the device and its plugins hold) is current.
    snd_pcm_sframes_t avail = 0, delay = 0;
    const bool awake = !m_gone && resumed();
    int err = awake ? snd_pcm_avail_delay(pcm, &avail, &delay) : 0;
    if (awake && err < 0 && recover(err) && (err = snd_pcm_avail_delay(pcm, &avail, &delay)) < 0) {
        avail = snd_pcm_sframes_t(m_bufferFrames);
        delay = 0;
        err = 0;
    }
    if (m_gone) {
        r.lost = true;
        return r;
    }
    if (!awake || m_suspendedSince >= 0) {
        // Suspended: nothing is taken and the clock stands where it was.
        r = m_last;
        r.freeFrames = 0;
        r.running = false;
        return r;
    }
    const std::int64_t free = std::clamp<std::int64_t>(avail, 0, m_bufferFrames);
    r.queuedFrames = m_bufferFrames - free;
    r.freeFrames = (m_paused && !m_canPause) ? 0 : free;
    const std::int64_t delayFrames = delay >= 0 ? std::int64_t(delay) : r.queuedFrames;
    r.delay = double(delayFrames) / double(m_config.rate);
    r.running = snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING;
    m_last = r;
    return r;
}

void AlsaPcmStream::pause(bool paused) {
    if (m_gone || paused == m_paused)
        return;
    m_paused = paused;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    if (m_canPause) {
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        // Only a running stream pauses, only a paused one resumes; a stream
        // that has not started yet simply starts later.
        if ((paused && state == SND_PCM_STATE_RUNNING) ||
            (!paused && state == SND_PCM_STATE_PAUSED))
            snd_pcm_pause(pcm, paused ? 1 : 0);
        return;
    }
    // No hardware pause: what is queued plays out and the stream under-runs;
    // on resume it is prepared again and starts with the next write.
    if (!paused && snd_pcm_state(pcm) == SND_PCM_STATE_XRUN)
        snd_pcm_prepare(pcm);
}

void AlsaPcmStream::drop() {
    if (m_gone)
        return;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    snd_pcm_drop(pcm);
    const int err = snd_pcm_prepare(pcm);
    // A device still asleep is asked to resume later, as after a write.
    if (err == -ESTRPIPE && m_suspendedSince < 0)
        m_suspendedSince = steadyNanos();
    else if (err != -ESTRPIPE)
        m_suspendedSince = -1;
    m_gone = err < 0 && err != -ESTRPIPE;
    m_paused = false;
}

std::int64_t AlsaPcmStream::rewind(std::int64_t frames) {
    if (m_gone || frames <= 0 || !m_rewinds)
        return 0;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    const snd_pcm_sframes_t can = snd_pcm_rewindable(pcm);
    if (can <= 0)
        return 0;
    const snd_pcm_sframes_t n =
        snd_pcm_rewind(pcm, snd_pcm_uframes_t(std::min<std::int64_t>(frames, can)));
    return n > 0 ? std::int64_t(n) : 0;
}

void AlsaPcmStream::start() {
    if (m_gone)
        return;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED &&
        snd_pcm_avail_update(pcm) < snd_pcm_sframes_t(m_bufferFrames))
        snd_pcm_start(pcm);
}

void AlsaPcmStream::wait(std::int64_t frames, int timeoutMs, int wakeFd) {
    pollfd fds[kMaxPollFds + 1];
    int count = 0;
    if (wakeFd >= 0)
        fds[count++] = pollfd{wakeFd, POLLIN, 0};
    snd_pcm_t* pcm = m_gone ? nullptr : pcmOf(m_pcm);
    int pcmFds = 0;
    if (pcm) {
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
        const bool running = state == SND_PCM_STATE_RUNNING;
        if (running && avail >= 0 &&
            avail < snd_pcm_sframes_t(wakeFrames(m_config, snd_pcm_uframes_t(m_periodFrames)))) {
            // The PCM wakes us once a period is free (avail_min).
            pcmFds = std::clamp(snd_pcm_poll_descriptors_count(pcm), 0, kMaxPollFds);
            pcmFds = std::max(0, snd_pcm_poll_descriptors(pcm, fds + count, unsigned(pcmFds)));
        } else if (running && avail >= 0 && avail < frames) {
            // A period is free but not what is asked: the time the rest takes.
            const auto ms = int((frames - avail) * 1000 / std::max<std::int64_t>(m_config.rate, 1));
            timeoutMs = timeoutMs < 0 ? std::max(ms, 1) : std::min(timeoutMs, std::max(ms, 1));
        }
        // Paused, prepared, starved or suspended: only the timeout or the
        // engine's wake-up (the PCM would answer at once, or never).
    }
    // A negative timeout waits for the wake-up alone (a paused or dead
    // stream): never a busy loop.
    ::poll(fds, nfds_t(count + pcmFds), count + pcmFds == 0 && timeoutMs < 0 ? 10 : timeoutMs);
}

void AlsaPcmStream::drain(int timeoutMs) {
    if (m_gone)
        return;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    // Less than a period queued never reached the start threshold.
    start();
    // The stream is non-blocking: wait for the queue to empty, at most the
    // time given, rather than let snd_pcm_drain decide.
    const int steps = std::max(1, timeoutMs / 10);
    for (int i = 0; i < steps; ++i) {
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        if (state != SND_PCM_STATE_RUNNING)
            break;
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
        if (avail < 0 || avail >= snd_pcm_sframes_t(m_bufferFrames))
            break;
        snd_pcm_wait(pcm, 10);
    }
    snd_pcm_drop(pcm);
}

QString AlsaPcmStream::describeOpenError(int error) {
    switch (-error) {
    case EBUSY:
        return QStringLiteral("The output device is in use by another program.");
    case ENOENT:
    case ENODEV:
        return QStringLiteral("The output device is not connected.");
    case EACCES:
    case EPERM:
        return QStringLiteral("This user may not use the output device.");
    case EINVAL:
        return QStringLiteral("The output device cannot play this format.");
    default:
        return QStringLiteral("The output device could not be opened (%1).")
            .arg(QString::fromLocal8Bit(snd_strerror(error)));
    }
}

} // namespace ql::platform::alsa
