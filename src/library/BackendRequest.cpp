#include "library/BackendRequest.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ql {

QByteArray backendRequestLine(const QString& action, std::optional<qint64> id,
                              const std::optional<QString>& path) {
    QJsonObject request{{QStringLiteral("action"), action}};
    if (id)
        request.insert(QStringLiteral("id"), *id);
    if (path)
        request.insert(QStringLiteral("path"), *path);
    // Compact output never holds a raw line feed (one inside a path is escaped
    // as \n), so the line feed below is the only one on the line.
    return QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace ql
