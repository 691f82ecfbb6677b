#include "ui/SearchQuery.h"

#include "ui/SearchText.h"

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

} // namespace ql
