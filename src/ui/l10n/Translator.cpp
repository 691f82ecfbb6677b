#include "ui/l10n/Translator.h"

#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>

#include <optional>

namespace ql {

namespace {

// The text a label was given already translated (see setTranslated).
constexpr const char* kTranslatedText = "qlTranslatedText";
// The title a window was given already translated (see setTranslatedTitle).
constexpr const char* kTranslatedTitle = "qlTranslatedTitle";

// The translation of a Korean text, or nothing when there is nothing to write
// (no Hangul, or Korean no phrase covers).
std::optional<QString> translated(const QString& text) {
    if (!L10n::hasHangul(text))
        return std::nullopt;
    QString t = L10n::tr(text);
    if (t == text)
        return std::nullopt;
    return t;
}

// Reads through the typed getter (a property look-up by name costs more than
// the rest of a pass) and writes through the property, so a class that
// redeclares it sees the write.
int writeProperty(QObject* object, const char* name, const QString& current) {
    const auto t = translated(current);
    if (!t)
        return 0;
    object->setProperty(name, *t);
    return 1;
}

int translateActionTitles(const QList<QAction*>& actions, bool intoSubmenus) {
    int n = 0;
    for (QAction* action : actions) {
        if (const auto t = translated(action->text())) {
            action->setText(*t);
            ++n;
        }
        if (intoSubmenus && action->menu())
            n += Translator::translateMenu(action->menu());
    }
    return n;
}

int translateHeaders(QAbstractItemView* view) {
    QAbstractItemModel* model = view->model();
    if (!model)
        return 0;
    int n = 0;
    for (int section = 0; section < model->columnCount(); ++section) {
        const QString title = model->headerData(section, Qt::Horizontal).toString();
        const auto t = translated(title);
        if (t && model->setHeaderData(section, Qt::Horizontal, *t))
            ++n;
    }
    return n;
}

int translateText(QWidget* view) {
    if (auto* status = dynamic_cast<StatusLabel*>(view)) {
        if (status->isFinal())
            return 0;
        const auto t = translated(status->stringValue());
        if (!t)
            return 0;
        status->setSilently(*t);
        return 1;
    }
    if (auto* label = qobject_cast<QLabel*>(view)) {
        const QVariant given = label->property(kTranslatedText);
        if (given.isValid() && given.toString() == label->text())
            return 0;
        return writeProperty(label, "text", label->text());
    }
    if (auto* edit = qobject_cast<QLineEdit*>(view)) {
        const int n = edit->isReadOnly() ? writeProperty(edit, "text", edit->text()) : 0;
        return n + writeProperty(edit, "placeholderText", edit->placeholderText());
    }
    return 0;
}

int translateButton(QWidget* view) {
    auto* button = qobject_cast<QAbstractButton*>(view);
    if (!button)
        return 0;
    int n = writeProperty(button, "text", button->text());
    QMenu* pullDown = nullptr;
    if (auto* push = qobject_cast<QPushButton*>(button))
        pullDown = push->menu();
    else if (auto* tool = qobject_cast<QToolButton*>(button))
        pullDown = tool->menu();
    if (pullDown)
        n += translateActionTitles(pullDown->actions(), false);
    return n;
}

int translateCombo(QWidget* view) {
    auto* combo = qobject_cast<QComboBox*>(view);
    if (!combo)
        return 0;
    int n = writeProperty(combo, "placeholderText", combo->placeholderText());
    for (int i = 0; i < combo->count(); ++i)
        if (const auto t = translated(combo->itemText(i))) {
            combo->setItemText(i, *t);
            ++n;
        }
    return n;
}

// A view inside which nothing is translated: exempt, a text view, or an item
// view (whose rows are catalog data; a table's column titles are the pass's).
bool isSkipped(const QWidget* view) {
    return Translator::isExempt(view) || qobject_cast<const QTextEdit*>(view) ||
           qobject_cast<const QPlainTextEdit*>(view) ||
           qobject_cast<const QAbstractItemView*>(view);
}

bool insideSkipped(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (isSkipped(w))
            return true;
    return false;
}

int translateTitle(QWidget* window) {
    const QString title = window->windowTitle();
    const bool isFinal = title == window->property(kTranslatedTitle).toString();
    if (const auto t = isFinal ? std::nullopt : translated(title)) {
        window->setWindowTitle(*t);
        return 1;
    }
    return 0;
}

// Translates a control's own texts just before they are drawn, and a
// window's title when it is shown or retitled, so a text set in Korean after
// the last pass never reaches the screen in Korean.
class PaintGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Paint && type != QEvent::Show && type != QEvent::WindowTitleChange)
            return false;
        if (!watched->isWidgetType() || !L10n::isEnglish())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (type != QEvent::Paint) {
            if (widget->isWindow() && !qobject_cast<QMenu*>(widget) && !isSkipped(widget))
                translateTitle(widget);
            return false;
        }
        if (auto* bar = qobject_cast<QMenuBar*>(widget)) {
            translateActionTitles(bar->actions(), true);
            return false;
        }
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QAbstractButton*>(widget) &&
            !qobject_cast<QComboBox*>(widget) && !qobject_cast<QLineEdit*>(widget))
            return false;
        // A tool tip shows what its owner carries, often a path or a name
        // from the library; the owner's own tool tip is translated instead.
        if (widget->window()->windowType() == Qt::ToolTip || insideSkipped(widget))
            return false;
        Translator::translateOwn(widget);
        return false;
    }
};

