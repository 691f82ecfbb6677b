#include "library/TagBound.h"

#include <QList>

namespace ql {

namespace {

// Drawn together with the character before it: a combining mark, a joiner,
// a variation selector, a skin tone, a Hangul vowel or final jamo.
bool joinsBefore(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return c == 0x200D || (c >= 0x1160 && c <= 0x11FF) || (c >= 0xFE00 && c <= 0xFE0F) ||
               (c >= 0x1F3FB && c <= 0x1F3FF);
    }
}

constexpr char32_t kJoiner = 0x200D;

} // namespace

QString boundedTag(QStringView text) {
    // No more units than the bound: no more characters either.
    if (text.size() <= kTagLimit)
        return text.toString();
    // Characters, not UTF-16 units: a pair of surrogates is one, a lone
    // surrogate one of its own.
    QList<char32_t> chars;
    chars.reserve(kTagLimit + 1);
    for (qsizetype i = 0; i < text.size() && chars.size() <= kTagLimit; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            chars.append(QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
        } else {
            chars.append(c.unicode());
        }
    }
    if (chars.size() <= kTagLimit)
        return text.toString();
    const QString mark = QStringLiteral("…");
    qsizetype end = kTagLimit - mark.size();
    while (end > 0 && (joinsBefore(chars[end]) || chars[end - 1] == kJoiner))
        --end;
    while (end > 0 && QChar::isSpace(chars[end - 1]))
        --end;
    return QString::fromUcs4(chars.constData(), end) + mark;
}

} // namespace ql
