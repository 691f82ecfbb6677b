// Guards against: (fixture) a server unlike a real one.
// A small HTTP/1.1 server on 127.0.0.1 for tests of code that fetches from
// the web. It answers each request by its path from canned replies, one
// request per connection, and keeps the request heads it received.
//
// Lives on the thread that made it (the test's main thread): the test must let
// that thread's event loop run (QTRY_*, QTest::qWait) while a client waits.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <utility>

namespace ql::test {

class LocalHttpServer : public QObject {
public:
    struct Reply {
        enum class Mode {
            Normal,    // status, headers with Content-Length, body, close
            NoLength,  // no Content-Length: the body ends when the connection closes
            Truncated, // Content-Length larger than the body sent, then close
            Silent,    // accept and read the request, never answer
            Drip,      // the head, then one byte of the body every dripMs, never ending
        };
        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        Mode mode = Mode::Normal;
        int dripMs = 5000;
    };

    LocalHttpServer();

    // Listens on 127.0.0.1 on a free port; false when it cannot.
    bool listen();
    // Stops listening: later connections are refused.
    void close() { m_server.close(); }
    QUrl url(const QString& path) const;

    // The reply for a request target (path and query), else for its path
    // alone; unknown paths get 404 with an empty body.
    void route(const QString& path, const Reply& reply);

    // Request heads in arrival order (request line and headers, CRLF kept).
    const QList<QByteArray>& requests() const { return m_requests; }
    // The value of a header of request `index`, or none.
    QByteArray header(int index, const QByteArray& name) const;

private:
    void answer(class QTcpSocket* socket, const QByteArray& head);

    QTcpServer m_server;
    QHash<QString, Reply> m_routes;
    QList<QByteArray> m_requests;
};

} // namespace ql::test
