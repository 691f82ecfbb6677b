// ---- browser: the back and forward history ----
//
// One entry per recorded view (a tab, a sidebar list, an opened tile, the
// window build). Stepping restores an entry without recording one, so the
// forward part survives until the next recorded view. Kept for the run only.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/ViewRules.h"

#include <QLineEdit>

namespace ql {

NavState App::currentNav() const {
    NavState s;
    s.viewKind = browser.viewKind;
    s.smart = listening.smartMode;
    if (browser.cellFilter) {
        s.fk = browser.cellFilter->key;
        s.fv = browser.cellFilter->value;
    }
    s.search = search->text();
    return s;
}

void App::pushNav() {
    if (browser.navApplying)
        return;
    if (recordNav(browser.navStack, browser.navIndex, currentNav()))
        updateNavButtons();
}

void App::applyNav(const NavState& entry) {
    browser.navApplying = true;
    browser.viewKind = entry.viewKind;
    setSmart(entry.smart);
    if (entry.fk)
        browser.cellFilter = CellFilter{*entry.fk, entry.fv.value_or(QString())};
    else
        browser.cellFilter.reset();
    search->setText(entry.search);
    UserDefaults().set(keys::kViewKind, browser.viewKind);
    filter(true);
    applyViewMode();
    browser.navApplying = false;
    updateNavButtons();
}

void App::updateNavButtons() {
    const int count = int(browser.navStack.size());
    if (views.navBackBtn)
        views.navBackBtn->setContentTint(browser.navIndex >= 1 ? QColor(Qt::white) : Theme::dim());
    if (views.navFwdBtn)
        views.navFwdBtn->setContentTint(browser.navIndex < count - 1 ? QColor(Qt::white)
                                                                     : Theme::dim());
}

void App::navBack() {
    if (browser.navIndex <= 0)
        return;
    --browser.navIndex;
    // A copy: the restore must not read an entry the stack could move.
    applyNav(NavState(browser.navStack[size_t(browser.navIndex)]));
}

void App::navForward() {
    if (browser.navIndex >= int(browser.navStack.size()) - 1)
        return;
    ++browser.navIndex;
    applyNav(NavState(browser.navStack[size_t(browser.navIndex)]));
}

} // namespace ql
