#include "listening/LyricsLookup.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace ql {

namespace {

// UTF-8, every byte outside the unreserved set escaped; QByteArray's default
// leaves exactly ALPHA, DIGIT, "-", ".", "_" and "~" as they are.
QString queryValue(const QString& value) {
    return QString::fromLatin1(value.toUtf8().toPercentEncoding());
}

QUrl address(const QUrl& base, const char* path,
             const std::vector<std::pair<const char*, QString>>& items) {
    QUrl url = base;
    QString basePath = base.path();
    while (basePath.endsWith(u'/'))
        basePath.chop(1);
    url.setPath(basePath + QLatin1String(path));
    QString query;
    for (const auto& [name, value] : items) {
        if (!query.isEmpty())
            query += u'&';
        query += QLatin1String(name) + u'=' + queryValue(value);
    }
    // Already encoded: nothing for QUrl to fix.
    url.setQuery(query, QUrl::StrictMode);
    return url;
}

QString stringMember(const QJsonObject& object, const char* name) {
    const QJsonValue v = object.value(QLatin1String(name));
    return v.isString() ? v.toString() : QString();
}

} // namespace

QUrl lyricsServiceBase(const std::optional<QString>& stored) {
    const QString text = stored.value_or(QString()).trimmed();
    return QUrl(text.isEmpty() ? QString::fromLatin1(kDefaultLyricsService) : text);
}

LyricsQuery lyricsQuery(const QString& artist, const QString& title) {
    LyricsQuery q{artist, title};
    static const QLatin1String separator(" - ");
    if (q.artist.isEmpty()) {
        const qsizetype at = title.indexOf(separator);
        if (at >= 0) {
            q.artist = title.left(at);
            q.title = title.mid(at + separator.size());
        }
    }
    static const QRegularExpression bracketTail(QStringLiteral(R"(\s*[\(\[].*$)"),
                                                QRegularExpression::UseUnicodePropertiesOption);
    q.title.remove(bracketTail);
    return q;
}

QString durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return QStringLiteral("0");
    // 2^63 is the first double past the 64-bit range.
    constexpr double kPastRange = 9223372036854775808.0;
    if (seconds >= kPastRange)
        return QString::number(std::numeric_limits<qint64>::max());
    return QString::number(qint64(std::trunc(seconds)));
}

QUrl lyricsGetAddress(const QUrl& base, const LyricsQuery& query, const QString& album,
                      double duration) {
    return address(base, "/api/get",
                   {{"artist_name", query.artist},
                    {"track_name", query.title},
                    {"album_name", album},
                    {"duration", durationText(duration)}});
}

QUrl lyricsSearchAddress(const QUrl& base, const LyricsQuery& query) {
    return address(base, "/api/search", {{"q", query.artist + u' ' + query.title}});
}

std::optional<LyricsData> pickLyrics(const QJsonObject& answer) {
    LyricsData d{stringMember(answer, "syncedLyrics"), stringMember(answer, "plainLyrics")};
    if (d.synced.isEmpty() && d.plain.isEmpty())
        return std::nullopt;
    return d;
}

std::optional<LyricsData> syncedAnswer(const std::optional<QJsonValue>& answer) {
    if (!answer || !answer->isObject())
        return std::nullopt;
    std::optional<LyricsData> d = pickLyrics(answer->toObject());
    if (!d || d->synced.isEmpty())
        return std::nullopt;
    return d;
}

std::optional<LyricsData> chooseSearchResult(const std::optional<QJsonValue>& answer,
                                             double duration) {
    if (!answer || !answer->isArray())
        return std::nullopt;
    const QJsonArray results = answer->toArray();
    for (const QJsonValue& r : results)
        if (!r.isObject())
            return std::nullopt;
    if (results.isEmpty())
        return std::nullopt;
    const double own = std::isfinite(duration) ? duration : 0.0;
    std::optional<QJsonObject> best;
    double bestGap = 0;
    for (const QJsonValue& r : results) {
        const QJsonObject o = r.toObject();
        if (stringMember(o, "syncedLyrics").isEmpty())
            continue;
        const QJsonValue d = o.value(QLatin1String("duration"));
        const double gap = std::abs((d.isDouble() ? d.toDouble() : 0.0) - own);
        if (!best || gap < bestGap) {
            best = o;
            bestGap = gap;
        }
    }
    return pickLyrics(best ? *best : results.first().toObject());
}

QString sidecarPath(const QString& audioPath) {
    const qsizetype nameStart = audioPath.lastIndexOf(u'/') + 1;
    const qsizetype dot = audioPath.lastIndexOf(u'.');
    if (dot > nameStart)
        return audioPath.left(dot) + QStringLiteral(".lrc");
    return audioPath + QStringLiteral(".lrc");
}

} // namespace ql
