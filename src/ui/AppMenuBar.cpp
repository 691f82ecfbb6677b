// ---- menu bar: the application, "파일", "편집" and "윈도우" menus ----
//
// Titles enter in Korean; in English mode the translation pass rewords them.
// Linux has no application menu of its own, so the first menu is titled
// "Quavelark"; hiding minimises our windows and "모두 보기" restores our
// minimised windows (enabled while there is one when the menu opens);
// "기타 가리기" and the empty "서비스" submenu stay, disabled. "음원 열기…" and "음원 검색"
// answer in every window of ours; the edit items act on the focused line
// edit; the window items on the active window. Linux has no window list of
// the platform's, so "윈도우" lists our visible windows below its items,
// refreshed each time it opens. "음원 열기…" runs chooseAudioFile()
// (library/AppLibrary.cpp).
#include "app/App.h"

#include "ui/BringBack.h"

#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

#include <algorithm>

namespace ql {

namespace {

QAction* item(QMenu* menu, const char* title, const QKeySequence& key,
              std::function<void()> action) {
    QAction* a = menu->addAction(QString::fromUtf8(title));
    a->setShortcut(key);
    QObject::connect(a, &QAction::triggered, menu, [action = std::move(action)] { action(); });
    return a;
}

void disabled(QMenu* menu, const char* title, const QKeySequence& key = {}) {
    QAction* a = menu->addAction(QString::fromUtf8(title));
    a->setShortcut(key);
    a->setEnabled(false);
}

// The focused line edit of the active window, if any.
template <class Verb> void onFocusedEdit(Verb verb) {
    if (auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        (edit->*verb)();
}

void onActiveWindow(const std::function<void(QWidget*)>& verb) {
    if (QWidget* w = QApplication::activeWindow())
        verb(w);
}

QList<QWidget*> visibleWindows() {
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !qobject_cast<QMenu*>(w) && w->windowType() != Qt::Popup &&
            w->windowType() != Qt::ToolTip)
            out << w;
    return out;
}

// The platform's full-screen key, F11 where the desktop defines none.
QKeySequence fullScreenKey() {
    const QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::FullScreen);
    return keys.isEmpty() ? QKeySequence(Qt::Key_F11) : keys.first();
}

} // namespace

void App::buildMenu() {
    auto* bar = new QMenuBar(window.get());
    QPointer<App> self(this);

    QMenu* app = bar->addMenu(QStringLiteral("Quavelark"));
    item(app, "Quavelark 숨기기", QKeySequence(Qt::CTRL | Qt::Key_H), [] {
        for (QWidget* w : visibleWindows())
            w->showMinimized();
    });
    disabled(app, "기타 가리기", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H));
    QAction* showAll = item(app, "모두 보기", {}, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->isMinimized())
                bringBack(w);
    });
    QObject::connect(app, &QMenu::aboutToShow, showAll, [showAll] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        showAll->setEnabled(std::any_of(windows.begin(), windows.end(), [](const QWidget* w) {
            return w->isVisible() && w->isMinimized();
        }));
    });
    QMenu* services = app->addMenu(QStringLiteral("서비스"));
    services->setEnabled(false);
    app->addSeparator();
    // The normal quit: the shutdown runs from the application's aboutToQuit.
    item(app, "Quavelark 종료", QKeySequence(Qt::CTRL | Qt::Key_Q),
         [] { QCoreApplication::quit(); });

    QMenu* file = bar->addMenu(QStringLiteral("파일"));
    item(file, "음원 열기…", QKeySequence(Qt::CTRL | Qt::Key_O), [self] {
        if (self)
            self->chooseAudioFile();
    })->setShortcutContext(Qt::ApplicationShortcut);
    item(file, "창 닫기", QKeySequence(Qt::CTRL | Qt::Key_W),
         [] { onActiveWindow([](QWidget* w) { w->close(); }); });

    QMenu* edit = bar->addMenu(QStringLiteral("편집"));
    item(edit, "실행 취소", QKeySequence(Qt::CTRL | Qt::Key_Z),
         [] { onFocusedEdit(&QLineEdit::undo); });
    item(edit, "실행 복귀", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
         [] { onFocusedEdit(&QLineEdit::redo); });
    edit->addSeparator();
    item(edit, "오려두기", QKeySequence(Qt::CTRL | Qt::Key_X),
         [] { onFocusedEdit(&QLineEdit::cut); });
    item(edit, "복사하기", QKeySequence(Qt::CTRL | Qt::Key_C),
         [] { onFocusedEdit(&QLineEdit::copy); });
    item(edit, "붙여넣기", QKeySequence(Qt::CTRL | Qt::Key_V),
         [] { onFocusedEdit(&QLineEdit::paste); });
    item(edit, "모두 선택", QKeySequence(Qt::CTRL | Qt::Key_A),
         [] { onFocusedEdit(&QLineEdit::selectAll); });
    edit->addSeparator();
    item(edit, "음원 검색", QKeySequence(Qt::CTRL | Qt::Key_F), [self] {
        if (self)
            self->focusSearch();
    })->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* windows = bar->addMenu(QStringLiteral("윈도우"));
    item(windows, "최소화", QKeySequence(Qt::CTRL | Qt::Key_M),
         [] { onActiveWindow([](QWidget* w) { w->showMinimized(); }); });
    item(windows, "확대/축소", {}, [] {
        onActiveWindow([](QWidget* w) { w->isMaximized() ? w->showNormal() : w->showMaximized(); });
    });
    item(windows, "전체 화면", fullScreenKey(), [] {
        onActiveWindow(
            [](QWidget* w) { w->isFullScreen() ? w->showNormal() : w->showFullScreen(); });
    });
    windows->addSeparator();
    item(windows, "모두 앞으로 가져오기", {}, [] {
        for (QWidget* w : visibleWindows())
            w->raise();
    });
    // Our visible windows, below a separator, listed afresh at each opening.
    const int fixedItems = int(windows->actions().size());
    connect(windows, &QMenu::aboutToShow, windows, [windows, fixedItems] {
        const QList<QAction*> all = windows->actions();
        for (qsizetype i = fixedItems; i < all.size(); ++i) {
            windows->removeAction(all[i]);
            all[i]->deleteLater();
        }
        const QList<QWidget*> shown = visibleWindows();
        if (!shown.isEmpty())
            windows->addSeparator();
        for (QWidget* w : shown) {
            QPointer<QWidget> target(w);
            QAction* a = windows->addAction(w->windowTitle());
            a->setCheckable(true);
            a->setChecked(w == QApplication::activeWindow());
            connect(a, &QAction::triggered, windows, [target] {
                if (!target)
                    return;
                bringBack(target);
            });
        }
    });

    window->setMenuBar(bar);
}

} // namespace ql
