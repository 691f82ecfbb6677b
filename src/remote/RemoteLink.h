// How a phone finds the remote: the access token, the local IPv4 address
// offered to it, and the address text shown and encoded in the QR code.
// Pure: the interface list, the routing table and the random source come in
// as values.
//
// The address choice, over the IPv4 addresses in the system's order:
//  - only interfaces that are up and not loopback count; docker and virtual
//    bridge interfaces (docker*, br-*, virbr*, veth*) are skipped, since a
//    phone on the Wi-Fi can never reach them;
//  - an address of the interface that carries the default IPv4 route wins at
//    once, whatever its prefix (it is the one the computer reaches the
//    network by);
//  - otherwise the first address starting "192.168.", "10." or "172." (the
//    whole 172 prefix) wins; with none, there is no address.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

class QRandomGenerator;

namespace ql::remote {

// One address of one interface, as the system lists them.
struct InterfaceAddress {
    QString interface; // "eth0", "wlan0", "docker0", …
    QString ip;        // numeric text, "192.168.1.20"
    bool ipv4 = true;
    bool up = true;
    bool loopback = false;
};

struct NetworkFacts {
    std::vector<InterfaceAddress> addresses; // in the system's order
    QString defaultRoute = {};               // interface of the default IPv4 route, "" when none
};

// The token's characters: lower-case letters without i, l and o, and the
// digits 2 to 9, so it reads unambiguously and needs no escaping in an address.
inline constexpr QStringView kTokenAlphabet = u"abcdefghjkmnpqrstuvwxyz23456789";
inline constexpr int kTokenLength = 10;

// kTokenLength characters drawn independently and uniformly from the alphabet.
QString drawRemoteToken(QRandomGenerator& random);

// Whether a stored token is too weak to keep: shorter than the tokens drawn
// here (a hand-made "abc" falls to guessing in seconds). Longer ones, of any
// alphabet, are kept: an address a phone holds must stay valid. Empty is no
// token at all, not a weak one.
bool isWeakToken(QStringView token);

// The interface of the default IPv4 route in the text of /proc/net/route
// (destination and mask 0, route up; the lowest metric, the first of equals);
// "" when the text names none.
QString defaultRouteInterface(QByteArrayView procNetRoute);

// Whether the interface is a container or virtual bridge link.
bool isVirtualInterface(QStringView name);

// The address to offer to a phone, by the rules above; none when no address
// qualifies.
std::optional<QString> chooseLanAddress(const NetworkFacts& facts);

// "http://<ip>:<port>/?t=<token>", every part as it is.
QString remoteAddress(const QString& ip, quint16 port, const QString& token);

} // namespace ql::remote
