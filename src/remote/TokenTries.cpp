#include "remote/TokenTries.h"

#include <algorithm>

namespace ql::remote {

namespace {
double refilled(double tries, qint64 fromMs, qint64 toMs) {
    const double earned =
        double(std::max<qint64>(0, toMs - fromMs)) * TokenTries::kPerSecond / 1000.0;
    return std::min<double>(TokenTries::kBurst, tries + earned);
}
} // namespace

QByteArray TokenTries::peerKey(const QHostAddress& peer) {
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    if (mapped)
        return QByteArray("4:") + QByteArray::number(v4);
    if (peer.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR a = peer.toIPv6Address();
        return QByteArray("6:") + QByteArray(reinterpret_cast<const char*>(a.c), 8).toHex();
    }
    return QByteArray("?:") + peer.toString().toUtf8();
}

TokenTries::Store& TokenTries::storeOf(const QHostAddress& peer, qint64 nowMs) {
    const QByteArray key = peerKey(peer);
    auto it = m_peers.find(key);
    if (it == m_peers.end()) {
        if (m_peers.size() >= kRemembered)
            makeRoom(nowMs);
        it = m_peers.insert(key, Store{double(kBurst), nowMs});
    }
    it->tries = refilled(it->tries, it->at, nowMs);
    it->at = std::max(it->at, nowMs);
    return *it;
}

bool TokenTries::mayTry(const QHostAddress& peer, qint64 nowMs) {
    const QByteArray key = peerKey(peer);
    const auto it = m_peers.constFind(key);
    return it == m_peers.cend() || refilled(it->tries, it->at, nowMs) >= 1.0;
}

void TokenTries::failed(const QHostAddress& peer, qint64 nowMs) {
    Store& store = storeOf(peer, nowMs);
    store.tries = std::max(0.0, store.tries - 1.0);
}

// Every peer back to a full store goes; when none did, the most rested one
// does (see kRemembered).
void TokenTries::makeRoom(qint64 nowMs) {
    const auto triesNow = [nowMs](const Store& store) {
        return refilled(store.tries, store.at, nowMs);
    };
    if (m_peers.removeIf([&](const auto& entry) { return triesNow(entry.value()) >= kBurst; }) > 0)
        return;
    const auto mostRested =
        std::max_element(m_peers.begin(), m_peers.end(),
                         [&](const Store& a, const Store& b) { return triesNow(a) < triesNow(b); });
    if (mostRested != m_peers.end())
        m_peers.erase(mostRested);
}

} // namespace ql::remote
