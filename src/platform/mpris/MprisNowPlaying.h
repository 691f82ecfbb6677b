// Now Playing over MPRIS 2 on the session bus: the service
// "org.mpris.MediaPlayer2.quavelark" (or ".instance<pid>" when another copy
// holds that name) with the object "/org/mpris/MediaPlayer2" and its two
// interfaces (platform/mpris/MprisAdaptors.h).
//
// What clients read:
// - Metadata and PlaybackStatus as last published; Position when asked (the
//   player's time, or the last published elapsed time without a player);
//   Volume and Rate from the controller when asked.
// - PropertiesChanged, after each publication, naming only the members whose
//   value changed since the previous one (never Position).
// - Seeked, when a publication of the same track finds playback more than
//   1 s from where the previous publication would have put it by now.
//
// Without a session bus (none running, or an address where nothing listens)
// the object stays inactive and prints nothing.
//
// Thread: main thread. Commands arrive on it and go to the callbacks as they
// come; the controller queues the work behind them.
#pragma once

#include "platform/NowPlaying.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QVariantMap>

class QDBusObjectPath;

namespace ql::platform {

class MprisPlayerAdaptor;

class MprisNowPlaying final : public QObject, public NowPlaying {
    Q_OBJECT
public:
    explicit MprisNowPlaying(QDBusConnection bus = QDBusConnection::sessionBus());
    ~MprisNowPlaying() override;

    void registerCommands(RemoteCommands commands) override;
    void publish(const NowPlayingInfo& info, PlaybackStatus status) override;
    void clear() override;

    // The bus name held; empty while inactive.
    QString serviceName() const { return m_service; }

    // For the adaptors: the members' values and the commands.
    const RemoteCommands& commands() const { return m_commands; }
    QVariantMap metadata() const;
    QString playbackStatus() const;
    qint64 positionMicros() const;
    double volume() const;
    double rate() const;
    void setPosition(const QDBusObjectPath& track, qint64 at);
    void seek(qint64 offset);
    QDBusConnection& bus() { return m_bus; }

private:
    struct Published {
        std::optional<NowPlayingInfo> info;
        PlaybackStatus status = PlaybackStatus::Stopped;
        double volume = 0;
        double speed = 1;
    };
    // Tells clients what changed between the last publication and `next`,
    // which then becomes the last.
    void announce(Published next);

    QDBusConnection m_bus;
    MprisPlayerAdaptor* m_player = nullptr;
    QString m_service;
    RemoteCommands m_commands;
    Published m_last;
    QElapsedTimer m_lastAt; // since the last publication
};

} // namespace ql::platform
