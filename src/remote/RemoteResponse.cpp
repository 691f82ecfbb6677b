#include "remote/RemoteResponse.h"

#include <QJsonDocument>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

namespace ql::remote {

namespace {

// Qt writes null for a number that is not finite and for values JSON cannot
// hold; the phone must not mistake such a state for a real one.
bool isJsonable(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::QStringList:
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        return std::isfinite(value.toDouble());
    case QMetaType::QVariantList:
        for (const QVariant& item : value.toList())
            if (!isJsonable(item))
                return false;
        return true;
    case QMetaType::QVariantMap:
        for (const QVariant& item : value.toMap())
            if (!isJsonable(item))
                return false;
        return true;
    case QMetaType::QVariantHash:
        for (const QVariant& item : value.toHash())
            if (!isJsonable(item))
                return false;
        return true;
    default:
        return false;
    }
}

} // namespace

QByteArray responseBytes(QByteArrayView status, QByteArrayView contentType, QByteArrayView body) {
    QByteArray out;
    out.reserve(160 + body.size());
    out += "HTTP/1.1 ";
    out += status;
    out += "\r\nContent-Type: ";
    out += contentType;
    out += "\r\nContent-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    out += body;
    return out;
}

QByteArray jsonBody(const QVariant& value) {
    const int type = value.typeId();
    const bool container = type == QMetaType::QVariantMap || type == QMetaType::QVariantHash ||
                           type == QMetaType::QVariantList || type == QMetaType::QStringList;
    if (!container || !isJsonable(value))
        return QByteArrayLiteral("{}");
    return QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact);
}

QByteArray jsonResponse(const QVariant& value) {
    return responseBytes("200 OK", "application/json; charset=utf-8", jsonBody(value));
}

QByteArray refusalResponse(Verdict verdict) {
    switch (verdict) {
    case Verdict::Forbidden:
        // Always this text: the phone shows it before any language is known.
        return responseBytes("403 Forbidden", "text/plain; charset=utf-8",
                             QByteArrayView("주소(QR)의 토큰이 필요합니다."));
    case Verdict::NotFound:
        return responseBytes("404 Not Found", "text/plain", {});
    case Verdict::TooLong:
        return responseBytes("414 URI Too Long", "text/plain", {});
    case Verdict::Slowed:
        return responseBytes("429 Too Many Requests", "text/plain", {});
    default:
        return responseBytes("400 Bad Request", "text/plain", {});
    }
}

} // namespace ql::remote
