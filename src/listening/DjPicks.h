// The guest DJ's choices over the catalog: which tracks to queue next in one
// of three styles, from one seed track.
//
// Pure unit over plain data: every catalog row as a SoundRow (id, normalised
// artist, decade, sonic vector when analysed), an avoid set of ids, and the
// caller's random source (unseeded in the program, seeded in tests). No score
// is kept; every refill computes afresh.
//
//  - djSimilar, the Contempo scoring: each row outside the avoid set scores
//      spread  a uniform draw from [0, 0.8)
//      sound   max(0, 3.2 − 3.2 × d), d the distance of the two vectors, when
//              both the seed and the row have one
//      era     +1.2 when the decade is above 0 and the row's equals it
//      artist  +0.8 when the seed's normalised artist is not empty and the
//              row's equals it
//    and the best `count` are kept, best first (equal scores: catalog order).
//  - groupiePicks: the rows by the seed's artist outside the avoid set,
//    shuffled, at most 8.
//  - stretchPath: a target drawn among the analysed rows at a distance d from
//    the seed with 0.35 < d < 1.3, then for i = 1 … 5 the analysed row nearest
//    to the point i/6 of the way from seed to target (equal distance: the
//    earliest row), never a row already used; the target last.
//  - djPicks: the style's picks with its fallback (Groupie and Stretch fall
//    back to 6 Contempo-scored picks when they find nothing).
//  - djRemember: the DJ's memory after a refill, at most 40 ids.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

class QRandomGenerator;

namespace ql {

// What the DJ and the Sonic Adventure compare of a track.
struct SoundRow {
    qint64 id = 0;
    QString artist;                         // normalizedSearch of the artist
    bool hasArtist = false;                 // the artist as stored is not empty
    int decade = 0;                         // the sonic record's year / 10; 0 without one
    std::optional<std::vector<double>> vec; // the sonic vector, when analysed
};

// A track as the picks see it, given its sonic record (none when absent):
// the vector only from a record that holds a measurement.
SoundRow soundRowOf(const Track& track, const Sonic* record);
// The same with the artist already normalised (kept between passes).
SoundRow soundRowOf(const Track& track, const Sonic* record, const QString& normalisedArtist);

// Each catalog row's SoundRow, kept between refills: a refill gathers the
// whole catalog, and neither the catalog nor the sonic index changes often
// between two. A row is made again when its id, path or artist differ from
// what it was made from (its artist normalised again only then), and every
// row's sonic part is read again when the index is no longer the one last
// read (any change to a QHash detaches it from the memo's shared copy); so
// the rows are always those of gathering afresh. A change to the index after
// a refill copies it once (the memo's copy keeps the old one until the next
// refill).
class SoundMemo {
public:
    const std::vector<SoundRow>& rows(const std::vector<Track>& tracks,
                                      const QHash<QString, Sonic>& index);

private:
    struct Source {
        QString path, artist;
    };
    std::vector<Source> m_sources;
    std::vector<SoundRow> m_rows;
    QHash<QString, Sonic> m_index;
    bool m_indexRead = false;
};

enum DjStyle { kDjOff = 0, kDjContempo = 1, kDjGroupie = 2, kDjStretch = 3 };

inline constexpr int kDjRecentLength = 40;
inline constexpr std::size_t kContempoCount = 8;
inline constexpr std::size_t kFallbackCount = 6;
inline constexpr std::size_t kGroupieCount = 8;

// The point t of the way from a to b, component by component, over the
// positions both have.
std::vector<double> soundBetween(const std::vector<double>& a, const std::vector<double>& b,
                                 double t);

// The Contempo score of one row for the seed, given its spread draw.
double djScore(const SoundRow& seed, const SoundRow& row, int decade, double spread);

// The ids of the `count` best-scoring rows not in `avoid`, best first. One
// spread is drawn per scored row, in catalog order.
std::vector<qint64> djSimilar(const std::vector<SoundRow>& rows, const SoundRow& seed,
                              std::size_t count, const QSet<qint64>& avoid, int decade,
                              QRandomGenerator& random);

// Up to 8 rows by the seed's artist (none when it normalises to empty), in
// random order.
std::vector<qint64> groupiePicks(const std::vector<SoundRow>& rows, const SoundRow& seed,
                                 const QSet<qint64>& avoid, QRandomGenerator& random);

// Up to 5 steps and the target, the target last; empty when the seed has no
// vector or no analysed row lies in the window.
std::vector<qint64> stretchPath(const std::vector<SoundRow>& rows, const SoundRow& seed,
                                const QSet<qint64>& avoid, QRandomGenerator& random);

// The picks of one refill in the given style (nothing when off).
std::vector<qint64> djPicks(int style, const std::vector<SoundRow>& rows, const SoundRow& seed,
                            const QSet<qint64>& avoid, QRandomGenerator& random);

// The last 40 of the memory followed by the picks.
QList<qint64> djRemember(const QList<qint64>& recent, const std::vector<qint64>& picks);

} // namespace ql
