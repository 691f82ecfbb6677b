#include "remote/RemoteLink.h"

#include <QByteArrayList>
#include <QRandomGenerator>

#include <limits>

namespace ql::remote {

QString drawRemoteToken(QRandomGenerator& random) {
    QString token;
    token.reserve(kTokenLength);
    for (int i = 0; i < kTokenLength; ++i)
        token += kTokenAlphabet[random.bounded(int(kTokenAlphabet.size()))];
    return token;
}

bool isWeakToken(QStringView token) {
    return !token.isEmpty() && token.size() < kTokenLength;
}

QString defaultRouteInterface(QByteArrayView procNetRoute) {
    constexpr unsigned kRouteUp = 0x1; // RTF_UP
    QString best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    const QByteArrayList lines = procNetRoute.toByteArray().split('\n');
    // The first line names the columns: Iface Destination Gateway Flags
    // RefCnt Use Metric Mask …
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayList cols = lines[i].simplified().split(' ');
        if (cols.size() < 8)
            continue;
        bool flagsOk = false, metricOk = false, destOk = false, maskOk = false;
        const uint flags = cols[3].toUInt(&flagsOk, 16);
        const qulonglong metric = cols[6].toULongLong(&metricOk, 10);
        const uint destination = cols[1].toUInt(&destOk, 16);
        const uint mask = cols[7].toUInt(&maskOk, 16);
        if (!flagsOk || !metricOk || !destOk || !maskOk || destination != 0 || mask != 0 ||
            !(flags & kRouteUp))
            continue;
        if (best.isEmpty() || metric < bestMetric) {
            best = QString::fromUtf8(cols[0]);
            bestMetric = metric;
        }
    }
    return best;
}

bool isVirtualInterface(QStringView name) {
    for (const QStringView prefix : {u"docker", u"br-", u"virbr", u"veth"})
        if (name.startsWith(prefix))
            return true;
    return false;
}

std::optional<QString> chooseLanAddress(const NetworkFacts& facts) {
    std::optional<QString> candidate;
    for (const InterfaceAddress& a : facts.addresses) {
        if (a.ip.isEmpty() || !a.ipv4 || !a.up || a.loopback || isVirtualInterface(a.interface))
            continue;
        if (!facts.defaultRoute.isEmpty() && a.interface == facts.defaultRoute)
            return a.ip;
        if (!candidate &&
            (a.ip.startsWith(u"192.168.") || a.ip.startsWith(u"10.") || a.ip.startsWith(u"172.")))
            candidate = a.ip;
    }
    return candidate;
}

QString remoteAddress(const QString& ip, quint16 port, const QString& token) {
    return QStringLiteral("http://") + ip + u':' + QString::number(port) + QStringLiteral("/?t=") +
           token;
}

} // namespace ql::remote
