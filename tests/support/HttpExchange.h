// Guards against: (fixture) a client unlike a phone.
// One request to a server on loopback as a phone sends it: a fresh connection,
// the bytes written in pieces 200 ms apart, read until the server closes (the
// caller's event loop runs meanwhile). Header only.
#pragma once

#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>

namespace ql::test {

// What comes back until the server closes, or "-" if it does not within 3 s.
// With `endWriting` the client then closes its sending side, as a phone cut
// off mid-request does, and still reads. From `from` when given (a loopback
// address such as 127.0.0.2: another device).
inline QByteArray exchange(quint16 port, const QList<QByteArray>& parts, bool endWriting = false,
                           const QHostAddress& from = {}) {
    QTcpSocket client;
    if (!from.isNull() && !client.bind(from))
        return "-";
    client.connectToHost(QHostAddress::LocalHost, port);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QTest::qWait(i > 0 ? 200 : 0);
        client.write(parts[i]);
    }
    if (endWriting && client.waitForConnected(3000)) {
        while (client.bytesToWrite() > 0 && client.waitForBytesWritten(3000)) {
        }
        ::shutdown(int(client.socketDescriptor()), SHUT_WR);
    }
    QByteArray reply;
    const bool closed = QTest::qWaitFor(
        [&] { return (reply += client.readAll(), client.state() == QTcpSocket::UnconnectedState); },
        3000);
    return closed ? reply + client.readAll() : "-";
}

// The body of the answer to "GET <target>".
inline QByteArray getBody(quint16 port, const QByteArray& target) {
    const QByteArray reply = exchange(port, {"GET " + target + " HTTP/1.1\r\n\r\n"});
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

} // namespace ql::test
