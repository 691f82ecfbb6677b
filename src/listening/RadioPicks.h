// The similar-track radio's choice: every catalog track but the seed scored
// against the seed, the best 40 kept.
//
// Pure unit. A score is the sum of:
//   spread          a uniform random value in [0, 1.5) (1.5 itself never)
//   same artist     +5 when the seed's artist is not empty and both artists
//                   are equal after normalizedSearch (ui/SearchText.h)
//   related artist  +3 only without the same-artist term: the seed's artist
//                   is not empty, the candidate's artist as stored is not
//                   empty, and one normalised artist contains the other
//   same album      +3 when the seed's album is not empty and both
//                   normalised albums are equal
//   same folder     +1 when both files' parent directories are equal, compared
//                   exactly (TrackPath's folderOf)
//   plays           min(1.5, 0.3 x counted plays)
// so a score lies in [0, 12). Randomness comes in as a generator: the caller
// owns it (unseeded in the program, seeded in tests). No score is kept.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QString>

#include <vector>

class QRandomGenerator;

namespace ql {

inline constexpr std::size_t kRadioLength = 40;

// A catalog row (its index) with its score.
struct ScoredRow {
    double score;
    std::size_t row;
};

// The rows of the `count` highest scores (all when fewer), highest first;
// equal scores keep catalog order.
std::vector<std::size_t> bestRows(std::vector<ScoredRow> scored, std::size_t count);

// The parts of a track the score compares.
struct RadioKeys {
    QString artist;         // normalised
    QString album;          // normalised
    QString folder;         // the parent directory, as folderOf gives it
    bool hasArtist = false; // the artist as stored is not empty
};

RadioKeys radioKeys(const Track& track);

// A uniform draw from [0, top) for 64 random bits: the top 53 bits as a
// fraction of `top`, never `top` itself, however the product rounds.
double halfOpenDraw(quint64 bits, double top);

// The spread for 64 random bits: halfOpenDraw over [0, 1.5).
double radioSpread(quint64 bits);

// The score of a candidate with `plays` counted plays and the given spread.
double radioScore(const RadioKeys& seed, const RadioKeys& candidate, qint64 plays, double spread);

// Each catalog row's keys, kept between presses: a press compares two
// normalised fields of every row, and the catalog rarely changes between
// presses. An entry is rebuilt when its row's path, artist or album differ
// from what it was made from, so results are those of building afresh.
class RadioMemo {
public:
    const RadioKeys& at(std::size_t row, const Track& track);
    // Sizes the memo to a catalog of `rows` tracks; entries beyond it go.
    void fit(std::size_t rows);
    std::size_t rebuilt() const { return m_rebuilt; }

private:
    struct Entry {
        QString path, artist, album; // what the keys were made from
        RadioKeys keys;
        bool valid = false;
    };
    std::vector<Entry> m_entries;
    std::size_t m_rebuilt = 0;
};

// The ids of the best kRadioLength candidates (every row whose id is not the
// seed's), best first; equal scores keep catalog order. One spread is drawn
// per candidate, in catalog order.
std::vector<qint64> radioPicks(const std::vector<Track>& rows, const Track& seed,
                               const QHash<QString, PlayStat>& stats, RadioMemo& memo,
                               QRandomGenerator& random);

} // namespace ql
