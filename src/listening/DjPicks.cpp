#include "listening/DjPicks.h"

#include "listening/RadioPicks.h"
#include "listening/SonicVector.h"
#include "ui/SearchText.h"

#include <QRandomGenerator>

#include <algorithm>

namespace ql {

namespace {

constexpr double kSpreadTop = 0.8;
constexpr double kSoundTop = 3.2;
constexpr double kEra = 1.2;
constexpr double kArtist = 0.8;
constexpr double kWindowNear = 0.35;
constexpr double kWindowFar = 1.3;
constexpr int kStretchSteps = 5;

} // namespace

std::vector<double> soundBetween(const std::vector<double>& a, const std::vector<double>& b,
                                 double t) {
    const std::size_t n = std::min(a.size(), b.size());
    std::vector<double> p(n);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = a[i] + (b[i] - a[i]) * t;
    return p;
}

SoundRow soundRowOf(const Track& track, const Sonic* record) {
    return soundRowOf(track, record, normalizedSearch(track.artist));
}

SoundRow soundRowOf(const Track& track, const Sonic* record, const QString& normalisedArtist) {
    return {track.id, normalisedArtist, !track.artist.isEmpty(),
            record ? int(record->year / 10) : 0,
            record && record->ok ? std::optional(vec(*record)) : std::nullopt};
}

const std::vector<SoundRow>& SoundMemo::rows(const std::vector<Track>& tracks,
                                             const QHash<QString, Sonic>& index) {
    const bool sameIndex = m_indexRead && index.isSharedWith(m_index);
    m_index = index;
    m_indexRead = true;
    m_sources.resize(tracks.size());
    m_rows.resize(tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = tracks[i];
        Source& source = m_sources[i];
        SoundRow& row = m_rows[i];
        const bool sameTrack = row.id == t.id && source.path == t.path && source.artist == t.artist;
        if (sameTrack && sameIndex)
            continue;
        const auto record = index.constFind(t.path);
        row = soundRowOf(t, record == index.cend() ? nullptr : &*record,
                         sameTrack ? row.artist : normalizedSearch(t.artist));
        source = {t.path, t.artist};
    }
    return m_rows;
}

double djScore(const SoundRow& seed, const SoundRow& row, int decade, double spread) {
    double score = spread;
    if (seed.vec && row.vec)
        score += std::max(0.0, kSoundTop - kSoundTop * sonicDistance(*seed.vec, *row.vec));
    if (decade > 0 && row.decade == decade)
        score += kEra;
    if (!seed.artist.isEmpty() && row.artist == seed.artist)
        score += kArtist;
    return score;
}

std::vector<qint64> djSimilar(const std::vector<SoundRow>& rows, const SoundRow& seed,
                              std::size_t count, const QSet<qint64>& avoid, int decade,
                              QRandomGenerator& random) {
    std::vector<ScoredRow> scored;
    scored.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (avoid.contains(rows[i].id))
            continue;
        const double spread = halfOpenDraw(random.generate64(), kSpreadTop);
        scored.push_back({djScore(seed, rows[i], decade, spread), i});
    }
    std::vector<qint64> ids;
    for (const std::size_t row : bestRows(std::move(scored), count))
        ids.push_back(rows[row].id);
    return ids;
}

std::vector<qint64> groupiePicks(const std::vector<SoundRow>& rows, const SoundRow& seed,
                                 const QSet<qint64>& avoid, QRandomGenerator& random) {
    std::vector<qint64> ids;
    if (seed.artist.isEmpty())
        return ids;
    for (const SoundRow& r : rows)
        if (r.artist == seed.artist && !avoid.contains(r.id))
            ids.push_back(r.id);
    // Fisher–Yates, uniform over every order.
    for (std::size_t i = ids.size(); i > 1; --i)
        std::swap(ids[i - 1], ids[random.bounded(quint32(i))]);
    if (ids.size() > kGroupieCount)
        ids.resize(kGroupieCount);
    return ids;
}

std::vector<qint64> stretchPath(const std::vector<SoundRow>& rows, const SoundRow& seed,
                                const QSet<qint64>& avoid, QRandomGenerator& random) {
    if (!seed.vec)
        return {};
    const std::vector<double>& s = *seed.vec;
    std::vector<std::size_t> window;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].vec || avoid.contains(rows[i].id))
            continue;
        const double d = sonicDistance(s, *rows[i].vec);
        if (d > kWindowNear && d < kWindowFar)
            window.push_back(i);
    }
    if (window.empty())
        return {};
    const SoundRow& target = rows[window[random.bounded(quint32(window.size()))]];
    QSet<qint64> used = avoid;
    used.insert(target.id);
    std::vector<qint64> path;
    for (int step = 1; step <= kStretchSteps; ++step) {
        const std::vector<double> p =
            soundBetween(s, *target.vec, double(step) / (kStretchSteps + 1));
        const SoundRow* nearest = nullptr;
        double best = 0;
        for (const SoundRow& r : rows) {
            if (!r.vec || used.contains(r.id))
                continue;
            const double d = sonicDistance(*r.vec, p);
            // Strictly nearer only: on a tie the earlier row stays.
            if (!nearest || d < best) {
                nearest = &r;
                best = d;
            }
        }
        if (nearest) {
            used.insert(nearest->id);
            path.push_back(nearest->id);
        }
    }
    path.push_back(target.id);
    return path;
}

std::vector<qint64> djPicks(int style, const std::vector<SoundRow>& rows, const SoundRow& seed,
                            const QSet<qint64>& avoid, QRandomGenerator& random) {
    std::vector<qint64> picks;
    switch (style) {
    case kDjContempo:
        return djSimilar(rows, seed, kContempoCount, avoid, seed.decade, random);
    case kDjGroupie:
        picks = groupiePicks(rows, seed, avoid, random);
        break;
    case kDjStretch:
        picks = stretchPath(rows, seed, avoid, random);
        break;
    default:
        return {};
    }
    if (picks.empty())
        picks = djSimilar(rows, seed, kFallbackCount, avoid, seed.decade, random);
    return picks;
}

QList<qint64> djRemember(const QList<qint64>& recent, const std::vector<qint64>& picks) {
    QList<qint64> all = recent;
    all.append(QList<qint64>(picks.begin(), picks.end()));
    return all.size() > kDjRecentLength ? all.mid(all.size() - kDjRecentLength) : all;
}

} // namespace ql
