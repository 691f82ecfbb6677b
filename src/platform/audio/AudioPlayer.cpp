#include "platform/audio/AudioPlayer.h"

#include "platform/audio/AudioFile.h"
#include "platform/audio/OutputEngine.h"
#include "platform/audio/OutputEngines.h"
#include "platform/audio/PcmStream.h"
#include "platform/audio/Voice.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ql::platform {

namespace {

constexpr double kAtOnce = -std::numeric_limits<double>::infinity();
constexpr float kMinRate = 0.5f, kMaxRate = 2.0f;
constexpr float kFloorDb = -160.0f;
const char* const kNoSamples = "duration check: the player reports no duration";

// A file of no length plays nothing: it would end at once.
bool holdsSamples(std::int64_t frames, double rate) {
    return frames > 0 && rate > 0;
}

} // namespace

AudioPlayer::Opened AudioPlayer::open(OutputEngines& outputs, const QString& path) {
    Opened r;
    auto file = AudioFile::open(path);
    if (!file.file) {
        r.error = file.error;
        r.keptFromFfmpeg = file.keptFromFfmpeg;
        return r;
    }
    r.player.reset(new AudioPlayer(outputs, std::move(file.file), path));
    return r;
}

AudioPlayer::Opened AudioPlayer::openPlayable(OutputEngines& outputs, const QString& path) {
    AudioFile::Opened file = AudioFile::open(path);
    return openPlayable(outputs, std::move(file.file), file.error, file.keptFromFfmpeg);
}

AudioPlayer::Opened AudioPlayer::openPlayable(OutputEngines& outputs,
                                              std::unique_ptr<AudioFile> file, const QString& error,
                                              bool keptFromFfmpeg) {
    Opened r;
    if (!file) {
        r.error = error;
        r.keptFromFfmpeg = keptFromFfmpeg;
        return r;
    }
    const QString path = file->path();
    r.player.reset(new AudioPlayer(outputs, std::move(file), path));
    if (r.player &&
        !holdsSamples(r.player->m_voice->sourceFrames(), r.player->sourceSampleRate())) {
        r.player.reset();
        r.error = QString::fromLatin1(kNoSamples);
        r.noSamples = true;
    }
    return r;
}

QString AudioPlayer::refusal(const QString& path) {
    const AudioFile::Opened opened = AudioFile::open(path, QDeadlineTimer(AudioFile::kOpenLimitMs));
    AudioFile* file = opened.file.get();
    if (!file)
        return opened.error;
    if (!holdsSamples(file->frames(), file->sampleRate()))
        return QString::fromLatin1(kNoSamples);
    constexpr std::int64_t kFrames = 1024;
    std::vector<double> block(std::size_t(kFrames * file->channels()));
    if (file->read(block.data(), kFrames) < 0)
        return file->error();
    return {};
}

AudioPlayer::Opened AudioPlayer::openStream(OutputEngines& outputs,
                                            std::shared_ptr<PcmStream> stream) {
    Opened r;
    auto file = AudioFile::openStream(stream);
    if (!file.file) {
        r.error = file.error;
        return r;
    }
    r.player.reset(new AudioPlayer(outputs, std::move(file.file), stream->address()));
    r.player->m_stream = std::move(stream);
    return r;
}

AudioPlayer::AudioPlayer(OutputEngines& outputs, std::unique_ptr<AudioFile> file,
                         const QString& path)
    : m_outputs(outputs), m_path(path), m_voice(std::make_unique<Voice>(std::move(file))),
      m_notifier(std::make_unique<QObject>()) {
    QObject* notifier = m_notifier.get();
    // Runs on the decoder thread: hand the end to the main thread. A player
    // destroyed before the call runs takes its notifier, and the call, along.
    m_voice->setEndedHook([this, notifier](std::uint64_t serial, bool ok) {
        if (!QCoreApplication::instance())
            return;
        QMetaObject::invokeMethod(
            notifier, [this, serial, ok] { deliverEnd(serial, ok); }, Qt::QueuedConnection);
    });
}

AudioPlayer::~AudioPlayer() {
    // First, so that a read waiting on the stream's decoder returns.
    if (m_stream)
        m_stream->end();
    leaveEngine();
    m_voice->shutdown();
    m_notifier.reset();
    m_voice.reset();
}

OutputEngine* AudioPlayer::resolveEngine(const QString& uid, QString& error) {
    AudioHardware& hw = m_outputs.hardware();
    DeviceId id = kNoDevice;
    if (!uid.isEmpty())
        id = hw.deviceForUid(uid).value_or(kNoDevice);
    // A chosen device that is gone falls back to the system default.
    if (id == kNoDevice)
        id = m_outputs.defaultDevice();
    if (id == kNoDevice) {
        error = QStringLiteral("No output device is available.");
        return nullptr;
    }
    OutputEngine* e = m_outputs.engine(id);
    if (!e) {
        error = QStringLiteral("The output device cannot play sound.");
        return nullptr;
    }
    if (!e->ensureOpen(error, m_voice->sourceRate()))
        return nullptr;
    return e;
}

