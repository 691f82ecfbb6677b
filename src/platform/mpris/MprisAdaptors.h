// The two MPRIS 2 interfaces of "/org/mpris/MediaPlayer2", exported by
// MprisNowPlaying. Each member only reads from or hands over to it.
//
// Offered: Raise and Quit; Play, Pause, PlayPause, Stop, Next, Previous,
// Seek and SetPosition. Not offered: a track list, and OpenUri, which answers
// "org.freedesktop.DBus.Error.NotSupported" (no URI scheme or MIME type is
// listed). Volume and Rate are read-only: the volume belongs to the window's
// own slider, the speed to the tools panel, and the desktop is given no
// command for either. A write is refused with D-Bus's read-only property
// error (Qt answers so for a property without a setter), never accepted and
// dropped. Rate reads the speed, which Minimum/MaximumRate bound.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

class QDBusMessage;

namespace ql::platform {

class MprisNowPlaying;

class MprisRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    explicit MprisRootAdaptor(MprisNowPlaying* owner);

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Quavelark"); }
    QString desktopEntry() const { return QStringLiteral("quavelark"); }
    QStringList none() const { return {}; }

public slots:
    void Raise();
    void Quit();

private:
    MprisNowPlaying* m_owner;
};

class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ yes)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayerAdaptor(MprisNowPlaying* owner);

    QString playbackStatus() const;
    double rate() const;
    QVariantMap metadata() const;
    double volume() const;
    qlonglong position() const;
    double minimumRate() const { return 0.5; }
    double maximumRate() const { return 2.0; }
    bool yes() const { return true; }

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong Offset);
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position);
    void OpenUri(const QString& Uri, const QDBusMessage& message);

signals:
    void Seeked(qlonglong Position);

private:
    MprisNowPlaying* m_owner;
};

} // namespace ql::platform
