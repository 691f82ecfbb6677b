#include "platform/alsa/AlsaSink.h"

#include "platform/LogCategories.h"
#include "platform/alsa/AlsaHardware.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <poll.h>

namespace ql::platform::alsa {

AlsaSink::AlsaSink(AlsaHardware& hardware, DeviceId device)
    : m_hardware(hardware), m_device(device) {}

AlsaSink::~AlsaSink() {
    close();
    m_hardware.endStream(m_device);
}

PcmFormat AlsaSink::pcmFormatOf(platform::SampleFormat format) {
    switch (format) {
    case platform::SampleFormat::S16:
        return PcmFormat::S16_LE;
    case platform::SampleFormat::S24P:
        return PcmFormat::S24_3LE;
    case platform::SampleFormat::S24In32:
        return PcmFormat::S24_LE;
    case platform::SampleFormat::S32:
        return PcmFormat::S32_LE;
    case platform::SampleFormat::F32:
        return PcmFormat::FLOAT_LE;
    }
    return PcmFormat::FLOAT_LE;
}

bool AlsaSink::open(const StreamFormat& format, QString& error) {
    close();
    const auto pcm = m_hardware.pcmName(m_device);
    if (!pcm) {
        error = AlsaPcmStream::describeOpenError(-ENODEV);
        return false;
    }
    const double rounded = std::round(format.rate);
    if (!(rounded >= 1) || std::abs(format.rate - rounded) > 0.5 || format.channels <= 0) {
        error = AlsaPcmStream::describeOpenError(-EINVAL);
        return false;
    }
    if (!m_hardware.prepareStream(m_device)) {
        qCDebug(lcAlsa, "%s: the card could not be had from its sound server",
                qUtf8Printable(*pcm));
        error = AlsaPcmStream::describeOpenError(-EBUSY);
        return false;
    }
    const StreamConfig config{unsigned(rounded), pcmFormatOf(format.sample), format.channels,
                              m_hardware.isSharedDevice(m_device)};
    int err = 0;
    m_stream = AlsaPcmStream::open(*pcm, config, err);
    if (!m_stream) {
        m_hardware.endStream(m_device);
        // The card may have gone: the device list is made again at its next use.
        m_hardware.rescan();
        qCDebug(lcAlsa, "%s did not open: error %d", qUtf8Printable(*pcm), err);
        error = AlsaPcmStream::describeOpenError(err);
        return false;
    }
    qCDebug(lcAlsa, "%s opened: %u Hz, %d channels, buffer %lld frames in periods of %lld",
            qUtf8Printable(*pcm), config.rate, config.channels,
            static_cast<long long>(m_stream->bufferFrames()),
            static_cast<long long>(m_stream->periodFrames()));
    m_hardware.noteStreamOpened(m_device, config.rate, config.format, config.channels);
    return true;
}

bool AlsaSink::takesAnyRate() const {
    return m_hardware.isSharedDevice(m_device);
}

std::int64_t AlsaSink::write(const void* data, std::int64_t frames) {
    return m_stream ? m_stream->write(data, frames) : -1;
}

SinkReport AlsaSink::report() {
    if (!m_stream)
        return {};
    const StreamReport r = m_stream->report();
    return {r.freeFrames, r.queuedFrames, r.delay, r.running, r.lost};
}

void AlsaSink::pause(bool paused) {
    if (m_stream)
        m_stream->pause(paused);
}

bool AlsaSink::canPause() const {
    return m_stream && m_stream->canPause();
}

void AlsaSink::drop() {
    if (m_stream)
        m_stream->drop();
}

std::int64_t AlsaSink::rewind(std::int64_t frames) {
    return m_stream ? m_stream->rewind(frames) : 0;
}

void AlsaSink::start() {
    if (m_stream)
        m_stream->start();
}

void AlsaSink::drain(int timeoutMs) {
    if (m_stream)
        m_stream->drain(timeoutMs);
}

void AlsaSink::wait(std::int64_t frames, int timeoutMs, int wakeFd) {
    if (m_stream) {
        m_stream->wait(frames, timeoutMs, wakeFd);
        return;
    }
    pollfd fd{wakeFd, POLLIN, 0};
    ::poll(&fd, wakeFd >= 0 ? 1 : 0, wakeFd < 0 && timeoutMs < 0 ? 10 : timeoutMs);
}

void AlsaSink::release() {
    close();
    m_hardware.endStream(m_device);
}

std::int64_t AlsaSink::recoveries() const {
    return m_recoveredBefore + (m_stream ? m_stream->recoveries() : 0);
}

void AlsaSink::close() {
    if (!m_stream)
        return;
    m_recoveredBefore += m_stream->recoveries();
    m_stream.reset();
    m_hardware.noteStreamClosed(m_device);
}

} // namespace ql::platform::alsa