bool AudioPlayer::bind() {
    QString error;
    OutputEngine* e = resolveEngine(m_uid, error);
    if (!e) {
        m_error = error;
        return false;
    }
    if (e != m_engine) {
        if (m_engine)
            m_engine->detach(m_voice.get());
        m_engine = nullptr;
    }
    if (!m_voice->isStarted())
        m_voice->start(e->format(), m_startFrame);
    if (!e->attach(m_voice.get())) {
        m_error = QStringLiteral("Too many players are using the output device.");
        return false;
    }
    m_engine = e;
    return true;
}

bool AudioPlayer::prepareToPlay() {
    m_voice->setGain(m_volume);
    applySpeed();
    return bind();
}

bool AudioPlayer::play() {
    return startVoice(kAtOnce);
}

bool AudioPlayer::playAt(double deviceTime) {
    if (std::isnan(deviceTime)) {
        m_error = QStringLiteral("The start time is not a number.");
        return false;
    }
    if (std::isinf(deviceTime)) {
        m_error = QStringLiteral("The start time is not a finite number.");
        return false;
    }
    return startVoice(deviceTime);
}

bool AudioPlayer::startVoice(double deviceTime) {
    if (!prepareToPlay())
        return false;
    if (!m_voice->isRunning() && m_engine->matchChannels(*m_voice)) {
        QString error;
        if (!m_engine->ensureOpen(error)) {
            m_error = error;
            return false;
        }
    }
    if (m_engine->isLost()) {
        m_error = QStringLiteral("The output device is gone.");
        return false;
    }
    // Frames of a paused player still queued in the device would be heard
    // before this one's.
    m_engine->beforeStart(m_voice.get());
    if (m_voice->hasEnded())
        m_voice->retarget(m_engine->format(), 0);
    else if (!m_voice->isRunning() && m_voice->position() > 0 && !hasUnheard())
        m_voice->fadeInNext(); // a resume whose queue was dropped (a paused device goes on)
    // A start at the end of another player continues its converter.
    if (!m_voice->isRunning() && std::isfinite(deviceTime))
        m_engine->continueStages(*m_voice, deviceTime);
    // The start time first: a feeder that sees the voice running sees it too.
    m_voice->scheduleStart(deviceTime);
    m_voice->setRunning(true);
    m_engine->wake();
    return true;
}

void AudioPlayer::suppressEnd() {
    if (m_voice->isStarted() && m_voice->hasEnded())
        m_suppressed = m_voice->serial();
}

void AudioPlayer::pause() {
    m_voice->setRunning(false);
    m_voice->scheduleStart(kAtOnce);
    suppressEnd();
    fadeOutQueued();
    if (m_engine)
        m_engine->wake();
}

void AudioPlayer::fadeOutQueued() {
    // What the device still holds of this player fades out instead of
    // playing on (or stopping in one sample); the player goes on later with
    // the frame after the fade, so no frame is heard twice.
    if (hasUnheard())
        m_engine->flush({}, m_voice.get());
}

void AudioPlayer::stop() {
    if (silence())
        m_voice->shutdown();
}

void AudioPlayer::retire() {
    silence();
}

bool AudioPlayer::silence() {
    m_voice->setRunning(false);
    m_voice->scheduleStart(kAtOnce);
    suppressEnd();
    if (!m_voice->isStarted())
        return false;
    fadeOutQueued();
    m_startFrame = m_voice->hasEnded() ? 0 : std::int64_t(std::llround(heardFrame()));
    leaveEngine();
    if (m_stream)
        m_stream->end();
    return true;
}

double AudioPlayer::heardFrame() const {
    return m_engine ? m_voice->heardPosition(m_engine->deviceTime()) : m_voice->position();
}

bool AudioPlayer::hasUnheard() const {
    return m_engine && m_voice->isStarted() && !m_voice->hasEnded() &&
           m_voice->hasUnheard(m_engine->deviceTime());
}

void AudioPlayer::leaveEngine() {
    if (!m_engine)
        return;
    // What this player left in the device's queue is not to be heard; a
    // device nothing else plays on is given back (unless a next track
    // starts right away).
    fadeOutQueued();
    m_engine->detach(m_voice.get());
    m_engine->releaseSoon();
    m_engine = nullptr;
}

bool AudioPlayer::isPlaying() const {
    return m_voice->isStarted() && m_voice->isRunning();
}

bool AudioPlayer::endPending() const {
    const std::uint64_t serial = m_voice->serial();
    return m_voice->isStarted() && m_voice->hasEnded() && serial != m_suppressed &&
           serial != m_delivered;
}

double AudioPlayer::duration() const {
    return double(m_voice->sourceFrames()) / m_voice->sourceRate();
}

double AudioPlayer::currentTime() const {
    double frame = double(m_startFrame);
    if (m_voice->isStarted() && m_voice->hasEnded())
        frame = 0.0;
    else if (m_voice->isStarted())
        frame = heardFrame();
    return std::clamp(frame / m_voice->sourceRate(), 0.0, duration());
}

