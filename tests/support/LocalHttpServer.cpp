// Guards against: (fixture) a server unlike a real one.
#include "LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace ql::test {

namespace {
QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}
} // namespace

LocalHttpServer::LocalHttpServer() {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                if (buffer->contains("\r\n\r\n"))
                    return; // already answered; a GET carries no body
                *buffer += socket->readAll();
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end >= 0)
                    answer(socket, buffer->left(end + 2));
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool LocalHttpServer::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl LocalHttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void LocalHttpServer::route(const QString& path, const Reply& reply) {
    m_routes[path] = reply;
}

QByteArray LocalHttpServer::header(int index, const QByteArray& name) const {
    if (index < 0 || index >= m_requests.size())
        return {};
    const QList<QByteArray> lines = m_requests[index].split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

void LocalHttpServer::answer(QTcpSocket* socket, const QByteArray& head) {
    m_requests << head;
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
    const Reply missing{404, {}, {}, Reply::Mode::Normal};
    const Reply reply = m_routes.value(path, m_routes.value(path.section(u'?', 0, 0), missing));
    if (reply.mode == Reply::Mode::Silent)
        return;

    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason(reply.status) +
                     "\r\nConnection: close\r\n";
    if (reply.mode == Reply::Mode::Normal)
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    else if (reply.mode == Reply::Mode::Truncated)
        out += "Content-Length: " + QByteArray::number(reply.body.size() + 100) + "\r\n";
    else if (reply.mode == Reply::Mode::Drip)
        out += "Content-Length: 100000\r\n";
    for (const auto& [name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    if (reply.mode == Reply::Mode::Drip) {
        socket->write(out + "\r\n");
        auto* drip = new QTimer(socket);
        connect(drip, &QTimer::timeout, socket, [socket] { socket->write(" "); });
        drip->start(reply.dripMs);
        return;
    }
    out += "\r\n" + reply.body;
    socket->write(out);
    socket->disconnectFromHost(); // after the buffered bytes are written
}

} // namespace ql::test
