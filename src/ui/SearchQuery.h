// A search query prepared once for a whole pass over the catalog: normalised
// and split into tokens at white space (runs of white space separate like one).
//
// Pure unit; immutable after construction, so one query may be matched from
// several threads.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <vector>

namespace ql {

// The pairs and triples of adjacent code units a text holds, each hashed to
// one of 256 bits. A text holding a token holds all the token's pairs and
// triples, so a row whose signature lacks one of the token's bits cannot
// hold it: a search reads 32 bytes per row instead of the row's text, and
// reads the text only of the rows left.
//
// A one-letter token has no pairs. The Latin letters and the digits the text
// holds are therefore kept as well, each with a bit of its own: a row holds
// such a letter exactly when its bit is set, so a query of single letters is
// answered without reading any text.
struct NgramSignature {
    std::array<quint64, 4> bits{};
    quint64 letters = 0; // bit letterBit(c) for each such code unit c held
    void add(QStringView text);
    bool covers(const NgramSignature& need) const {
        return (bits[0] & need.bits[0]) == need.bits[0] &&
               (bits[1] & need.bits[1]) == need.bits[1] &&
               (bits[2] & need.bits[2]) == need.bits[2] &&
               (bits[3] & need.bits[3]) == need.bits[3] && (letters & need.letters) == need.letters;
    }
    bool empty() const { return (bits[0] | bits[1] | bits[2] | bits[3] | letters) == 0; }
};

// The bit of a code unit among NgramSignature::letters: a-z, A-Z and 0-9 have
// one each; -1 for any other.
inline int letterBit(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return c - u'a';
    if (c >= u'A' && c <= u'Z')
        return 26 + (c - u'A');
    if (c >= u'0' && c <= u'9')
        return 52 + (c - u'0');
    return -1;
}

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
    // With `signatures` (one per haystack, NgramSignature::add of its text)
    // only the haystacks whose signature covers the tokens' are read.
    std::vector<char> matchesEach(QStringView arena, const std::vector<qsizetype>& starts,
                                  const std::vector<NgramSignature>* signatures = nullptr) const;

private:
    QStringList m_tokens;
};

} // namespace ql
