// One request line to the library backend: a compact JSON object with
// "action", "id" when one is given and "path" when one is given, followed by
// exactly one line feed. UTF-8; the order of the keys is not part of the
// protocol.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ql {

QByteArray backendRequestLine(const QString& action, std::optional<qint64> id,
                              const std::optional<QString>& path);

} // namespace ql
