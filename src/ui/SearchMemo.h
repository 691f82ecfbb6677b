// The search text and folder of each catalog row, kept between filter passes.
//
// Building a track's normalised search text is the costly part of a pass; the
// catalog rarely changes between keystrokes. Entries are kept by row index and
// hold the fields they were made from: a row whose path, title, artist or
// album differ from its entry is rebuilt, and `fit` drops entries beyond the
// catalog. Results are exactly those of building every text afresh.
//
// The texts of all rows are kept end to end in one block (the arena), each
// followed by a line feed, so a query scans one stretch of memory instead of
// a hundred thousand small strings; a token never holds white space, so no
// match can run from one row into the next. The arena is the only copy of
// the texts: a rebuilt row's new text waits in a second block until the next
// arena is made, and a row's folder is a length of its own path (the path is
// the track's string, shared), so a row costs its text once plus a few words.
//
// Pure unit. A memo is changed by one thread at a time; the catalog worker
// and the window share a finished one (see ownMemo), which then is only read.
#pragma once

#include "app/Records.h"
#include "ui/SearchQuery.h"

#include <QHash>
#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

namespace ql {

class SearchMemo {
public:
    struct Entry {
        QString path, title, artist, album; // what the entry was made from
    };

    // Sizes the memo to a catalog of `rows` tracks, keeping entries that may
    // still be valid and dropping the rest.
    void fit(std::size_t rows);
    // The entry for the track at `row` (row < the size given to fit), rebuilt
    // when the track is not the one it was made from.
    const Entry& at(std::size_t row, const Track& track);
    void clear();
    // The entry made for `row` as it is, unchecked: for a caller that knows
    // the rows are those the memo was last filled from.
    const Entry& entry(std::size_t row) const { return m_entries[row].source; }
    std::size_t size() const { return m_entries.size(); }
    // Every entry is filled and the arena is up to date.
    bool complete() const;

    // The row's folder (folderOf of its path) and its compact search text
    // (compactHaystack of its track), as last made; empty for a row not
    // filled yet. Valid until the memo next changes.
    QStringView folder(std::size_t row) const;
    QStringView text(std::size_t row) const;

    // The arena of every row's compact text; call after `at` has seen every
    // row of the catalog. Row r spans [rowStart(r), rowStart(r + 1) - 1).
    QStringView arena();
    qsizetype rowStart(std::size_t row) const { return m_starts[row]; }
    const std::vector<qsizetype>& rowStarts() const { return m_starts; }
    // Each row's NgramSignature, made with the arena.
    const std::vector<NgramSignature>& signatures() const { return m_signatures; }

    // How many entries were rebuilt since construction (for tests and benches).
    std::size_t rebuilt() const { return m_rebuilt; }

private:
    struct Slot {
        Entry source;
        // Where the text of a row rebuilt since the last arena lies in
        // m_fresh, -1 when it lies in the arena (or the row is not filled).
        qsizetype freshAt = -1;
        qint32 freshSize = 0;
        // folderOf(source.path) is source.path.left(folder); -1: the path
        // needed cleaning and the folder is in m_oddFolders.
        qint32 folder = 0;
    };
    void remake();

    std::vector<Slot> m_entries;
    std::vector<bool> m_valid;
    std::size_t m_validCount = 0;
    std::size_t m_rebuilt = 0;
    bool m_arenaStale = true;
    QString m_arena;
    std::vector<qsizetype> m_starts; // one more than the rows m_arena was made for
    std::vector<NgramSignature> m_signatures;
    QString m_fresh;                          // texts rebuilt since the arena, each + '\n'
    qsizetype m_freshWaste = 0;               // of those, texts since rebuilt again
    QHash<std::size_t, QString> m_oddFolders; // by row, for paths that needed cleaning
};

// The memo to change: `memo` itself when nobody else holds it, else a copy
// of it put in its place (the other holder keeps reading the old one).
SearchMemo& ownMemo(std::shared_ptr<SearchMemo>& memo);

// The memo a pass over a catalog of `rows` rows may use: the shared one as
// it is when it was filled from exactly those rows (`current`) and is
// complete, since the pass then only reads it; else one of the caller's own.
SearchMemo& memoForPass(std::shared_ptr<SearchMemo>& memo, bool current, std::size_t rows);

} // namespace ql
