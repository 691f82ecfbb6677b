#include "platform/alsa/DeviceReservation.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace ql::platform::alsa {

namespace {
const QString kInterface = QStringLiteral("org.freedesktop.ReserveDevice1");
const QString kServicePrefix = QStringLiteral("org.freedesktop.ReserveDevice1.");
const QString kPathPrefix = QStringLiteral("/org/freedesktop/ReserveDevice1/");
} // namespace

// The object a reservation holder shows on the bus. Only its scriptable
// members are exported, so QObject's own slots stay off the bus.
class ReservationObject final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ReserveDevice1")
    Q_PROPERTY(int Priority READ priority)
    Q_PROPERTY(QString ApplicationName READ applicationName)
    Q_PROPERTY(QString ApplicationDeviceName READ applicationDeviceName)
public:
    explicit ReservationObject(DeviceReservation* owner) : QObject(owner), m_owner(owner) {}
    int priority() const { return m_owner->priority(); }
    QString applicationName() const { return m_owner->applicationName(); }
    QString applicationDeviceName() const { return m_owner->applicationDeviceName(); }

public slots:
    Q_SCRIPTABLE bool RequestRelease(int priority) { return m_owner->requestRelease(priority); }

private:
    DeviceReservation* m_owner;
};

DeviceReservation::DeviceReservation(QDBusConnection bus, QString device, int priority,
                                     QString applicationName, QString applicationDeviceName,
                                     QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_device(std::move(device)), m_priority(priority),
      m_appName(std::move(applicationName)), m_appDeviceName(std::move(applicationDeviceName)),
      m_object(new ReservationObject(this)) {}

DeviceReservation::~DeviceReservation() {
    release();
}

QString DeviceReservation::serviceName() const {
    return kServicePrefix + m_device;
}

QString DeviceReservation::objectPath() const {
    return kPathPrefix + m_device;
}

DeviceReservation::Outcome DeviceReservation::acquire(int timeoutMs) {
    if (m_held)
        return Outcome::Acquired;
    if (!m_bus.isConnected() || !m_bus.interface())
        return Outcome::Unavailable;
    QDBusConnectionInterface* bus = m_bus.interface();
    const QString name = serviceName();

    // Allowing replacement is what lets a program of higher priority take the
    // card from us after we agree to its RequestRelease.
    auto reply = bus->registerService(name, QDBusConnectionInterface::DontQueueService,
                                      QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid())
        return Outcome::Unavailable;
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        QDBusMessage ask = QDBusMessage::createMethodCall(name, objectPath(), kInterface,
                                                          QStringLiteral("RequestRelease"));
        ask << qint32(m_priority);
        const QDBusMessage answer = m_bus.call(ask, QDBus::Block, timeoutMs);
        // No answer in time, no such method, or a "no": the holder keeps it.
        if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1 ||
            !answer.arguments().front().toBool())
            return Outcome::Refused;
        reply = bus->registerService(name, QDBusConnectionInterface::ReplaceExistingService,
                                     QDBusConnectionInterface::AllowReplacement);
        if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
            return Outcome::Refused;
    }

    m_held = true;
    m_registered = m_bus.registerObject(objectPath(), m_object,
                                        QDBusConnection::ExportScriptableSlots |
                                            QDBusConnection::ExportScriptableProperties);
    connect(bus, &QDBusConnectionInterface::serviceUnregistered, this, &DeviceReservation::nameLost,
            Qt::UniqueConnection);
    return Outcome::Acquired;
}

void DeviceReservation::release() {
    if (m_registered) {
        m_bus.unregisterObject(objectPath());
        m_registered = false;
    }
    if (!m_held)
        return;
    m_held = false;
    if (m_bus.isConnected() && m_bus.interface())
        m_bus.interface()->unregisterService(serviceName());
}

bool DeviceReservation::requestRelease(int priority) {
    if (!m_held || priority <= m_priority || !onReleaseRequested)
        return false;
    return onReleaseRequested();
}

void DeviceReservation::nameLost(const QString& name) {
    if (!m_held || name != serviceName())
        return;
    // A NameLost of an earlier hold can arrive after we took the name again:
    // believe the bus, not the signal.
    const QDBusReply<QString> owner = m_bus.interface()->serviceOwner(name);
    if (owner.isValid() && owner.value() == m_bus.baseService())
        return;
    m_held = false;
    if (m_registered) {
        m_bus.unregisterObject(objectPath());
        m_registered = false;
    }
    if (onLost)
        onLost();
}

} // namespace ql::platform::alsa

#include "DeviceReservation.moc"
