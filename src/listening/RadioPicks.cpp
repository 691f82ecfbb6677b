#include "listening/RadioPicks.h"

#include "ui/SearchText.h"
#include "ui/TrackPath.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

constexpr double kSpreadTop = 1.5;
constexpr double kSameArtist = 5.0;
constexpr double kRelatedArtist = 3.0;
constexpr double kSameAlbum = 3.0;
constexpr double kSameFolder = 1.0;
constexpr double kPerPlay = 0.3;
constexpr double kPlaysCap = 1.5;

} // namespace

std::vector<std::size_t> bestRows(std::vector<ScoredRow> scored, std::size_t count) {
    const auto better = [](const ScoredRow& a, const ScoredRow& b) {
        return a.score != b.score ? a.score > b.score : a.row < b.row;
    };
    const std::size_t n = std::min(count, scored.size());
    std::partial_sort(scored.begin(), scored.begin() + std::ptrdiff_t(n), scored.end(), better);
    std::vector<std::size_t> rows;
    rows.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        rows.push_back(scored[i].row);
    return rows;
}

RadioKeys radioKeys(const Track& track) {
    return {normalizedSearch(track.artist), normalizedSearch(track.album), folderOf(track.path),
            !track.artist.isEmpty()};
}

double halfOpenDraw(quint64 bits, double top) {
    const double unit = double(bits >> 11) * 0x1p-53; // [0, 1)
    const double draw = unit * top;
    // Rounding must never carry the product up to the open end.
    return draw < top ? draw : std::nextafter(top, 0.0);
}

double radioSpread(quint64 bits) {
    return halfOpenDraw(bits, kSpreadTop);
}

double radioScore(const RadioKeys& seed, const RadioKeys& candidate, qint64 plays, double spread) {
    double score = spread;
    if (!seed.artist.isEmpty()) {
        if (candidate.artist == seed.artist)
            score += kSameArtist;
        else if (candidate.hasArtist &&
                 (candidate.artist.contains(seed.artist) || seed.artist.contains(candidate.artist)))
            score += kRelatedArtist;
    }
    if (!seed.album.isEmpty() && candidate.album == seed.album)
        score += kSameAlbum;
    if (candidate.folder == seed.folder)
        score += kSameFolder;
    score += std::min(kPlaysCap, kPerPlay * double(std::max<qint64>(plays, 0)));
    return score;
}

const RadioKeys& RadioMemo::at(std::size_t row, const Track& track) {
    Entry& e = m_entries[row];
    if (!e.valid || e.path != track.path || e.artist != track.artist || e.album != track.album) {
        e.path = track.path;
        e.artist = track.artist;
        e.album = track.album;
        e.keys = radioKeys(track);
        e.valid = true;
        ++m_rebuilt;
    }
    return e.keys;
}

void RadioMemo::fit(std::size_t rows) {
    m_entries.resize(rows);
}

std::vector<qint64> radioPicks(const std::vector<Track>& rows, const Track& seed,
                               const QHash<QString, PlayStat>& stats, RadioMemo& memo,
                               QRandomGenerator& random) {
    const RadioKeys seedKeys = radioKeys(seed);
    memo.fit(rows.size());
    std::vector<ScoredRow> scored;
    scored.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Track& t = rows[i];
        if (t.id == seed.id)
            continue;
        const auto stat = stats.constFind(t.path);
        const qint64 plays = stat == stats.constEnd() ? 0 : stat->plays;
        scored.push_back(
            {radioScore(seedKeys, memo.at(i, t), plays, radioSpread(random.generate64())), i});
    }
    std::vector<qint64> ids;
    for (const std::size_t row : bestRows(std::move(scored), kRadioLength))
        ids.push_back(rows[row].id);
    return ids;
}

} // namespace ql
