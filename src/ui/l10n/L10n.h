// Interface texts are written in Korean where they are made and shown in
// English when English is the interface language ("en", the default).
//
// L10n is the process-wide translator every shown text passes through, either
// where the text is set (L10n::tr) or by the translation pass that rewrites
// Korean still on screen once a second (Translator, App::translateUI).
//
// The language is fixed for the run: the launch sets it once from the stored
// setting "lang" (setLanguage); until then, and when nothing is stored, it is
// "en". Any code other than "en" means Korean: no translation at all.
//
// How a message built around values reaches English:
//  - counts only: compose the Korean text with the numbers in it and translate
//    it whole ("12곡 / 전체 340곡" → "12 tracks / All 340 tracks"); the unit
//    rules read the numbers;
//  - names from the library (titles, artists, albums, folders), device names or
//    error texts: translate each fixed fragment and insert the value as it is
//    (L10n::tr("♥ 즐겨찾기에 추가: ") + title), so a Korean name is never run
//    through the table; on the status line use StatusLabel::setTranslated so
//    the pass leaves the message alone;
//  - texts code rewrites on every tick (countdowns, device pop-up items, the
//    DAC label) and menus the pass does not visit (row context menus): set them
//    already translated, or the next rewrite shows Korean again.
// tests/ui/l10n/interface-texts.txt lists every interface text the way it is
// composed, and the coverage test proves each comes out without Hangul.
//
// Main thread only.
#pragma once

#include <QString>
#include <QStringView>

namespace ql {

class Localizer;

class L10n {
public:
    L10n() = delete;

    static QString tr(const QString& text);
    static QString tab(const QString& label);

    // True when any character is a precomposed Hangul syllable (U+AC00 to
    // U+D7A3); conjoining and compatibility jamo do not count.
    static bool hasHangul(QStringView text);

    static QString lang();
    static bool isEnglish();

    // Fixes the interface language ("en" when the stored setting is absent).
    // Called once at launch; a later call starts over with an empty memo.
    static void setLanguage(const QString& code);

    // The process-wide translator (created on first use).
    static Localizer& instance();
};

} // namespace ql
