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

// Rebuilding a row that was already rebuilt since the last arena leaves its
// older text behind in the block of new texts; past this much waste (in code
// units, beyond half the block) the arena is made anew, so a caller that
// never asks for the arena (a folder alone) does not let the block grow.
constexpr qsizetype kFreshWaste = 1 << 16;
} // namespace

void SearchMemo::fit(std::size_t rows) {
    if (rows == m_entries.size())
        return;
    m_arenaStale = true;
    for (std::size_t i = rows; i < m_valid.size(); ++i) {
        m_validCount -= m_valid[i] ? 1 : 0;
        if (m_entries[i].freshAt >= 0)
            m_freshWaste += m_entries[i].freshSize + 1;
        if (m_entries[i].folder < 0)
            m_oddFolders.remove(i);
    }
    m_entries.resize(rows);
    m_valid.resize(rows, false);
}

bool SearchMemo::complete() const {
    return !m_arenaStale && m_validCount == m_entries.size();
}

void SearchMemo::clear() {
    const std::size_t rebuilt = m_rebuilt;
    *this = SearchMemo{};
    m_rebuilt = rebuilt;
}

QStringView SearchMemo::folder(std::size_t row) const {
    const Slot& s = m_entries[row];
    if (s.folder >= 0)
        return QStringView(s.source.path).left(s.folder);
    const auto it = m_oddFolders.constFind(row);
    return it == m_oddFolders.constEnd() ? QStringView() : QStringView(*it);
}

QStringView SearchMemo::text(std::size_t row) const {
    const Slot& s = m_entries[row];
    if (s.freshAt >= 0)
        return QStringView(m_fresh).mid(s.freshAt, s.freshSize);
    if (!m_valid[row] || row + 1 >= m_starts.size())
        return {};
    return QStringView(m_arena).mid(m_starts[row], m_starts[row + 1] - 1 - m_starts[row]);
}

void SearchMemo::remake() {
    const std::size_t n = m_entries.size();
    std::vector<qsizetype> starts;
    starts.reserve(n + 1);
    // A memo filled row after row from empty already holds the arena, in
    // order, in its block of new texts: it is taken as it is, not copied.
    bool inOrder = true;
    qsizetype size = 0;
    for (std::size_t r = 0; r < n; ++r) {
        const Slot& s = m_entries[r];
        inOrder = inOrder && s.freshAt == size;
        starts.push_back(size);
        size += text(r).size() + 1;
    }
    starts.push_back(size);
    inOrder = inOrder && size == m_fresh.size();

    std::vector<NgramSignature> signatures(n, NgramSignature{});
    QString arena;
    if (inOrder) {
        arena = std::move(m_fresh);
        arena.squeeze(); // the block grew by steps: give back what it did not fill
    } else {
        arena.reserve(size);
        for (std::size_t r = 0; r < n; ++r) {
            arena += text(r);
            arena += QLatin1Char('\n');
        }
    }
    for (std::size_t r = 0; r < n; ++r) {
        Slot& s = m_entries[r];
        // An unchanged row keeps the signature of its unchanged text.
        if (s.freshAt < 0 && m_valid[r] && r < m_signatures.size())
            signatures[r] = m_signatures[r];
        else
            signatures[r].add(QStringView(arena).mid(starts[r], starts[r + 1] - 1 - starts[r]));
        s.freshAt = -1;
        s.freshSize = 0;
    }
    m_arena = std::move(arena);
    m_starts = std::move(starts);
    m_signatures = std::move(signatures);
    m_fresh = QString();
    m_freshWaste = 0;
    m_arenaStale = false;
}

QStringView SearchMemo::arena() {
    if (m_arenaStale)
        remake();
    return m_arena;
}

const SearchMemo::Entry& SearchMemo::at(std::size_t row, const Track& track) {
    Slot& s = m_entries[row];
    Entry& e = s.source;
    if (m_valid[row]) {
        if (sharesData(e.path, track.path) && sharesData(e.title, track.title) &&
            sharesData(e.artist, track.artist) && sharesData(e.album, track.album))
            return e;
        if (e.path == track.path && e.title == track.title && e.artist == track.artist &&
            e.album == track.album) {
            // The same track from a new copy of the catalog: keep the text and
            // share the new copy's data, so the next pass is settled by pointers.
            e = Entry{track.path, track.title, track.artist, track.album};
            return e;
        }
    }
    e = Entry{track.path, track.title, track.artist, track.album};
    if (s.freshAt >= 0)
        m_freshWaste += s.freshSize + 1;
    const QString compact = compactHaystack(track);
    s.freshAt = m_fresh.size();
    s.freshSize = qint32(compact.size());
    m_fresh += compact;
    m_fresh += QLatin1Char('\n');
    const qsizetype folder = folderLength(track.path);
    s.folder = qint32(folder);
    if (folder < 0)
        m_oddFolders.insert(row, folderOf(track.path));
    else
        m_oddFolders.remove(row);
    if (!m_valid[row])
        ++m_validCount;
    m_valid[row] = true;
    m_arenaStale = true;
    ++m_rebuilt;
    if (m_freshWaste > m_fresh.size() / 2 + kFreshWaste)
        remake();
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
