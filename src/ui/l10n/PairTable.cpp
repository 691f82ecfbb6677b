#include "ui/l10n/PairTable.h"

#include "ui/l10n/L10n.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace ql {

qsizetype scalarLength(QStringView text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

namespace {

bool readRows(const QJsonValue& value, const char* name, QList<Pair>& rows, QSet<QString>& keys,
              QString* error) {
    const auto fail = [error, name](const QString& why) {
        if (error)
            *error = QString::fromLatin1(name) + QStringLiteral(": ") + why;
        return false;
    };
    if (!value.isArray())
        return fail(QStringLiteral("not an array"));
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonArray row = array.at(i).toArray();
        const QString where = QStringLiteral("row %1").arg(i);
        if (row.size() != 2 || !row.at(0).isString() || !row.at(1).isString())
            return fail(where + QStringLiteral(" is not two strings"));
        Pair pair{row.at(0).toString(), row.at(1).toString()};
        if (!L10n::hasHangul(pair.korean))
            return fail(where + QStringLiteral(" has a key without Hangul: ") + pair.korean);
        if (L10n::hasHangul(pair.english))
            return fail(where + QStringLiteral(" has Hangul in its English text: ") + pair.english);
        if (keys.contains(pair.korean))
            return fail(where + QStringLiteral(" repeats the key ") + pair.korean);
        keys.insert(pair.korean);
        rows.append(std::move(pair));
    }
    return true;
}

} // namespace

std::optional<PairTable> PairTable::fromJson(const QByteArray& json, QString* error) {
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = QStringLiteral("not a JSON object: ") + parse.errorString();
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    PairTable table;
    QSet<QString> keys;
    if (!readRows(root.value(QStringLiteral("pairs")), "pairs", table.rows, keys, error))
        return std::nullopt;
    table.listed = table.rows.size();
    if (root.contains(QStringLiteral("extra")) &&
        !readRows(root.value(QStringLiteral("extra")), "extra", table.rows, keys, error))
        return std::nullopt;

    // Longest key first; equal lengths keep the data's order (listed rows
    // before extra rows).
    QList<qsizetype> lengths;
    lengths.reserve(table.rows.size());
    for (const Pair& p : table.rows)
        lengths.append(scalarLength(p.korean));
    QList<qsizetype> order(table.rows.size());
    std::iota(order.begin(), order.end(), qsizetype(0));
    std::stable_sort(order.begin(), order.end(),
                     [&lengths](qsizetype a, qsizetype b) { return lengths[a] > lengths[b]; });
    QList<Pair> sorted;
    sorted.reserve(order.size());
    for (qsizetype i : order)
        sorted.append(table.rows[i]);
    table.rows = std::move(sorted);
    return table;
}

const PairTable& PairTable::builtIn() {
    static const PairTable table = [] {
        QFile file(QStringLiteral(":/l10n/pairs.json"));
        if (!file.open(QIODevice::ReadOnly))
            return PairTable{};
        return fromJson(file.readAll()).value_or(PairTable{});
    }();
    return table;
}

} // namespace ql
