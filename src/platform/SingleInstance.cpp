#include "platform/SingleInstance.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <unistd.h>

namespace ql::platform {

namespace {
// A hand-over is a short list of paths; anything longer is not ours.
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/quavelark-instance");
    return QDir::tempPath() + QStringLiteral("/quavelark-%1-instance").arg(getuid());
}

bool SingleInstance::handOver(const QStringList& files, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray line = QJsonDocument(QJsonArray::fromStringList(files)).toJson(QJsonDocument::Compact);
    line.append('\n');
    socket.write(line);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance closes once it has read the line: only then is the
    // hand-over certain.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // Nobody answered handOver(), so a socket file here is left from a run
        // that ended without closing it.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<QLocalSocket> guard(socket);
        auto consume = [this, guard] {
            if (!guard)
                return;
            if (!guard->canReadLine()) {
                if (guard->bytesAvailable() > kMaxMessage)
                    guard->disconnectFromServer();
                return;
            }
            const QByteArray line = guard->readLine(kMaxMessage);
            guard->disconnectFromServer();
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (!doc.isArray())
                return;
            QStringList files;
            for (const QJsonValue& v : doc.array()) {
                if (v.isString() && !v.toString().isEmpty())
                    files << v.toString();
            }
            if (files.isEmpty()) {
                if (onReopen)
                    onReopen();
            } else if (onOpenFiles) {
                onOpenFiles(files);
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, consume);
        consume();
    }
}

} // namespace ql::platform
