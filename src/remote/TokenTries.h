// How fast one peer may try tokens on the phone remote. A wrong token costs
// the peer one try; it holds kBurst tries at most and earns kPerSecond a
// second, so guessing runs at that pace at best, while a right token costs
// nothing and another peer is never held back. Pure: the time comes in.
//
// A peer is an IPv4 address (an IPv4 address reached over IPv6 counts as
// itself), or the /64 network of an IPv6 one: one device picks new IPv6
// addresses inside its /64 at will, but not outside it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>

namespace ql::remote {

class TokenTries {
public:
    static constexpr int kPerSecond = 10;
    static constexpr int kBurst = 10;
    // The most peers remembered, whatever arrives. A newcomer past it makes
    // room: peers back to a full store of tries go first (forgetting them
    // changes nothing), else the one with the most tries left. A forgotten
    // peer comes back with a full store, so the most rested is the one whose
    // forgetting gives back least: a guesser that spent its tries is forgotten
    // only once every other peer has spent as much, and a flood of new
    // addresses, each spending a try of its own, never buys it fresh ones.
    static constexpr int kRemembered = 1024;

    // Whether `peer` may have a token compared at `nowMs` (a steady clock).
    bool mayTry(const QHostAddress& peer, qint64 nowMs);
    // `peer` gave a missing or wrong token at `nowMs`.
    void failed(const QHostAddress& peer, qint64 nowMs);
    // Peers with tries spent that are still remembered (kRemembered at most).
    int remembered() const { return int(m_peers.size()); }

    // The key the tries of `peer` are counted under.
    static QByteArray peerKey(const QHostAddress& peer);

private:
    struct Store {
        double tries = kBurst;
        qint64 at = 0; // when `tries` was last brought up to date
    };
    Store& storeOf(const QHostAddress& peer, qint64 nowMs);
    void makeRoom(qint64 nowMs);

    QHash<QByteArray, Store> m_peers;
};

} // namespace ql::remote
