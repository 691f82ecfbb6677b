// The rules of the browser's view state, free of widgets: which tab and
// sidebar entry stand for a view, what a tab switches to, the page header's
// texts and the count label, and how the history records an entry.
//
// The texts returned are the Korean originals; callers translate the fixed
// ones (a cell-filter value is library data and is never translated).
#pragma once

#include "ui/CatalogFilter.h"
#include "ui/NavState.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <vector>

namespace ql {

// What a view tab switches to: the smart list and the view kind.
struct TabTarget {
    int smart = 0;
    int viewKind = 0;
};
// Segments 0…5 ("앨범", "가수", "곡", "장르", "최근 추가", "하이레즈"); none
// for any other value.
std::optional<TabTarget> tabTarget(int segment);
// The segment that shows the state, -1 for none.
int tabIndex(int smartMode, int viewKind);
// The sidebar entry to highlight, -1 for none.
int activeSidebarTag(int smartMode, bool hasCellFilter);

// Whether what is shown depends on the dates files were added: the smart
// lists "최근 받은 곡" (1) and "이번 주 새 곡" (4) select by them, and a grid
// sorted by date added (sort mode 2) orders its tiles by them.
bool needsAddedDates(int smartMode, int viewKind, int sortMode);

// The page header: shown for a smart list or a cell filter.
bool isPage(int smartMode, bool hasCellFilter);
struct PageTitle {
    QString text;
    bool fixed = true; // a program text (translate it), not a library name
};
PageTitle pageTitle(int viewKind, int smartMode, const std::optional<CellFilter>& cellFilter);
// Each non-empty name followed by " · ", joined.
QString artistPrefix(const QStringList& names);
// "<n>곡" in the track list, "<g>장 • <n>곡" / "<g>개 • <n>곡" in a grid.
QString countLabelText(int viewKind, std::size_t groups, std::size_t tracks);

// Records `live` after the current entry: nothing when it equals the current
// one; the forward part is dropped. Returns whether the history changed.
bool recordNav(std::vector<NavState>& stack, int& index, const NavState& live);

} // namespace ql
