#include "platform/mpris/MprisAdaptors.h"

#include "platform/mpris/MprisNowPlaying.h"

#include <QDBusMessage>

namespace ql::platform {

namespace {
void run(const std::function<void()>& command) {
    if (command)
        command();
}
} // namespace

MprisRootAdaptor::MprisRootAdaptor(MprisNowPlaying* owner)
    : QDBusAbstractAdaptor(owner), m_owner(owner) {}

void MprisRootAdaptor::Raise() {
    run(m_owner->commands().raise);
}

void MprisRootAdaptor::Quit() {
    run(m_owner->commands().quit);
}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisNowPlaying* owner)
    : QDBusAbstractAdaptor(owner), m_owner(owner) {}

QString MprisPlayerAdaptor::playbackStatus() const {
    return m_owner->playbackStatus();
}

double MprisPlayerAdaptor::rate() const {
    return m_owner->rate();
}

QVariantMap MprisPlayerAdaptor::metadata() const {
    return m_owner->metadata();
}

double MprisPlayerAdaptor::volume() const {
    return m_owner->volume();
}

qlonglong MprisPlayerAdaptor::position() const {
    return m_owner->positionMicros();
}

void MprisPlayerAdaptor::Next() {
    run(m_owner->commands().next);
}

void MprisPlayerAdaptor::Previous() {
    run(m_owner->commands().previous);
}

void MprisPlayerAdaptor::Pause() {
    run(m_owner->commands().pause);
}

void MprisPlayerAdaptor::PlayPause() {
    run(m_owner->commands().togglePlayPause);
}

void MprisPlayerAdaptor::Stop() {
    run(m_owner->commands().stop);
}

void MprisPlayerAdaptor::Play() {
    run(m_owner->commands().play);
}

void MprisPlayerAdaptor::Seek(qlonglong Offset) {
    m_owner->seek(Offset);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    m_owner->setPosition(TrackId, Position);
}

void MprisPlayerAdaptor::OpenUri(const QString&, const QDBusMessage& message) {
    message.setDelayedReply(true);
    m_owner->bus().send(message.createErrorReply(
        QDBusError::NotSupported, QStringLiteral("Quavelark opens no addresses from the bus")));
}

} // namespace ql::platform
