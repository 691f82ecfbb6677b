#include "platform/SingleInstance.h"

#include "app/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <optional>

#include <sys/socket.h>
#include <unistd.h>

namespace ql::platform {

namespace {
// A hand-over is a short list of paths; anything longer is not ours.
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;

std::optional<qint64> peerUid(qintptr descriptor) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return std::nullopt;
    return qint64(cred.uid);
}
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    if (const std::optional<QString> runtime = privateRuntimeFolder())
        return *runtime + QStringLiteral("/quavelark-instance");
    // The temporary folder is shared: a name there could be taken first by
    // another user, who would then receive the file names. Our own folder,
    // checked after making it, cannot.
    const QString tmp = QDir::tempPath();
    if (tmp.isEmpty())
        return {};
    const std::optional<QString> folder =
        makePrivateFolder(tmp + QStringLiteral("/quavelark-%1").arg(::getuid()));
    if (!folder)
        return {};
    return *folder + QStringLiteral("/instance");
}

bool SingleInstance::trusted(qintptr descriptor) const {
    const std::optional<qint64> uid = peerUid(descriptor);
    if (!uid)
        return false;
    return trustsPeer ? trustsPeer(*uid) : *uid == qint64(::getuid());
}

bool SingleInstance::ownInstanceAnswers() const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(500))
        return false;
    const bool ours = trusted(socket.socketDescriptor());
    socket.abort();
    return ours;
}

bool SingleInstance::handOver(const QStringList& files, int timeoutMs) const {
    if (m_name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    if (!trusted(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    QByteArray line =
        QJsonDocument(QJsonArray::fromStringList(files)).toJson(QJsonDocument::Compact);
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
    if (m_name.isEmpty())
        return false;
    if (!m_server)
        m_server = new QLocalServer(this);
    // No access options: with them Qt binds elsewhere and renames the socket
    // into place, silently replacing a live one. The folder already keeps
    // others out, and a plain bind fails on a name in use.
    if (!m_server->listen(m_name)) {
        // Another start may have begun listening since our handOver() found
        // nobody; removing its socket would leave it running unreachable.
        if (ownInstanceAnswers())
            return false;
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
        if (!trusted(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
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
