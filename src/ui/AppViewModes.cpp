// ---- browser: view tabs, sidebar entries and the views they show ----
//
// The tab bar and the sidebar map onto two numbers, browser.viewKind and
// listening.smartMode (ui/ViewRules.h holds the mapping). A change always runs
// in one order: state, the stored "viewKind", the refilter, the views, then
// the history entry.
//
// The tile grid and its letter bar are ui/AppAlbumGrid.cpp's.
#include "app/App.h"

#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "listening/SmartLists.h"
#include "ui/AlbumGridView.h"
#include "ui/AlbumGrouping.h"
#include "ui/IconButton.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"
#include "ui/TrackTableView.h"
#include "ui/ViewRules.h"
#include "ui/l10n/L10n.h"

#include <QComboBox>
#include <QLineEdit>

namespace ql {

namespace {

void storeViewKind(int viewKind) {
    UserDefaults().set(keys::kViewKind, viewKind);
}

} // namespace

void App::viewModeChanged() {
    const int seg = viewModeControl->selectedSegment();
    const std::optional<TabTarget> target = tabTarget(seg);
    if (!target)
        return;
    browser.cellFilter.reset();
    setSmart(target->smart);
    browser.viewKind = target->viewKind;
    if (seg == 5)
        for (const Track& t : library.rows)
            if (!library.qual.contains(t.path))
                requestQuality(t);
    storeViewKind(browser.viewKind);
    if (seg == 4)
        warmAdded();
    else
        filter(true);
    // After the refilter, whose count would otherwise replace it at once.
    if (seg == 5)
        status->setStringValue(
            L10n::tr(QStringLiteral("💎 음질을 확인하는 중… (확인되는 대로 나타납니다)")));
    applyViewMode();
    pushNav();
}

void App::sidebarClicked(int tag) {
    switch (tag) {
    case 0:
    case 5:
    case 6:
        viewModeControl->setSelectedSegment(tag == 0 ? 0 : tag == 5 ? 4 : 5);
        viewModeChanged();
        return;
    case 1:
    case 2:
    case 3:
    case 4:
        browser.cellFilter.reset();
        search->setText(QString());
        setSmart(tag == 1 ? 5 : tag);
        browser.viewKind = 0;
        storeViewKind(0);
        if (listening.smartMode == 4)
            warmAdded();
        else
            filter(true);
        applyViewMode();
        pushNav();
        return;
    case 10:
        listenAll();
        return;
    case 11:
        listenShuffle();
        return;
    case 12:
        listenRandomAlbum();
        return;
    default:
        return;
    }
}

void App::syncTabs() {
    viewModeControl->setSelectedSegment(tabIndex(listening.smartMode, browser.viewKind));
    const int active = activeSidebarTag(listening.smartMode, browser.cellFilter.has_value());
    for (SidebarButton* b : views.sidebarButtons)
        b->setActive(b->tag() == active);
    if (views.toolsButton) {
        const bool open = views.extrasView && !views.extrasView->isHidden();
        views.toolsButton->setTitle(open ? QStringLiteral("🎛 도구 닫기")
                                         : QStringLiteral("🎛 도구"));
    }
}

void App::applyViewMode() {
    const int kind = browser.viewKind;
    if (views.table) {
        views.table->setHidden(kind > 0);
        keepShownTitleCovers();
    }
    if (views.albumView)
        views.albumView->setHidden(kind == 0);
    if (views.letterBar)
        views.letterBar->setHidden(kind != 1);
    if (kind == 3)
        startGenreScan();
    syncTabs();
    updateHeader();
    if (kind > 0)
        refreshAlbums();
}

void App::resetFilters() {
    browser.selectedFolder.clear();
    UserDefaults().set(keys::kSelectedFolder, QString());
    folderPicker->setCurrentIndex(0);
    search->setText(QString());
    browser.cellFilter.reset();
    setSmart(0);
}

void App::showListView() {
    browser.viewKind = 0;
    storeViewKind(0);
    applyViewMode();
}

void App::warmShownView() {
    // The view restored at launch was applied before any catalog had come,
    // and a later catalog brings files never read: without this, the genre
    // grid keeps them under "장르 미지정" and a date list shows none of them
    // (at launch: nothing at all) until the tab is chosen again; the same
    // holds for the hi-res list's quality labels.
    if (browser.viewKind == kGenreView)
        startGenreScan();
    if (needsAddedDates(listening.smartMode, browser.viewKind, browser.sortMode))
        readMissingAdded();
    // The hi-res list shows only files with a quality label: one added while
    // the program was closed has none until it is asked for.
    if (smartListIndex(listening.smartMode) == kHiResList)
        for (const Track& t : library.rows)
            if (!library.qual.contains(t.path))
                requestQuality(t);
}

} // namespace ql
