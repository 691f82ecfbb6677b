// The phone remote's HTTP server: one request per connection, answered and
// closed. It runs on the main event loop (no thread of its own, no waiting
// call): requests are handled one after another and each callback runs on the
// main thread when its request is judged (RemoteRequest), so a long task on the
// main thread delays remote answers.
//
// It knows nothing of the player: the owner installs onState, onCommand and
// onSearch (wiring them to the player is later work). Without a callback "/s"
// and "/c" answer "{}" and "/l" "[]".
//
// Bounded: a connection is read until its request line ends (or 8192 bytes, or
// the peer's close); one without a complete request line after 5 s is closed
// without an answer, and at most 64 connections are open (a new one closes the
// oldest still waiting for its request line).
#pragma once

#include "remote/RemoteRequest.h"

#include <QByteArray>
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

    // The page served at "/", loaded once from the program's resources.
    static const QByteArray& page();

    std::function<QVariantMap()> onState;
    std::function<QVariantMap(const QString& command, const Query& query)> onCommand;
    std::function<QVariantList(const QString& text)> onSearch;

private:
    void handle(QTcpSocket* socket);
    void judge(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& bytes);
    QByteArray answer(const RemoteRequest& request);

    const QString m_token;
    const quint16 m_port;
    const QHostAddress m_address;
    QTcpServer m_listener;
    QList<QTcpSocket*> m_waiting; // accepted, request line not complete, oldest first
    int m_open = 0;
};

} // namespace ql::remote