double AudioPlayer::bufferedSeconds() const {
    return m_voice->bufferedSeconds();
}

void AudioPlayer::setCurrentTime(double seconds) {
    if (std::isnan(seconds))
        return;
    const double t = std::clamp(seconds, 0.0, duration());
    const auto frame = std::int64_t(std::llround(t * m_voice->sourceRate()));
    if (!m_voice->isStarted()) {
        m_startFrame = frame;
        return;
    }
    // The old position's frames still queued in the device are dropped, so
    // the seek is heard at once.
    const auto move = [this, frame] {
        if (m_voice->isRunning())
            m_voice->fadeInNext();
        m_voice->retarget(m_voice->format(), frame);
    };
    if (hasUnheard())
        m_engine->flush(move, m_voice->isRunning() ? m_voice.get() : nullptr);
    else
        move();
}

void AudioPlayer::setVolume(float volume) {
    if (std::isnan(volume))
        return;
    m_volume = std::clamp(volume, 0.0f, 1.0f);
    m_voice->setGain(m_volume);
}

void AudioPlayer::applySpeed() {
    const double speed = m_enableRate ? double(m_rate) : 1.0;
    if (speed == m_voice->speed())
        return;
    // The new speed is heard at once: what is queued at the old one is
    // dropped and the voice goes on from the frame heard last.
    const auto change = [this, speed] { m_voice->setSpeed(speed); };
    if (hasUnheard())
        m_engine->flush(change);
    else
        change();
}

void AudioPlayer::setEnableRate(bool enable) {
    m_enableRate = enable;
    applySpeed();
}

void AudioPlayer::setRate(float rate) {
    if (std::isnan(rate))
        return;
    m_rate = std::clamp(rate, kMinRate, kMaxRate);
    applySpeed();
}

bool AudioPlayer::isMeteringEnabled() const {
    return m_voice->meter().isEnabled();
}

void AudioPlayer::setMeteringEnabled(bool enabled) {
    m_voice->meter().setEnabled(enabled);
    if (!enabled) {
        m_average.clear();
        m_peak.clear();
    }
}

void AudioPlayer::updateMeters() {
    const MeterTap::Span span = m_voice->meter().take();
    const int channels = numberOfChannels();
    m_average.assign(std::size_t(channels), kFloorDb);
    m_peak.assign(std::size_t(channels), kFloorDb);
    if (span.channels <= 0 || span.samples < span.channels)
        return;
    // Stream channel c carries file channel c (a mono file is on every
    // stream channel; channels past the stream's are not played).
    const double frames = double(span.samples / span.channels);
    for (int c = 0; c < std::min({channels, span.channels, MeterTap::kMaxChannels}); ++c) {
        m_average[std::size_t(c)] = MeterTap::decibels(span.sumSquares[std::size_t(c)] / frames);
        const double peak = span.peak[std::size_t(c)];
        m_peak[std::size_t(c)] = MeterTap::decibels(peak * peak);
    }
}

float AudioPlayer::averagePower(int channel) const {
    return channel >= 0 && std::size_t(channel) < m_average.size() ? m_average[std::size_t(channel)]
                                                                   : kFloorDb;
}

float AudioPlayer::peakPower(int channel) const {
    return channel >= 0 && std::size_t(channel) < m_peak.size() ? m_peak[std::size_t(channel)]
                                                                : kFloorDb;
}

double AudioPlayer::deviceCurrentTime() const {
    return m_engine ? m_engine->deviceTime() : 0.0;
}

double AudioPlayer::sourceSampleRate() const {
    return m_voice->sourceRate();
}

int AudioPlayer::numberOfChannels() const {
    return m_voice->sourceChannels();
}

bool AudioPlayer::setOutputDevice(const QString& uid) {
    if (!uid.isEmpty() && !m_outputs.hardware().deviceForUid(uid)) {
        m_error = QStringLiteral("The output device “%1” is not connected.").arg(uid);
        return false;
    }
    if (!m_engine) {
        m_uid = uid; // bound at the next prepare or play
        return true;
    }
    QString error;
    OutputEngine* e = resolveEngine(uid, error);
    if (!e) {
        m_error = error;
        return false;
    }
    m_uid = uid;
    if (e == m_engine)
        return true;
    m_engine->detach(m_voice.get());
    m_engine = nullptr;
    if (!e->attach(m_voice.get())) {
        m_error = QStringLiteral("Too many players are using the output device.");
        return false;
    }
    m_engine = e;
    e->wake();
    return true;
}

QString AudioPlayer::readError() const {
    return m_voice->readError();
}

void AudioPlayer::deliverEnd(std::uint64_t serial, bool ok) {
    if (serial != m_voice->serial() || serial == m_suppressed || serial == m_delivered ||
        !m_voice->hasEnded())
        return;
    m_delivered = serial;
    if (m_stream)
        m_stream->end();
    if (auto cb = onFinished)
        cb(ok);
}

} // namespace ql::platform
