#include "remote/RemoteControl.h"

#include <QString>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace ql::remote {

namespace {
// Qt's parsers skip white space at both ends; a phone's " 5" is not a number.
bool trimmedWhole(QStringView text) {
    return !text.isEmpty() && !text.front().isSpace() && !text.back().isSpace();
}
} // namespace

std::optional<double> parseWholeNumber(QStringView text) {
    if (!trimmedWhole(text))
        return std::nullopt;
    bool ok = false;
    // C locale: "1,5" is never a number, whatever the user's locale says.
    const double value = text.toDouble(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<qint64> parseWholeInteger(QStringView text) {
    if (!trimmedWhole(text))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

double remoteVolume(double requested) {
    if (std::isnan(requested))
        return 100;
    return std::clamp(requested, 0.0, 100.0);
}

QVariantList searchResults(const std::vector<Track>& rows,
                           const std::vector<std::size_t>& matched) {
    QVariantList out;
    const std::size_t n = std::min(matched.size(), kSearchLimit);
    out.reserve(qsizetype(n));
    for (std::size_t k = 0; k < n; ++k) {
        const Track& t = rows[matched[k]];
        out.append(QVariantMap{{QStringLiteral("id"), t.id},
                               {QStringLiteral("title"), t.title},
                               {QStringLiteral("artist"), t.artist}});
    }
    return out;
}

} // namespace ql::remote
