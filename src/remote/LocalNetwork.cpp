#include "remote/LocalNetwork.h"

#include <QFile>
#include <QNetworkInterface>

namespace ql::remote {

namespace {
// The routing table is a few lines per route; anything longer is not one.
constexpr qint64 kRouteTableLimit = 1 << 20;
} // namespace

NetworkFacts systemNetworkFacts() {
    NetworkFacts facts;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        for (const QNetworkAddressEntry& entry : i.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.isNull())
                continue;
            facts.addresses.push_back({i.name(), ip.toString(),
                                       ip.protocol() == QAbstractSocket::IPv4Protocol,
                                       flags.testFlag(QNetworkInterface::IsUp),
                                       flags.testFlag(QNetworkInterface::IsLoopBack)});
        }
    }
    QFile route(QStringLiteral("/proc/net/route"));
    if (route.open(QIODevice::ReadOnly))
        facts.defaultRoute = defaultRouteInterface(route.read(kRouteTableLimit));
    return facts;
}

std::optional<QString> lanIPAddress() {
    return chooseLanAddress(systemNetworkFacts());
}

} // namespace ql::remote
