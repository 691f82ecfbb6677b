// Writing a phone-remote response: the head in its fixed order, then the body.
// Pure: the server only sends these bytes and closes the connection.
#pragma once

#include "remote/RemoteRequest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QVariant>

namespace ql::remote {

// "HTTP/1.1 <status>", Content-Type, Content-Length, Cache-Control: no-store,
// Connection: close, an empty line, then the body.
QByteArray responseBytes(QByteArrayView status, QByteArrayView contentType, QByteArrayView body);

// Compact JSON of a map or list, or "{}" when it cannot be written faithfully
// (a number that is not finite, or a value JSON has no form for).
QByteArray jsonBody(const QVariant& value);

// "200 OK" with `value` as JSON.
QByteArray jsonResponse(const QVariant& value);

// The whole answer to a refused request (400, 403, 404, 414 or 429).
QByteArray refusalResponse(Verdict verdict);

} // namespace ql::remote
