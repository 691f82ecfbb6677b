#include "platform/alsa/AlsaPcmStream.h"

#include "platform/alsa/AlsaFormats.h"

#include "platform/alsa/AlsaNative.h"

#include <algorithm>
#include <cerrno>

namespace ql::platform::alsa {

namespace {

// About 200 ms of buffer in four periods: a feeder that wakes every 50 ms
// uses little CPU, and a 150 ms stall on a busy machine is still no gap.
constexpr unsigned kBufferMicros = 200'000;
constexpr unsigned kPeriodMicros = 50'000;

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
    unsigned bufferTime = kBufferMicros;
    unsigned periodTime = kPeriodMicros;
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
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    if ((err = snd_pcm_sw_params(pcm, sw)) < 0)
        return err;
    return snd_pcm_prepare(pcm);
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
    return s;
}

AlsaPcmStream::~AlsaPcmStream() {
    if (m_pcm)
        snd_pcm_close(pcmOf(m_pcm));
}

bool AlsaPcmStream::recover(int err) {
    // Under-run (EPIPE) or suspend (ESTRPIPE): prepare again, silently.
    if (snd_pcm_recover(pcmOf(m_pcm), err, 1) < 0) {
        m_gone = true;
        return false;
    }
    return true;
}

std::int64_t AlsaPcmStream::write(const void* data, std::int64_t frames) {
    if (m_gone)
        return -1;
    if (frames <= 0 || (m_paused && !m_canPause))
        return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const snd_pcm_sframes_t n = snd_pcm_writei(pcmOf(m_pcm), data, snd_pcm_uframes_t(frames));
        if (n >= 0)
            return n;
        if (n == -EAGAIN)
            return 0;
        if (n == -EPIPE || n == -ESTRPIPE || n == -EINTR) {
            if (!recover(int(n)))
                return -1;
            continue;
        }
        // ENODEV (unplugged), EBADFD, EIO: the stream is dead.
        m_gone = true;
        return -1;
    }
    return 0;
}

StreamReport AlsaPcmStream::report() {
    StreamReport r;
    r.lost = m_gone;
    if (m_gone)
        return r;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
    if (avail < 0) {
        if (!recover(int(avail))) {
            r.lost = true;
            return r;
        }
        avail = snd_pcm_avail_update(pcm);
        if (avail < 0)
            avail = snd_pcm_sframes_t(m_bufferFrames);
    }
    const std::int64_t free = std::clamp<std::int64_t>(avail, 0, m_bufferFrames);
    r.queuedFrames = m_bufferFrames - free;
    r.freeFrames = (m_paused && !m_canPause) ? 0 : free;
    snd_pcm_sframes_t delay = 0;
    const std::int64_t delayFrames =
        snd_pcm_delay(pcm, &delay) == 0 && delay >= 0 ? std::int64_t(delay) : r.queuedFrames;
    r.delay = double(delayFrames) / double(m_config.rate);
    r.running = snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING;
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

void AlsaPcmStream::drain(int timeoutMs) {
    if (m_gone)
        return;
    snd_pcm_t* pcm = pcmOf(m_pcm);
    // Less than a period queued never reached the start threshold.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED &&
        snd_pcm_avail_update(pcm) < snd_pcm_sframes_t(m_bufferFrames))
        snd_pcm_start(pcm);
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
