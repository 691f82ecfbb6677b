// A search query prepared once for a whole pass over the catalog: normalised
// and split into tokens at white space (runs of white space separate like one).
//
// Pure unit; immutable after construction, so one query may be matched from
// several threads.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace ql {

class SearchQuery {
public:
    explicit SearchQuery(const QString& query);

    // No tokens: the query was empty or white space only, and matches all.
    bool isEmpty() const { return m_tokens.isEmpty(); }
    const QStringList& tokens() const { return m_tokens; }

    // Whether every token is a substring of the compact haystack (a track's
    // normalised search text without white space, see SearchText.h).
    bool matches(QStringView compactHaystack) const;

    // The same test for many haystacks at once, laid end to end in `arena`:
    // haystack r spans [starts[r], starts[r + 1] - 1) and is followed by one
    // separator that is white space. Gives one flag per haystack (1: matches).
    // The longest token scans the whole arena once; the others test only the
    // haystacks it found.
    std::vector<char> matchesEach(QStringView arena, const std::vector<qsizetype>& starts) const;

private:
    QStringList m_tokens;
};

} // namespace ql
