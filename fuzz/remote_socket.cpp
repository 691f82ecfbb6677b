// Feeds byte streams through the phone remote's real server over loopback:
// 1 to 20 connections at once (past one peer's share, so some are pushed
// out), each written in pieces the input steers, then closed for writing.
// What must hold for every input:
// - every answer is one of the server's own, and the one the judge gives for
//   the same request line (ended by LF, cut at the limit, or never ended:
//   then nothing), or "429" where the judge would compare a token (wrong
//   tokens from the one fuzzing address soon use up its tries);
// - a callback runs only for a connection that carried the token, once;
// - the server closes every connection, and no slot stays counted after;
// - a request with the token from another address is answered "200 OK" afterwards.
#include "remote/RemoteResponse.h"
#include "remote/RemoteServer.h"

#include "FuzzInput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <vector>

using namespace ql::remote;

using ql::fuzz::require;

namespace {

const QString kToken = QStringLiteral("abc234");

struct Remote {
    RemoteServer server{kToken, 0, QHostAddress::LocalHost};
    int calls = 0;
    QList<QByteArray> answers; // every answer the server may give

    Remote() {
        server.setDeadlineMs(2000);
        server.onState = [this] { return ++calls, QVariantMap{{"s", 1}}; };
        server.onCommand = [this](const QString&, const Query&) {
            return ++calls, QVariantMap{{"c", 1}};
        };
        server.onSearch = [this](const QString&) {
            return ++calls, QVariantList{QVariantMap{{"l", 1}}};
        };
        require(server.start().isEmpty());
        for (Verdict v :
             {Verdict::BadRequest, Verdict::Forbidden, Verdict::NotFound, Verdict::TooLong})
            answers << refusalResponse(v);
        answers << responseBytes("200 OK", "text/html; charset=utf-8", RemoteServer::page())
                << jsonResponse(QVariantMap{{"s", 1}}) << jsonResponse(QVariantMap{{"c", 1}})
                << jsonResponse(QVariantList{QVariantMap{{"l", 1}}})
                << refusalResponse(Verdict::Slowed);
    }
};

Remote& remote() {
    static int argc = 1;
    static char name[] = "remote_socket";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    static auto* made = new Remote;
    (void)app;
    return *made;
}

// Runs the event loop until `done` holds; false after `ms`.
template <typename Done> bool spin(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

struct Connection {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray sent, reply;

    bool closed() const { return socket->state() == QAbstractSocket::UnconnectedState; }
};

// The answer the judge gives for the bytes the server reads (a line never
// ended is dropped, unanswered), for a peer with tries left or without.
QByteArray settledAnswer(const QByteArray& sent, const Remote& r, bool mayTryToken) {
    const QByteArray head = sent.first(qMin(sent.size(), kRequestLimit));
    const RemoteRequest request = judgeRequest(head, kToken, mayTryToken);
    switch (request.verdict) {
    case Verdict::Drop:
        return QByteArray();
    case Verdict::Page:
        return r.answers[4];
    case Verdict::State:
        return r.answers[5];
    case Verdict::Command:
        return r.answers[6];
    case Verdict::Search:
        return r.answers[7];
    default:
        return refusalResponse(request.verdict);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::signal(SIGPIPE, SIG_IGN);
    remote();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Remote& r = remote();
    r.calls = 0;
    ql::fuzz::FuzzInput in(data, size);
    std::vector<Connection> connections(1 + in.byte() % 20);
    for (Connection& c : connections)
        c.socket->connectToHost(QHostAddress::LocalHost, r.server.port());

    while (!in.rest().isEmpty()) {
        Connection& c = connections[in.byte() % connections.size()];
        const QByteArrayView piece = in.take(1 + qsizetype(in.byte()) * 33);
        c.socket->write(piece.data(), piece.size());
        c.sent += piece;
        QCoreApplication::processEvents();
    }
    // Everything written, then the writing side closed: the server must end each one.
    require(spin(
        [&] {
            for (const Connection& c : connections)
                if (!c.closed() && (c.socket->state() != QAbstractSocket::ConnectedState ||
                                    c.socket->bytesToWrite() > 0))
                    return false;
            return true;
        },
        5000));
    for (Connection& c : connections)
        if (!c.closed())
            ::shutdown(int(c.socket->socketDescriptor()), SHUT_WR);
    require(spin(
        [&] {
            bool all = true;
            for (Connection& c : connections) {
                c.reply += c.socket->readAll();
                all = all && c.closed();
            }
            return all;
        },
        5000));

    const bool crowded = connections.size() > std::size_t(RemoteServer::kMaxPerPeer);
    int carriedToken = 0;
    for (Connection& c : connections) {
        c.reply += c.socket->readAll();
        carriedToken += c.sent.contains("abc234");
        require(c.reply.isEmpty() || r.answers.contains(c.reply));
        if (c.reply.startsWith("HTTP/1.1 200"))
            require(c.sent.contains("abc234"));
        // Bytes sent after the server stopped reading may reset the connection
        // before its answer is read; a crowd may push it out. Then nothing came.
        const qsizetype lineEnd = c.sent.first(qMin(c.sent.size(), kRequestLimit)).indexOf('\n');
        const bool overrun = c.sent.size() > (lineEnd < 0 ? kRequestLimit : lineEnd + 1);
        const bool slowed = c.reply == refusalResponse(Verdict::Slowed);
        require(c.reply == settledAnswer(c.sent, r, !slowed) ||
                (c.reply.isEmpty() && (crowded || overrun)));
    }
    require(r.calls <= carriedToken);
    connections.clear();
    require(spin([&] { return r.server.openConnections() == 0; }, 3000));

    // The server still serves the phone.
    Connection check;
    require(check.socket->bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    check.socket->connectToHost(QHostAddress::LocalHost, r.server.port());
    check.socket->write("GET /s?t=abc234\r\n");
    require(spin(
        [&] {
            check.reply += check.socket->readAll();
            return check.closed();
        },
        5000));
    require(check.reply == r.answers[5]);
    require(spin([&] { return r.server.openConnections() == 0; }, 3000));
    return 0;
}
