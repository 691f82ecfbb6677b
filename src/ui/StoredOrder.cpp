#include "ui/StoredOrder.h"

#include <QStringList>
#include <QVariantList>

#include <limits>
#include <optional>

namespace ql {

namespace {
std::optional<qint64> wholeNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
        return v.toLongLong();
    case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(u);
    }
    case QMetaType::QString: {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok, 10);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}
} // namespace

QVariant idsToSetting(const TrackIds& ids) {
    QVariantList list;
    list.reserve(qsizetype(ids.size()));
    for (const qint64 id : ids)
        list << QVariant::fromValue<qlonglong>(id);
    return list;
}

TrackIds idsFromSetting(const QVariant& stored) {
    QVariantList list;
    if (stored.typeId() == QMetaType::QStringList) {
        for (const QString& s : stored.toStringList())
            list << s;
    } else if (stored.typeId() == QMetaType::QVariantList) {
        list = stored.toList();
        // Inside a typed list a number must be stored as a number.
        for (const QVariant& v : list) {
            if (v.typeId() == QMetaType::QString)
                return {};
        }
    } else {
        return {};
    }
    TrackIds ids;
    ids.reserve(std::size_t(list.size()));
    for (const QVariant& v : list) {
        const std::optional<qint64> n = wholeNumber(v);
        if (!n)
            return {};
        ids.push_back(*n);
    }
    return ids;
}

} // namespace ql
