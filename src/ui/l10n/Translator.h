// The interface translation pass: in English mode it rewrites, in place, every
// text on screen that still holds a Hangul syllable with L10n::tr of it. The
// tick runs it once a second, so a Korean text set by an action shows in
// English within about a second.
//
// What a pass visits, per window (every top-level window the application holds,
// shown or hidden, except pop-up menus, combo-box lists and tool tips, which are
// reached through their owners or not at all):
//  - the window title, unless it was set already translated (setTranslatedTitle:
//    a title composed around a name from the library) and not changed since;
//  - in the widget tree, in child order: tool tips; label texts (the status line
//    through StatusLabel::setSilently, which keeps its hold, and never a final
//    message); the text of a read-only line edit and the placeholder of any line
//    edit (what the user typed is never touched); button titles; the items of a
//    combo box (order and selection stay) and of a button's pull-down menu (not
//    their submenus); the column titles of a table or tree (through the model's
//    setHeaderData, which a model must implement to take them);
//  - the menu bar: menu titles and item titles, submenus included.
// Skipped with everything inside them: widgets marked exempt (objectName
// "nol10n": views showing catalog data), text views (QTextEdit,
// QPlainTextEdit), list views such as the album grid, and the rows of tables.
// Context menus are not visited: build them already translated. A label
// that shows a text composed already in the interface language around names
// (setTranslated) is left alone while it shows that text.
//
// Labels, buttons, line edits and placeholders are written through their Qt
// properties ("text", "placeholderText"), so a class that redeclares the
// property with its own setter (the play button, whose symbol follows its
// title) sees the English title. A text is written only when its translation
// differs, so a second pass writes nothing. Korean mode: a pass does nothing.
//
// Between passes, a guard (guardPaints, installed once on the application)
// translates a label's, button's, pop-up's or line edit's own texts just
// before the control paints, and a window's title when the window is shown or
// retitled, with the same skips (tool tips too: they show paths and names from
// the library): a text the program sets in Korean never reaches the screen in
// Korean, even for the moment until the next pass.
//
// Main thread only. Each function returns how many texts it rewrote.
#pragma once

class QLabel;
class QMenu;
class QString;
class QWidget;

namespace ql {

class Translator {
public:
    Translator() = delete;

    static constexpr const char* kExempt = "nol10n";
    // Marks a view (and everything inside it) as never translated.
    static void exempt(QWidget* view);
    static bool isExempt(const QWidget* view);
    // Sets a window title composed already translated, which the pass leaves
    // as it is until the title is set again another way.
    static void setTranslatedTitle(QWidget* window, const QString& title);
    // Shows `text` on `label`, composed already in the interface language
    // (fixed fragments translated, names as they are), and marks it so the
    // pass never runs the names through the table; another text set later
    // is translated as usual.
    static void setTranslated(QLabel* label, const QString& text);

    // One pass over every window. Nothing in Korean mode.
    static int translateAll();
    static int translateWindow(QWidget* window);
    static int translateView(QWidget* view);
    static int translateMenu(QMenu* menu);
    // One control's own texts (tool tip, label or button title, pull-down
    // items, pop-up items, placeholder), not its children's.
    static int translateOwn(QWidget* view);
    // Installs the paint-time guard on the application (once).
    static void guardPaints();
};

} // namespace ql
