#include "platform/alsa/CardReserver.h"

#include "platform/alsa/DeviceReservation.h"

#include <QCoreApplication>

namespace ql::platform::alsa {

DBusCardReserver::DBusCardReserver() = default;

DBusCardReserver::DBusCardReserver(QDBusConnection bus) : m_bus(std::move(bus)) {}

DBusCardReserver::~DBusCardReserver() = default;

CardReserver::Outcome DBusCardReserver::reserve(int card, const QString& deviceName) {
    if (card < 0)
        return Outcome::Unavailable;
    if (m_held.count(card))
        return Outcome::Acquired;
    auto r =
        std::make_unique<DeviceReservation>(*m_bus, QStringLiteral("Audio%1").arg(card), kPriority,
                                            QStringLiteral("Quavelark"), deviceName);
    switch (r->acquire(kTimeoutMs)) {
    case DeviceReservation::Outcome::Refused:
        return Outcome::Refused;
    case DeviceReservation::Outcome::Unavailable:
        return Outcome::Unavailable;
    case DeviceReservation::Outcome::Acquired:
        break;
    }
    r->onReleaseRequested = [this, card] { return onReleaseRequested && onReleaseRequested(card); };
    r->onLost = [this, card] {
        // Forget the reservation first: the callback may reserve again.
        auto it = m_held.find(card);
        if (it != m_held.end()) {
            it->second.release()->deleteLater();
            m_held.erase(it);
        }
        if (onLost)
            onLost(card);
    };
    m_held.emplace(card, std::move(r));
    return Outcome::Acquired;
}

void DBusCardReserver::release(int card) {
    m_held.erase(card);
}

} // namespace ql::platform::alsa