// Windows the pass starts from: menus and combo lists are pop-ups reached
// through their owners; tool tips are the tool tips' own business.
bool isPassRoot(const QWidget* window) {
    if (qobject_cast<const QMenu*>(window))
        return false;
    const Qt::WindowType type = window->windowType();
    return type != Qt::Popup && type != Qt::ToolTip;
}

} // namespace

void Translator::exempt(QWidget* view) {
    view->setObjectName(QString::fromLatin1(kExempt));
}

bool Translator::isExempt(const QWidget* view) {
    return view->objectName() == QLatin1String(kExempt);
}

void Translator::setTranslatedTitle(QWidget* window, const QString& title) {
    window->setWindowTitle(title);
    window->setProperty(kTranslatedTitle, title);
}

void Translator::setTranslated(QLabel* label, const QString& text) {
    label->setText(text);
    label->setProperty(kTranslatedText, text);
}

int Translator::translateAll() {
    if (!L10n::isEnglish())
        return 0;
    int n = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (isPassRoot(window))
            n += translateWindow(window);
    return n;
}

int Translator::translateWindow(QWidget* window) {
    if (!L10n::isEnglish())
        return 0;
    return translateTitle(window) + translateView(window);
}

int Translator::translateOwn(QWidget* view) {
    if (!L10n::isEnglish())
        return 0;
    return writeProperty(view, "toolTip", view->toolTip()) + translateText(view) +
           translateButton(view) + translateCombo(view);
}

void Translator::guardPaints() {
    static QPointer<PaintGuard> guard;
    if (guard || !qApp)
        return;
    guard = new PaintGuard(qApp);
    qApp->installEventFilter(guard);
}

int Translator::translateView(QWidget* view) {
    if (!L10n::isEnglish() || isExempt(view))
        return 0;
    if (qobject_cast<QTextEdit*>(view) || qobject_cast<QPlainTextEdit*>(view))
        return 0;
    if (qobject_cast<QTableView*>(view) || qobject_cast<QTreeView*>(view))
        return translateHeaders(static_cast<QAbstractItemView*>(view));
    if (qobject_cast<QAbstractItemView*>(view))
        return 0;
    if (auto* bar = qobject_cast<QMenuBar*>(view))
        return translateActionTitles(bar->actions(), true);

    int n = translateOwn(view);
    for (QObject* child : view->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isWindow())
            n += translateView(widget);
    }
    return n;
}

int Translator::translateMenu(QMenu* menu) {
    if (!L10n::isEnglish())
        return 0;
    int n = 0;
    if (const auto t = translated(menu->title())) {
        menu->setTitle(*t);
        ++n;
    }
    return n + translateActionTitles(menu->actions(), true);
}

} // namespace ql
