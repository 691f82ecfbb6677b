// The catalog filter: the whole catalog in, the visible list out.
//
// Pure unit. A pass runs three stages in this order:
//  1. folder: with a folder chosen, only the tracks directly in it;
//  2. search and cell filter: tracks matching the trimmed search text
//     (SearchText.h) and the one-column cell filter; the result, still in
//     catalog order, is the matched list;
//  3. order: a smart list decides content and order (shuffle is ignored and
//     no shuffle order is kept); else without shuffle the matched list as is;
//     else the stable shuffled order (ShuffleOrder.h), kept or new.
// Randomness comes in as a generator; the memo only saves work.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"
#include "library/GenreMap.h"
#include "ui/ShuffleOrder.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QRandomGenerator;

namespace ql {

class SearchMemo;

// A one-value filter on one column. Keys: "album", "artist", "title", "genre";
// any other key (the table uses "format") compares "." and the file's
// extension in lower case ("." for a file without one).
struct CellFilter {
    QString key;
    QString value;
    bool operator==(const CellFilter&) const = default;
};

// Exact, case-sensitive comparison of the column with the value. `genre` is
// the track's genre, "" while unknown; only the "genre" key reads it.
bool cellFilterMatches(const CellFilter& filter, const Track& track, const QString& genre);

// "." and the file's extension in lower case: "Song.FLAC" -> ".flac"; "." for
// a file without extension.
QString formatKey(const QString& path);

struct MatchInput {
    QString searchText;     // the search field's text as typed; trimmed here
    QString selectedFolder; // "" for all folders
    std::optional<CellFilter> cellFilter;
    const GenreMap* genres = nullptr; // genre by path; null: none known
    // The memo was filled from exactly these rows and nothing changed them
    // since: its entries are taken without checking each against its row.
    bool memoCurrent = false;
};

// Indices into `rows`, in catalog order, of the tracks passing stages 1 and 2.
std::vector<std::size_t> matchedRows(const std::vector<Track>& rows, const MatchInput& in,
                                     SearchMemo& memo);

struct OrderInput {
    // Set when a smart list is active: given the rows and the matched indices
    // (catalog order), it returns the indices of that list's rows, in its own
    // order.
    std::function<std::vector<std::size_t>(const std::vector<Track>& rows,
                                           const std::vector<std::size_t>& matched)>
        smartRows;
    bool shuffled = false;
    bool resetOrder = false;
    TrackIds orderedIDs; // the stable shuffled order so far (empty: none)
    // The visible list before this pass; read only when a new shuffle order
    // is made. Null: none.
    const TrackList* shown = nullptr;
    // The rows themselves, shared and immutable (the very same values, element
    // for element): the visible list then points into them and no track is
    // copied. Null: the visible tracks are copied out of the rows.
    TrackList::Rows shared;
    // The rows' ids are known to be distinct, so no pass has to look for a
    // repeated one.
    bool distinctIds = false;
    // The id -> row table of exactly these rows and the marks a pass may
    // use: a kept order is then followed without building any set.
    const IdRows* idRows = nullptr;
    RowMarks* marks = nullptr;
};

struct FilterResult {
    TrackList filtered;
    TrackIds orderedIDs; // empty unless a shuffle order is in force
};

// Stage 3 over the matched rows (indices into `rows`, catalog order). In
// shuffle mode each id appears once (the first track with it is kept). The
// visible tracks are those of `in.shared` when given, else copies of `rows`.
FilterResult orderStage(const std::vector<Track>& rows, std::vector<std::size_t> matched,
                        const OrderInput& in, QRandomGenerator& rng);
// The same over a list that is the matched list as a whole.
FilterResult orderStage(const std::vector<Track>& matched, const OrderInput& in,
                        QRandomGenerator& rng);

FilterResult runCatalogFilter(const std::vector<Track>& rows, const MatchInput& match,
                              const OrderInput& order, SearchMemo& memo, QRandomGenerator& rng);

// The first index of the track with this id, -1 when none.
int rowOfTrack(const TrackList& list, qint64 id);

} // namespace ql
