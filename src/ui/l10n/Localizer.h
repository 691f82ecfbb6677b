// Translates Korean interface texts into English: the engine behind L10n.
//
// tr(text): in Korean mode, or when the text holds no Hangul syllable, the text
// itself (nothing is remembered). Otherwise the unit rules rewrite counts
// with Korean unit words ("21곡" → "21 tracks"), each rule on the output of the
// one before; then every row of the phrase table, longest key first, replaces
// every occurrence of its key. Korean that no key covers stays as it is. The
// result is remembered per input text; when more than kMemoLimit texts are
// remembered, the whole memo is emptied before the next one is stored, so it
// never holds more than kMemoLimit + 1.
//
// The language is fixed for the life of the object: "en" is English, any other
// code Korean. Not thread-safe: one owner (the main thread, through L10n).
#pragma once

#include "ui/l10n/PairTable.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>

namespace ql {

class Localizer {
public:
    static constexpr qsizetype kMemoLimit = 4000;

    Localizer(QString lang, const PairTable& table);

    const QString& lang() const { return m_lang; }
    bool isEnglish() const { return m_english; }

    QString tr(const QString& text);
    // A view-tab label: its translation, in English with the plural forms of
    // the four view names ("Album" → "Albums").
    QString tab(const QString& label);

    qsizetype memoSize() const { return m_memo.size(); }
    bool remembers(const QString& text) const { return m_memo.contains(text); }

private:
    struct UnitRule {
        QRegularExpression pattern;
        QString replacement; // \1 is the first capture group
        QChar unit;          // the rule cannot match a text without this letter
    };
    struct Row {
        QString korean;
        QString english;
        char16_t anchor; // the key's first Hangul syllable
    };

    QString translate(QString text) const;

    QString m_lang;
    bool m_english;
    QList<UnitRule> m_units;
    QList<Row> m_rows;
    QHash<QString, QString> m_memo;
};

} // namespace ql
