// Asks whoever shares a card (a sound server) to let us have it, and gives it
// back. AlsaHardware goes through this interface before it opens a `hw:`
// device for itself; tests give it a fake.
//
// DBusCardReserver is the real one: one DeviceReservation per card number
// ("Audio<N>") on the session bus. Without a session bus nothing can hold a
// reservation, so every reserve() answers Unavailable and the caller simply
// opens the device.
#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace ql::platform::alsa {

class DeviceReservation;

class CardReserver {
public:
    enum class Outcome {
        Acquired,    // the card is reserved for us
        Refused,     // its holder keeps it
        Unavailable, // no reservation system: open the device and see
    };

    virtual ~CardReserver() = default;
    virtual Outcome reserve(int card, const QString& deviceName) = 0;
    virtual void release(int card) = 0;

    // Another program of higher priority asks for card N: return true once we
    // have closed it. Unset = refuse.
    std::function<bool(int card)> onReleaseRequested;
    // Card N was taken from us.
    std::function<void(int card)> onLost;
};

class DBusCardReserver final : public CardReserver {
public:
    // Our priority among reservation holders. Sound servers hold cards at
    // priority 0, so any higher value makes them give the card up on request.
    static constexpr int kPriority = 10;
    static constexpr int kTimeoutMs = 3000;

    // On the session bus, reached at the first reserve() and only within a
    // running application (the validation mode has none: it opens directly).
    DBusCardReserver();
    explicit DBusCardReserver(QDBusConnection bus);
    ~DBusCardReserver() override;

    Outcome reserve(int card, const QString& deviceName) override;
    void release(int card) override;

private:
    std::optional<QDBusConnection> m_bus;
    std::map<int, std::unique_ptr<DeviceReservation>> m_held;
};

} // namespace ql::platform::alsa
