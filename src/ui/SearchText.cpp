#include "ui/SearchText.h"

#include "ui/SearchQuery.h"
#include "ui/TrackPath.h"

namespace ql {

namespace {

bool isAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// ASCII text is its own NFC form and has nothing to drop or widen: folding is
// lowering. Most catalogs are mostly ASCII, so this keeps a cold pass cheap.
QString asciiFolded(const QString& text) {
    QString out = text;
    QChar* d = out.data();
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t u = d[i].unicode();
        if (u >= u'A' && u <= u'Z')
            d[i] = QChar(char16_t(u + 32));
    }
    return out;
}

void appendCodePoint(QString& out, char32_t c) {
    if (QChar::requiresSurrogates(c)) {
        out.append(QChar(QChar::highSurrogate(c)));
        out.append(QChar(QChar::lowSurrogate(c)));
    } else {
        out.append(QChar(char16_t(c)));
    }
}

// Accents and other nonspacing marks are dropped, the rest is case folded.
// Marks go before folding: folding may not decompose (U+0130 folds to itself
// under simple folding), but its canonical decomposition already dropped the dot.
void appendFolded(QString& out, char32_t c) {
    if (QChar::category(c) == QChar::Mark_NonSpacing)
        return;
    appendCodePoint(out, QChar::toCaseFolded(c));
}

} // namespace

QString normalizedSearch(const QString& text) {
    if (isAscii(text))
        return asciiFolded(text);

    // Canonical decomposition puts every accent (and every Hangul jamo) on its
    // own; composition at the end joins the jamo again, so text stored composed
    // and text stored decomposed (as some file systems keep names) meet.
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    const auto ucs4 = decomposed.toUcs4();
    for (const char32_t c : ucs4) {
        const QChar::Decomposition tag = QChar::decompositionTag(c);
        if (tag == QChar::Wide || tag == QChar::Narrow) {
            // Full-width Latin, half-width katakana and jamo, the ideographic
            // space: their normal forms, folded in turn (a half-width voiced
            // mark becomes a nonspacing mark and goes).
            const auto parts = QChar::decomposition(c).toUcs4();
            for (const char32_t p : parts)
                appendFolded(out, p);
        } else {
            appendFolded(out, c);
        }
    }
    return out.normalized(QString::NormalizationForm_C);
}

QString searchHaystack(const Track& track) {
    const QString fileName = lastPathComponent(track.path);
    const QString folder = folderOf(track.path);
    const QString folderName = folder.isEmpty() ? QString() : lastPathComponent(folder);
    const QChar blank = QLatin1Char(' ');
    QString text;
    text.reserve(track.title.size() + track.artist.size() + track.album.size() +
                 2 * fileName.size() + folderName.size() + 8);
    text += track.title;
    text += blank;
    text += track.artist;
    text += blank;
    text += track.album;
    text += blank;
    text += fileName;
    text += blank;
    text += folderName;
    text += blank;
    text += QLatin1Char('.');
    text += fileExtension(fileName);
    return text;
}

QString withoutWhiteSpace(const QString& text) {
    // Every White_Space character lies in the BMP, so one code unit at a time
    // is exact; QChar::isSpace is that property.
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isSpace())
            out.append(c);
    }
    return out;
}

QString compactHaystack(const Track& track) {
    return withoutWhiteSpace(normalizedSearch(searchHaystack(track)));
}

bool trackMatches(const Track& track, const QString& query) {
    const SearchQuery q(query);
    return q.isEmpty() || q.matches(compactHaystack(track));
}

} // namespace ql
