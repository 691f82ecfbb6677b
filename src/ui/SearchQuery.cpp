#include "ui/SearchQuery.h"

#include "ui/SearchText.h"

#include <QStringMatcher>

#include <algorithm>
#include <string_view>

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

namespace {

void setBit(NgramSignature& s, quint32 hash) {
    const quint32 bit = hash >> 24; // the top byte: 0..255
    s.bits[bit >> 6] |= quint64(1) << (bit & 63);
}

} // namespace

void NgramSignature::add(QStringView text) {
    const char16_t* t = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (const int bit = letterBit(t[i]); bit >= 0)
            letters |= quint64(1) << bit;
    }
    for (qsizetype i = 0; i + 1 < n; ++i) {
        const quint32 pair = (quint32(t[i]) << 16) | t[i + 1];
        setBit(*this, pair * 0x9E3779B1u);
        if (i + 2 < n)
            setBit(*this, (pair * 0x85EBCA77u) ^ (quint32(t[i + 2]) * 0xC2B2AE3Du));
    }
}

bool SearchQuery::matches(QStringView compactHaystack) const {
    for (const QString& token : m_tokens) {
        if (!compactHaystack.contains(token))
            return false;
    }
    return true;
}

std::vector<char> SearchQuery::matchesEach(QStringView arena, const std::vector<qsizetype>& starts,
                                           const std::vector<NgramSignature>* signatures) const {
    const std::size_t n = starts.empty() ? 0 : starts.size() - 1;
    if (m_tokens.isEmpty())
        return std::vector<char>(n, 1);

    NgramSignature need;
    for (const QString& token : m_tokens)
        need.add(token);
    if (signatures && signatures->size() == n && !need.empty()) {
        // One pass over the signatures; the rows they leave are searched for
        // every token.
        const std::u16string_view all(reinterpret_cast<const char16_t*>(arena.utf16()),
                                      std::size_t(arena.size()));
        // A single letter with a bit of its own is settled by the signature.
        std::vector<std::u16string_view> tokens;
        for (const QString& token : m_tokens) {
            if (token.size() == 1 && letterBit(token.front().unicode()) >= 0)
                continue;
            tokens.emplace_back(reinterpret_cast<const char16_t*>(token.utf16()),
                                std::size_t(token.size()));
        }
        std::vector<char> hit(n, 0);
        const NgramSignature* sig = signatures->data();
        for (std::size_t r = 0; r < n; ++r) {
            if (!sig[r].covers(need))
                continue;
            const auto at = std::size_t(starts[r]);
            const std::u16string_view row = all.substr(at, std::size_t(starts[r + 1]) - 1 - at);
            hit[r] = std::all_of(tokens.begin(), tokens.end(), [&](std::u16string_view token) {
                return row.find(token) != std::u16string_view::npos;
            });
        }
        return hit;
    }

    QStringList tokens = m_tokens;
    std::stable_sort(tokens.begin(), tokens.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });

    // Rows holding the longest token: each hit names its row, and the search
    // goes on at the next row, so a row is found once however often it holds
    // the token. Hits only move forward, so the row is found by stepping.
    // The longest token's skip table is made once for the whole pass, not
    // once per search: a common word is found in tens of thousands of rows.
    const QStringMatcher first(tokens.first());
    const auto findFirst = [&](qsizetype from) {
        return tokens.first().size() == 1 ? arena.indexOf(tokens.first().front(), from)
                                          : first.indexIn(arena, from);
    };

    std::vector<char> hit(n, 0);
    std::vector<std::size_t> found;
    std::size_t row = 0;
    qsizetype pos = 0;
    while (row < n && (pos = findFirst(pos)) >= 0) {
        while (starts[row + 1] <= pos)
            ++row;
        hit[row] = 1;
        found.push_back(row);
        pos = starts[row + 1];
        ++row;
    }

    // The other tokens are looked for in the found rows only: short texts,
    // where a plain search without any set-up is the quickest.
    const std::u16string_view all(reinterpret_cast<const char16_t*>(arena.utf16()),
                                  std::size_t(arena.size()));
    for (qsizetype t = 1; t < tokens.size(); ++t) {
        const std::u16string_view token(reinterpret_cast<const char16_t*>(tokens[t].utf16()),
                                        std::size_t(tokens[t].size()));
        for (const std::size_t r : found) {
            const auto at = std::size_t(starts[r]);
            if (hit[r] && all.substr(at, std::size_t(starts[r + 1]) - at).find(token) ==
                              std::u16string_view::npos)
                hit[r] = 0;
        }
    }
    return hit;
}

} // namespace ql
