// The session-bus device reservation sound servers use to share a card:
// whoever owns the bus name "org.freedesktop.ReserveDevice1.Audio<N>" may use
// card N. PulseAudio, PipeWire and JACK own it while they hold the card and
// give it up when a program of higher priority asks.
//
// acquire() asks for the name. When a server holds it, we call its
// RequestRelease(priority) at "/org/freedesktop/ReserveDevice1/Audio<N>"; when
// it agrees (it has closed the card by then) we take the name over, else the
// card stays the server's. While we own the name we answer RequestRelease
// ourselves, and show our name and priority as the Priority, ApplicationName
// and ApplicationDeviceName properties. release() gives the name back, and a
// server waiting for it takes the card again.
//
// Blocking: acquire() waits for the holder's answer on the calling thread, at
// most `timeoutMs`; a holder that does not answer counts as a refusal, so the
// caller never hangs. Main thread (the thread of the connection's objects).
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace ql::platform::alsa {

class ReservationObject;

class DeviceReservation final : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Acquired,    // the name is ours: nobody held it, or the holder let go
        Refused,     // a holder said no, did not answer, or is not a reservation holder
        Unavailable, // no bus, or the bus would not give us the name at all
    };

    // `device` is the reserved name's last part ("Audio0").
    DeviceReservation(QDBusConnection bus, QString device, int priority, QString applicationName,
                      QString applicationDeviceName, QObject* parent = nullptr);
    ~DeviceReservation() override;

    Outcome acquire(int timeoutMs);
    void release();
    bool isHeld() const { return m_held; }

    QString serviceName() const;
    QString objectPath() const;
    int priority() const { return m_priority; }
    QString applicationName() const { return m_appName; }
    QString applicationDeviceName() const { return m_appDeviceName; }

    // Another program of higher priority asks for the card: return true once
    // the card is closed and may be taken. Unset = refuse.
    std::function<bool()> onReleaseRequested;
    // The name was taken from us (after we agreed, or by force): the card is
    // no longer ours to use.
    std::function<void()> onLost;

    // Called by the exported object.
    bool requestRelease(int priority);

private:
    void nameLost(const QString& name);

    QDBusConnection m_bus;
    QString m_device;
    int m_priority;
    QString m_appName;
    QString m_appDeviceName;
    ReservationObject* m_object = nullptr; // child; exported while held
    bool m_held = false;
    bool m_registered = false;
};

} // namespace ql::platform::alsa
