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

bool isHangulSyllable(char32_t c) {
    return c >= 0xAC00 && c <= 0xD7A3;
}

// One code point, canonically decomposed (all levels), with full-width and
// half-width forms taken to their normal forms, nonspacing marks dropped and
// the rest case folded. Marks go before folding: U+0130 folds to itself under
// simple folding, but its decomposition already dropped the dot.
void appendFolded(QString& out, char32_t c) {
    if (c < 0x80) {
        out.append(QChar(char16_t(c >= u'A' && c <= u'Z' ? c + 32 : c)));
        return;
    }
    // A syllable holds neither marks nor case; composing at the end would
    // only rebuild it from its jamo.
    if (isHangulSyllable(c)) {
        out.append(QChar(char16_t(c)));
        return;
    }
    const QChar::Decomposition tag = QChar::decompositionTag(c);
    if (tag == QChar::Canonical || tag == QChar::Wide || tag == QChar::Narrow) {
        const QString parts = QChar::decomposition(c);
        for (const char32_t p : parts.toUcs4())
            appendFolded(out, p);
        return;
    }
    if (QChar::category(c) == QChar::Mark_NonSpacing)
        return;
    appendCodePoint(out, QChar::toCaseFolded(c));
}

} // namespace

QString normalizedSearch(const QString& text) {
    if (isAscii(text))
        return asciiFolded(text);

    // The text is taken apart one code point at a time (see appendFolded) and
    // composed again at the end, so text stored composed and text stored
    // decomposed (as some file systems keep names) meet, Hangul included:
    // composition also joins a syllable with a trailing jamo written apart.
    QString out;
    out.reserve(text.size() + 8);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text.at(++i).unicode());
        appendFolded(out, c);
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
