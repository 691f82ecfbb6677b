#include "remote/RemoteServer.h"

#include "app/ControllerLogCategories.h"
#include "remote/RemoteResponse.h"

#include <QFile>
#include <QHash>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace ql::remote {

namespace {

// The bytes collected so far on a connection, kept on the socket itself.
constexpr char kCollected[] = "qlRequest";

QByteArray collected(const QTcpSocket* socket) {
    return socket->property(kCollected).toByteArray();
}

// Closes a connection at once, without an answer.
void cancel(QTcpSocket* socket) {
    socket->abort();
    socket->deleteLater();
}

} // namespace

RemoteServer::RemoteServer(QString token, quint16 port, QHostAddress address, QObject* parent)
    : QObject(parent), m_token(std::move(token)), m_port(port), m_address(std::move(address)) {
    m_clock.start();
    connect(&m_listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_listener.nextPendingConnection())
            handle(socket);
    });
}

RemoteServer::~RemoteServer() {
    // Waiting connections are our children; QTcpSocket aborts on destruction.
    for (const Slot& slot : std::as_const(m_slots))
        slot.socket->disconnect(this);
}

QString RemoteServer::start() {
    if (m_listener.isListening())
        return {};
    if (!m_listener.listen(m_address, m_port)) {
        const QString error = m_listener.errorString();
        m_listener.close();
        qCWarning(lcRemote, "the remote server could not listen on port %u: %s", unsigned(m_port),
                  qUtf8Printable(error));
        return error.isEmpty() ? QStringLiteral("listen failed") : error;
    }
    // Never the address with its token: it is the key to the player.
    qCDebug(lcRemote, "the remote server listens on port %u", unsigned(m_listener.serverPort()));
    return {};
}

void RemoteServer::stop() {
    if (m_listener.isListening())
        qCDebug(lcRemote, "the remote server stops listening");
    m_listener.close();
}

quint16 RemoteServer::port() const {
    return m_listener.isListening() ? m_listener.serverPort() : m_port;
}

const QByteArray& RemoteServer::page() {
    static const QByteArray text = [] {
        QFile file(QStringLiteral(":/remote/page.html"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return text;
}

void RemoteServer::handle(QTcpSocket* socket) {
    const QHostAddress peer = socket->peerAddress();
    if (!makeRoom(peer)) {
        cancel(socket); // every slot is busy answering; it ends within the deadline
        return;
    }
    socket->setParent(this);
    m_slots.append({socket, peer, true});
    // The one link that keeps the count: never cut while the server lives.
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });

    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, socket] { close(socket); });
    deadline->start(m_deadlineMs);

    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        QByteArray bytes = collected(socket);
        bytes += socket->read(kRequestLimit - bytes.size());
        socket->setProperty(kCollected, bytes);
        if (bytes.contains('\n') || bytes.size() >= kRequestLimit)
            judge(socket);
    });
    // The peer closed before a line end: what arrived is dropped unanswered.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        QByteArray bytes = collected(socket);
        bytes += socket->read(kRequestLimit - bytes.size());
        socket->setProperty(kCollected, bytes);
        judge(socket);
    });
}

bool RemoteServer::makeRoom(const QHostAddress& peer) {
    QHash<QHostAddress, int> held;
    for (const Slot& slot : std::as_const(m_slots))
        ++held[slot.peer];
    const bool peerFull = held.value(peer) >= kMaxPerPeer;
    if (!peerFull && m_slots.size() < kMaxConnections)
        return true;
    // The oldest waiting connection of the peer that holds the most (of this
    // peer when it is at its share), so a flood pushes out only itself.
    const Slot* victim = nullptr;
    for (const Slot& slot : std::as_const(m_slots)) {
        if (!slot.waiting || (peerFull && slot.peer != peer))
            continue;
        if (!victim || held.value(slot.peer) > held.value(victim->peer))
            victim = &slot;
    }
    if (!victim)
        return false;
    close(victim->socket);
    return true;
}

// Closes a connection without an answer; it stops counting at once.
void RemoteServer::close(QTcpSocket* socket) {
    QObject::disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    QObject::disconnect(socket, &QTcpSocket::disconnected, this, nullptr);
    forget(socket);
    cancel(socket);
}

void RemoteServer::forget(QTcpSocket* socket) {
    m_slots.removeIf([socket](const Slot& slot) { return slot.socket == socket; });
}

void RemoteServer::judge(QTcpSocket* socket) {
    QHostAddress peer;
    for (Slot& slot : m_slots)
        if (slot.socket == socket) {
            slot.waiting = false;
            peer = slot.peer;
        }
    QObject::disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    QObject::disconnect(socket, &QTcpSocket::disconnected, this, nullptr);
    const qint64 now = m_clock.elapsed();
    const RemoteRequest request =
        judgeRequest(collected(socket), m_token, m_tries.mayTry(peer, now));
    if (request.verdict == Verdict::Forbidden)
        m_tries.failed(peer, now);
    if (request.verdict == Verdict::Drop) {
        close(socket);
        return;
    }
    const QPointer<QTcpSocket> alive(socket);
    const QByteArray bytes = answer(request);
    if (alive) // a callback may have let the server go
        respond(socket, bytes);
}

QByteArray RemoteServer::answer(const RemoteRequest& request) {
    switch (request.verdict) {
    case Verdict::Page:
        return responseBytes("200 OK", "text/html; charset=utf-8", page());
    case Verdict::State:
        return jsonResponse(onState ? onState() : QVariantMap());
    case Verdict::Command:
        return jsonResponse(onCommand ? onCommand(request.argument, request.query) : QVariantMap());
    case Verdict::Search:
        return jsonResponse(onSearch ? onSearch(request.argument) : QVariantList());
    default:
        return refusalResponse(request.verdict);
    }
}

void RemoteServer::respond(QTcpSocket* socket, const QByteArray& bytes) {
    if (socket->state() != QAbstractSocket::ConnectedState) {
        close(socket);
        return;
    }
    // From here the connection lives on its own: once the answer is on its way
    // the server may go, and the answer still reaches the phone. A peer that
    // does not take it within the deadline is cut off.
    socket->setParent(nullptr);
    auto* deadline = socket->findChild<QTimer*>();
    deadline->disconnect(this);
    connect(deadline, &QTimer::timeout, socket, [socket] { cancel(socket); });
    deadline->start(m_deadlineMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(bytes);
    socket->disconnectFromHost();
}

} // namespace ql::remote
