#include "ui/l10n/Localizer.h"

#include "ui/l10n/L10n.h"

#include <bitset>

namespace ql {

namespace {

constexpr char16_t kFirstSyllable = 0xAC00;
constexpr char16_t kLastSyllable = 0xD7A3;
constexpr std::size_t kSyllables = kLastSyllable - kFirstSyllable + 1;

bool isSyllable(char16_t c) {
    return c >= kFirstSyllable && c <= kLastSyllable;
}

// Unicode properties make \d the same digit class the patterns were written
// for; templates name groups as \1.
struct RuleSource {
    const char16_t* pattern;
    const char16_t* replacement;
    char16_t unit;
};
// A lone "1" (no digit or comma before it) takes the singular; each singular
// rule runs ahead of its plural one.
constexpr RuleSource kUnitRules[] = {
    {u"(?<![\\d,])1곡", u"1 track", u'곡'},
    {u"(\\d[\\d,]*)곡", u"\\1 tracks", u'곡'},
    {u"(?<![\\d,])1앨범", u"1 album", u'앨'},
    {u"(\\d+)앨범", u"\\1 albums", u'앨'},
    {u"(?<![\\d,])1아티스트", u"1 artist", u'아'},
    {u"(\\d+)아티스트", u"\\1 artists", u'아'},
    {u"(?<![\\d,])1장 •", u"1 album •", u'장'},
    {u"(\\d+)장 •", u"\\1 albums •", u'장'},
    {u"(?<![\\d,])1개 •", u"1 item •", u'개'},
    {u"(\\d+)개 •", u"\\1 items •", u'개'},
    {u"(\\d+)채널", u"\\1ch", u'채'},
};

} // namespace

Localizer::Localizer(QString lang, const PairTable& table)
    : m_lang(std::move(lang)), m_english(m_lang == QStringLiteral("en")) {
    for (const RuleSource& source : kUnitRules) {
        QRegularExpression re(QString::fromUtf16(source.pattern),
                              QRegularExpression::UseUnicodePropertiesOption);
        if (!re.isValid())
            continue; // a rule that does not compile is left out
        m_units.append({std::move(re), QString::fromUtf16(source.replacement), QChar(source.unit)});
    }
    m_rows.reserve(table.rows.size());
    for (const Pair& p : table.rows) {
        char16_t anchor = 0;
        for (QChar c : p.korean)
            if (isSyllable(c.unicode())) {
                anchor = c.unicode();
                break;
            }
        m_rows.append({p.korean, p.english, anchor});
    }
}

QString Localizer::tr(const QString& text) {
    if (!m_english || !L10n::hasHangul(text))
        return text;
    if (const auto it = m_memo.constFind(text); it != m_memo.cend())
        return *it;
    QString result = translate(text);
    if (m_memo.size() > kMemoLimit)
        m_memo.clear();
    m_memo.insert(text, result);
    return result;
}

QString Localizer::translate(QString text) const {
    for (const UnitRule& rule : m_units)
        if (text.contains(rule.unit))
            text.replace(rule.pattern, rule.replacement);

    // Replacements only ever remove Hangul (no English text holds any), so the
    // syllables present now are a superset of those present later: a row whose
    // first syllable is absent cannot match and is skipped without a search.
    std::bitset<kSyllables> present;
    for (QChar c : std::as_const(text))
        if (isSyllable(c.unicode()))
            present.set(c.unicode() - kFirstSyllable);
    for (const Row& row : m_rows) {
        if (!present.test(row.anchor - kFirstSyllable))
            continue;
        if (text.contains(row.korean))
            text.replace(row.korean, row.english);
    }
    return text;
}

QString Localizer::tab(const QString& label) {
    const QString translated = tr(label);
    if (!m_english)
        return translated;
    static const QHash<QString, QString> plural{
        {QStringLiteral("Album"), QStringLiteral("Albums")},
        {QStringLiteral("Artist"), QStringLiteral("Artists")},
        {QStringLiteral("Track"), QStringLiteral("Tracks")},
        {QStringLiteral("Genre"), QStringLiteral("Genres")},
    };
    return plural.value(translated, translated);
}

} // namespace ql
