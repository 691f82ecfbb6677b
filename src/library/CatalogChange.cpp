#include "library/CatalogChange.h"

namespace ql {

namespace {

// A catalog that did not change shares its texts with the previous one (the
// repeated reply is the same decoded value), so equal storage settles most
// comparisons without reading a character.
bool sameText(const QString& a, const QString& b) {
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

bool sameEntry(const Track& a, const Track& b) {
    return a.id == b.id && sameText(a.path, b.path) && sameText(a.title, b.title) &&
           sameText(a.artist, b.artist) && sameText(a.album, b.album) && sameText(a.art, b.art);
}

} // namespace

CatalogComparison compareCatalogs(const std::vector<Track>& before,
                                  const std::vector<Track>& after) {
    // One list (a reply found equal while it was read holds the shown rows
    // themselves): nothing to go through.
    if (&before == &after)
        return {false, true};
    if (before.size() != after.size())
        return {true, false};
    bool sameDurations = true;
    for (size_t i = 0; i < before.size(); ++i) {
        if (!sameEntry(before[i], after[i]))
            return {true, false};
        if (before[i].duration != after[i].duration)
            sameDurations = false;
    }
    return {false, sameDurations};
}

const Track* refreshedCurrent(const std::vector<Track>& rows, const Track& current) {
    for (const Track& t : rows) {
        if (t.id == current.id)
            return refreshedCurrent(t, current);
    }
    return nullptr;
}

const Track* refreshedCurrent(const Track& entry, const Track& current) {
    return entry.art != current.art || entry.title != current.title ? &entry : nullptr;
}

QString catalogCountText(qsizetype visible, qsizetype total, bool scanning) {
    QString text = QString::number(visible) + QStringLiteral("곡 / 전체 ") +
                   QString::number(total) + QStringLiteral("곡");
    if (scanning)
        text += QStringLiteral(" · 홈 폴더와 외장 디스크 검색 중…");
    return text;
}

} // namespace ql
