// The covers kept in memory, by tile key: album keys, "artist:" and "genre:"
// keys. Costed in bytes and capped at 256 MB, least recently used out first:
// a library of 10,000 albums would otherwise hold gigabytes of decoded
// pictures. An evicted album cover is read back from the covers folder on its
// next request. Main thread only. Header only.
#pragma once

#include <QCache>
#include <QImage>
#include <QString>

#include <algorithm>

namespace ql {

class CoverCache {
public:
    static constexpr qsizetype kMaxBytes = qsizetype(256) * 1024 * 1024;

    // The cover under `key` (marked as just used); null when none is held.
    QImage find(const QString& key) const {
        const QImage* image = m_cache.object(key);
        return image ? *image : QImage();
    }
    bool contains(const QString& key) const { return m_cache.contains(key); }
    // A null image is not kept: the next request looks again.
    void insert(const QString& key, const QImage& image) {
        if (!image.isNull())
            m_cache.insert(key, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes()));
    }
    qsizetype bytes() const { return m_cache.totalCost(); }
    qsizetype count() const { return m_cache.count(); }

private:
    QCache<QString, QImage> m_cache{kMaxBytes};
};

} // namespace ql
