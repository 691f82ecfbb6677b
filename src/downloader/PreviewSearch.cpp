#include "downloader/PreviewSearch.h"

#include "downloader/FetchProtocol.h"
#include "ui/l10n/L10n.h"

#include <QJsonArray>
#include <QJsonObject>

namespace ql {

namespace {

// A string member's text; empty for a missing one or another type.
QString textField(const QJsonObject& result, const char* key) {
    return result.value(QLatin1String(key)).toString();
}

bool playableAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

QString previewWords(int mode, const QString& artist, const QString& value) {
    const QString a = artist.trimmed(), v = value.trimmed();
    const bool withValue = mode == 1 || mode == 2;
    return cutBlanks(withValue ? a + u' ' + v : a);
}

QUrl previewRequest(const QString& base, const QString& words) {
    QByteArray root = base.toUtf8();
    while (root.endsWith('/'))
        root.chop(1);
    const QByteArray query =
        "term=" + QUrl::toPercentEncoding(words) + "&media=music&entity=song&limit=8";
    return QUrl::fromEncoded(root + "/search?" + query, QUrl::StrictMode);
}

std::vector<PreviewItem> previewCandidates(const std::optional<QJsonValue>& answer) {
    std::vector<PreviewItem> items;
    if (!answer || !answer->isObject())
        return items;
    const QJsonValue results = answer->toObject().value(QLatin1String("results"));
    if (!results.isArray())
        return items;
    for (const QJsonValue& entry : results.toArray()) {
        if (!entry.isObject())
            continue;
        const QJsonObject r = entry.toObject();
        const QUrl url(textField(r, "previewUrl"), QUrl::StrictMode);
        if (!playableAddress(url))
            continue;
        items.push_back({textField(r, "artistName") + QStringLiteral(" – ") +
                             textField(r, "trackName") + QStringLiteral(" (") +
                             textField(r, "collectionName") + u')',
                         url});
    }
    return items;
}

QString previewSummary(int index, int count, const QString& label) {
    return L10n::tr(QStringLiteral("▶ 미리듣기 %1/%2: ").arg(index + 1).arg(count)) + label +
           L10n::tr(QStringLiteral(" — 다시 누르면 다음 후보"));
}

} // namespace ql
