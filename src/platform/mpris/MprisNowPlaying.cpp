#include "platform/mpris/MprisNowPlaying.h"

#include "platform/mpris/MprisAdaptors.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <cmath>

namespace ql::platform {

namespace {
const QString kService = QStringLiteral("org.mpris.MediaPlayer2.quavelark");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// A publication this far from where the previous one predicted is a seek.
constexpr double kSeekedAfter = 1.0; // seconds
// The longest the quit waits for the bus to take the cleared information.
constexpr int kFlushMs = 1000;

// Microseconds of a time in seconds; 0 for a time that is not a number or
// below zero, and at most a million years, so the conversion never overflows.
qint64 micros(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return qint64(std::llround(std::min(seconds, 3.2e13) * 1e6));
}

// A valid object path per track id: path elements take letters, digits and
// "_" only, so a minus sign becomes "m".
QDBusObjectPath trackPath(qint64 id) {
    QString element = QString::number(id);
    element.replace(QLatin1Char('-'), QLatin1Char('m'));
    return QDBusObjectPath(QStringLiteral("/org/quavelark/track/t") + element);
}

QVariantMap metadataOf(const std::optional<NowPlayingInfo>& info) {
    if (!info)
        return {};
    return {
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(trackPath(info->trackId))},
        {QStringLiteral("mpris:length"), micros(info->duration)},
        {QStringLiteral("xesam:title"), info->title},
        {QStringLiteral("xesam:artist"), QStringList{info->artist}},
        {QStringLiteral("xesam:album"), info->album},
    };
}

// The members Metadata is made of, without the position.
bool sameTrack(const std::optional<NowPlayingInfo>& a, const std::optional<NowPlayingInfo>& b) {
    if (!a || !b)
        return a.has_value() == b.has_value();
    return a->trackId == b->trackId && a->title == b->title && a->artist == b->artist &&
           a->album == b->album && micros(a->duration) == micros(b->duration);
}

QString statusText(PlaybackStatus status) {
    switch (status) {
    case PlaybackStatus::Playing:
        return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
        return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}
} // namespace

MprisNowPlaying::MprisNowPlaying(QDBusConnection bus) : m_bus(std::move(bus)) {
    new MprisRootAdaptor(this);
    m_player = new MprisPlayerAdaptor(this);
    m_lastAt.start();
}

MprisNowPlaying::~MprisNowPlaying() {
    if (m_service.isEmpty())
        return;
    m_bus.unregisterObject(kPath);
    m_bus.unregisterService(m_service);
}

void MprisNowPlaying::registerCommands(RemoteCommands commands) {
    m_commands = std::move(commands);
    // A change is announced with the publication that finds it.
    m_last.volume = volume();
    m_last.speed = rate();
    if (!m_service.isEmpty() || !m_bus.isConnected())
        return;
    if (!m_bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors))
        return;
    const QString instance = kService + QStringLiteral(".instance") +
                             QString::number(QCoreApplication::applicationPid());
    for (const QString& name : {kService, instance}) {
        if (m_bus.registerService(name)) {
            m_service = name;
            return;
        }
    }
    m_bus.unregisterObject(kPath);
}

void MprisNowPlaying::publish(const NowPlayingInfo& info, PlaybackStatus status) {
    announce({info, status, volume(), rate()});
}

void MprisNowPlaying::clear() {
    announce({std::nullopt, PlaybackStatus::Stopped, volume(), rate()});
    if (m_service.isEmpty())
        return;
    // The process may end right after this: a reply from the bus, asked for
    // after the signals, proves they have left.
    m_bus.call(QDBusMessage::createMethodCall(
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
               QDBus::Block, kFlushMs);
}

void MprisNowPlaying::announce(Published next) {
    const Published last = std::exchange(m_last, next);
    const double sinceLast = m_lastAt.restart() / 1000.0;
    if (m_service.isEmpty())
        return;

    QVariantMap changed;
    if (!sameTrack(last.info, next.info))
        changed.insert(QStringLiteral("Metadata"), metadataOf(next.info));
    if (last.status != next.status)
        changed.insert(QStringLiteral("PlaybackStatus"), statusText(next.status));
    if (last.volume != next.volume)
        changed.insert(QStringLiteral("Volume"), next.volume);
    if (last.speed != next.speed)
        changed.insert(QStringLiteral("Rate"), next.speed);
    if (!changed.isEmpty()) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList{};
        m_bus.send(signal);
    }

    // A new track starts where it starts; clients learn of it from Metadata.
    if (last.info && next.info && last.info->trackId == next.info->trackId) {
        const double expected = last.info->elapsed + sinceLast * last.info->rate * last.speed;
        if (std::abs(next.info->elapsed - expected) > kSeekedAfter)
            emit m_player->Seeked(micros(next.info->elapsed));
    }
}

QVariantMap MprisNowPlaying::metadata() const {
    return metadataOf(m_last.info);
}

QString MprisNowPlaying::playbackStatus() const {
    return statusText(m_last.status);
}

qint64 MprisNowPlaying::positionMicros() const {
    if (m_commands.position)
        if (const std::optional<double> seconds = m_commands.position())
            return micros(*seconds);
    return m_last.info ? micros(m_last.info->elapsed) : 0;
}

double MprisNowPlaying::volume() const {
    return m_commands.volume ? m_commands.volume() : 0.0;
}

double MprisNowPlaying::rate() const {
    return m_commands.speed ? m_commands.speed() : 1.0;
}

void MprisNowPlaying::setPosition(const QDBusObjectPath& track, qint64 at) {
    // Only the track shown may be moved; a request about another is stale.
    if (!m_last.info || track.path() != trackPath(m_last.info->trackId).path() ||
        !m_commands.changePosition)
        return;
    m_commands.changePosition(double(at) / 1e6);
}

void MprisNowPlaying::seek(qint64 offset) {
    if (m_commands.changePosition)
        m_commands.changePosition((double(positionMicros()) + double(offset)) / 1e6);
}

} // namespace ql::platform
