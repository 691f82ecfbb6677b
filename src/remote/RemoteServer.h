// The phone remote's HTTP server: one request per connection, answered and
// closed. It runs on the main event loop (no thread of its own, no waiting
// call): requests are handled one after another and each callback runs on the
// main thread when its request is judged (RemoteRequest), so a long task on the
// main thread delays remote answers.
//
// It knows nothing of the player: the owner installs onState, onCommand and
// onSearch (the controller does so in App::showRemote, remote/AppRemote.cpp,
// with the player's state, its commands and the catalog search). Without a
// callback "/s" and "/c" answer "{}" and "/l" "[]".
//
// Bounded: a connection is read until its request line ends (LF or CR LF), 8192
// bytes or the peer's close; only an ended line is acted on. A line still not
// ended at 8192 bytes is answered "414"; one cut off by the peer's close gets
// nothing done and no answer. A connection without a complete request line
// after the deadline (5 s) is closed without an answer. Wrong tokens are slowed
// per peer (TokenTries): past its tries, a peer's request is answered "429"
// without its token being looked at; a right token costs nothing. At most 64
// connections are open, and one peer address holds at most 16 of them: a new
// connection past either bound closes the oldest connection still waiting for
// its request line, taken from the new one's own peer when that peer is at its
// share, else from the peer holding the most. Only live connections count: one
// is counted from its acceptance until it is closed, whichever way it ends.
#pragma once

#include "remote/RemoteRequest.h"
#include "remote/TokenTries.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class QTcpSocket;

namespace ql::remote {

class RemoteServer : public QObject {
public:
    static constexpr quint16 kDefaultPort = 8766;
    static constexpr int kDeadlineMs = 5000;
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerPeer = 16;

    explicit RemoteServer(QString token, quint16 port = kDefaultPort,
                          QHostAddress address = QHostAddress::Any, QObject* parent = nullptr);
    // Closes every connection still waiting for its request, without an answer.
    ~RemoteServer() override;

    // Starts listening; the listener's error text on failure (no listener is
    // then kept), an empty string on success.
    QString start();
    // Closes the listener only: connections already accepted are still answered.
    void stop();
    bool isListening() const { return m_listener.isListening(); }
    // The port listened on (the real one when constructed with port 0).
    quint16 port() const;
    const QString& token() const { return m_token; }
    // Replaces the 5 s deadline (tests: short, so idle connections end soon).
    void setDeadlineMs(int ms) { m_deadlineMs = ms; }
    // Connections accepted and not yet closed (waiting or being answered).
    int openConnections() const { return int(m_slots.size()); }

    // The page served at "/", loaded once from the program's resources.
    static const QByteArray& page();

    std::function<QVariantMap()> onState;
    std::function<QVariantMap(const QString& command, const Query& query)> onCommand;
    std::function<QVariantList(const QString& text)> onSearch;

private:
    struct Slot {
        QTcpSocket* socket;
        QHostAddress peer;
        bool waiting; // its request line has not been judged yet
    };

    void handle(QTcpSocket* socket);
    bool makeRoom(const QHostAddress& peer);
    void close(QTcpSocket* socket);
    void forget(QTcpSocket* socket);
    void judge(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& bytes);
    QByteArray answer(const RemoteRequest& request);

    const QString m_token;
    const quint16 m_port;
    const QHostAddress m_address;
    QTcpServer m_listener;
    QList<Slot> m_slots; // live connections, oldest first
    int m_deadlineMs = kDeadlineMs;
    TokenTries m_tries;
    QElapsedTimer m_clock; // the steady time the tries are counted by
};

} // namespace ql::remote
