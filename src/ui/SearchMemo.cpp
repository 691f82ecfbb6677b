#include "ui/SearchMemo.h"

#include "ui/SearchText.h"
#include "ui/TrackPath.h"

namespace ql {

namespace {
// Rows copied from the same catalog share their string data, so comparing
// pointers settles almost every check without reading the text.
bool sharesData(const QString& a, const QString& b) {
    return a.size() == b.size() && a.constData() == b.constData();
}
} // namespace

void SearchMemo::fit(std::size_t rows) {
    m_entries.resize(rows);
    m_valid.resize(rows, false);
}

void SearchMemo::clear() {
    m_entries.clear();
    m_valid.clear();
}

const SearchMemo::Entry& SearchMemo::at(std::size_t row, const Track& track) {
    Entry& e = m_entries[row];
    if (m_valid[row]) {
        if (sharesData(e.path, track.path) && sharesData(e.title, track.title) &&
            sharesData(e.artist, track.artist) && sharesData(e.album, track.album))
            return e;
        if (e.path == track.path && e.title == track.title && e.artist == track.artist &&
            e.album == track.album) {
            // The same track from a new copy of the catalog: keep the text and
            // share the new copy's data, so the next pass is settled by pointers.
            e.path = track.path;
            e.title = track.title;
            e.artist = track.artist;
            e.album = track.album;
            return e;
        }
    }
    e.path = track.path;
    e.title = track.title;
    e.artist = track.artist;
    e.album = track.album;
    e.compact = compactHaystack(track);
    e.folder = folderOf(track.path);
    m_valid[row] = true;
    ++m_rebuilt;
    return e;
}

} // namespace ql
