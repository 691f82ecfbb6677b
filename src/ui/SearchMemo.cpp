#include "ui/SearchMemo.h"

#include "ui/SearchText.h"
#include "ui/TrackPath.h"

#include <atomic>

namespace ql {

namespace {
// Rows copied from the same catalog share their string data, so comparing
// pointers settles almost every check without reading the text.
bool sharesData(const QString& a, const QString& b) {
    return a.size() == b.size() && a.constData() == b.constData();
}
} // namespace

void SearchMemo::fit(std::size_t rows) {
    if (rows == m_entries.size())
        return;
    m_arenaStale = true;
    for (std::size_t i = rows; i < m_valid.size(); ++i)
        m_validCount -= m_valid[i] ? 1 : 0;
    m_entries.resize(rows);
    m_valid.resize(rows, false);
}

bool SearchMemo::complete() const {
    return !m_arenaStale && m_validCount == m_entries.size();
}

void SearchMemo::clear() {
    m_entries.clear();
    m_valid.clear();
    m_validCount = 0;
    m_arena.clear();
    m_starts.clear();
    m_signatures.clear();
    m_arenaStale = true;
}

QStringView SearchMemo::arena() {
    if (!m_arenaStale)
        return m_arena;
    qsizetype size = 0;
    for (const Entry& e : m_entries)
        size += e.compact.size() + 1;
    m_arena.clear();
    m_arena.reserve(size);
    m_starts.clear();
    m_starts.reserve(m_entries.size() + 1);
    m_signatures.assign(m_entries.size(), NgramSignature{});
    for (std::size_t r = 0; r < m_entries.size(); ++r) {
        const Entry& e = m_entries[r];
        m_starts.push_back(m_arena.size());
        m_arena += e.compact;
        m_arena += QLatin1Char('\n');
        m_signatures[r].add(e.compact);
    }
    m_starts.push_back(m_arena.size());
    m_arenaStale = false;
    return m_arena;
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
    if (!m_valid[row])
        ++m_validCount;
    m_valid[row] = true;
    m_arenaStale = true;
    ++m_rebuilt;
    return e;
}

SearchMemo& ownMemo(std::shared_ptr<SearchMemo>& memo) {
    // Only the holders can hand the memo on, so a count of one cannot grow
    // behind the caller's back.
    if (!memo) {
        memo = std::make_shared<SearchMemo>();
    } else if (memo.use_count() > 1) {
        memo = std::make_shared<SearchMemo>(*memo);
    } else {
        // The other holder may have let go on its own thread, just after
        // its last read; use_count() is a relaxed load, so without this
        // fence nothing orders that read before the changes made here.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
    return *memo;
}

SearchMemo& memoForPass(std::shared_ptr<SearchMemo>& memo, bool current, std::size_t rows) {
    if (memo && current && memo->size() == rows && memo->complete())
        return *memo;
    return ownMemo(memo);
}

} // namespace ql
