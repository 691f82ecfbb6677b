#include "ui/SearchQuery.h"

#include "ui/SearchText.h"

#include <algorithm>

namespace ql {

SearchQuery::SearchQuery(const QString& query) {
    const QString q = normalizedSearch(query);
    qsizetype start = -1;
    for (qsizetype i = 0; i <= q.size(); ++i) {
        const bool space = i == q.size() || q.at(i).isSpace();
        if (space && start >= 0) {
            m_tokens << q.mid(start, i - start);
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
}

bool SearchQuery::matches(QStringView compactHaystack) const {
    for (const QString& token : m_tokens) {
        if (!compactHaystack.contains(token))
            return false;
    }
    return true;
}

std::vector<char> SearchQuery::matchesEach(QStringView arena,
                                           const std::vector<qsizetype>& starts) const {
    const std::size_t n = starts.empty() ? 0 : starts.size() - 1;
    if (m_tokens.isEmpty())
        return std::vector<char>(n, 1);

    QStringList tokens = m_tokens;
    std::stable_sort(tokens.begin(), tokens.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });

    // Rows holding the longest token: each hit names its row, and the search
    // goes on at the next row, so a row is found once however often it holds
    // the token. Hits only move forward, so the row is found by stepping.
    std::vector<char> hit(n, 0);
    std::vector<std::size_t> found;
    std::size_t row = 0;
    qsizetype pos = 0;
    while (row < n && (pos = arena.indexOf(tokens.first(), pos)) >= 0) {
        while (starts[row + 1] <= pos)
            ++row;
        hit[row] = 1;
        found.push_back(row);
        pos = starts[row + 1];
        ++row;
    }

    for (qsizetype t = 1; t < tokens.size(); ++t) {
        for (const std::size_t r : found) {
            if (hit[r] && !arena.sliced(starts[r], starts[r + 1] - starts[r]).contains(tokens[t]))
                hit[r] = 0;
        }
    }
    return hit;
}

} // namespace ql
