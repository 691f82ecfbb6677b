// ---- browser: the catalog filter, the cell filter and the search field ----
#include "app/App.h"

#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "library/CatalogChange.h"
#include "ui/BringBack.h"
#include "ui/FolderPicker.h"
#include "ui/SearchText.h"
#include "ui/StatusLabel.h"
#include "ui/StoredOrder.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QRandomGenerator>

#include <array>
#include <utility>

namespace ql {

namespace {

// How the status line names a cell filter's column.
QString columnName(const QString& key) {
    if (key == QLatin1String("album"))
        return QStringLiteral("앨범");
    if (key == QLatin1String("artist"))
        return QStringLiteral("가수");
    if (key == QLatin1String("title"))
        return QStringLiteral("제목");
    if (key == QLatin1String("format"))
        return QStringLiteral("포맷");
    return key;
}

} // namespace

void App::makeBrowserControls() {
    const UserDefaults defaults;
    browser.orderedIDs = idsFromSetting(defaults.value(keys::kVisibleTrackOrder));
    browser.selectedFolder = defaults.string(keys::kSelectedFolder).value_or(QString());
    playback.shuffled = defaults.boolean(keys::kShuffle);

    search = new QLineEdit;
    search->setText(defaults.string(keys::kLibrarySearch).value_or(QString()));
    // Edits by the user only: setting the text from code (a cell filter, a
    // history step) must not end the cell filter it belongs to.
    connect(search, &QLineEdit::textEdited, this, [this] { controlTextDidChange(); });

    folderPicker = new FolderPicker;
    // Folder names are the user's: the translation pass leaves the items alone,
    // so their fixed parts are translated where they are made.
    Translator::exempt(folderPicker);
    folderPicker->addItem(L10n::tr(QStringLiteral("모든 폴더")));
    connect(folderPicker, &QComboBox::activated, this, [this] { folderChanged(); });
}

void App::filter(bool resetOrder) {
    MatchInput match;
    match.searchText = search->text();
    // A scan still running may not have reached the chosen folder yet: its
    // key is kept, but the list shows what the pop-up says, all folders.
    if (browser.folderPaths.contains(browser.selectedFolder))
        match.selectedFolder = browser.selectedFolder;
    match.cellFilter = browser.cellFilter;
    match.genres = &library.genres;

    OrderInput order;
    // A stored mode outside the known lists selects like the pop-up shows it.
    if (smartListIndex(listening.smartMode) > 0)
        order.smartRows = [this](const std::vector<Track>& rows,
                                 const std::vector<std::size_t>& matched) {
            return smartRows(rows, matched);
        };
    order.shuffled = playback.shuffled;
    order.resetOrder = resetOrder;
    order.orderedIDs = browser.orderedIDs;
    order.shown = &browser.filtered;

    // With the catalog worker running, the visible list points into the
    // worker's copy of this very catalog, and what the pass lets go of is
    // freed there.
    CatalogWorker& work = catalogWork();
    if (work.threaded() && library.shared && library.sharedGeneration == library.catalogGeneration)
        order.shared = library.shared;
    // Its search memo, when it filled it from this very catalog, is taken
    // without checking every row again.
    const bool memoCurrent = work.threaded() && library.memoGeneration == library.catalogGeneration;
    match.memoCurrent = memoCurrent;
    // Its id -> row table of this catalog keeps a shuffled order without
    // building any set; at launch it comes with the cached rows, ahead of
    // their search texts.
    if (work.threaded() && library.idRows &&
        library.idRowsGeneration == library.catalogGeneration) {
        order.distinctIds = library.distinctIds;
        order.idRows = library.idRows.get();
        order.marks = &browser.rowMarks;
    }

    // A shuffle draws once per visible track: from a generator of the pass's
    // own, seeded from the global one, rather than from the global one, which
    // takes its lock for every draw.
    std::array<quint32, 8> seed{};
    if (order.shuffled)
        QRandomGenerator::global()->fillRange(seed.data(), seed.size());
    QRandomGenerator rng(seed.data(), qsizetype(seed.size()));
    SearchMemo& memo = memoForPass(browser.searchMemo, memoCurrent, library.rows.size());
    FilterResult result = runCatalogFilter(library.rows, match, order, memo, rng);
    work.retire(std::exchange(browser.filtered, std::move(result.filtered)));
    ++browser.listPass;
    browser.orderedIDs = std::move(result.orderedIDs);

    saveViewState();
    reloadTable();
    if (albumMode())
        refreshAlbums();
    updateHeader();
    // Counts only: composed in Korean and translated whole. A background
    // update's count (a catalog that came) does not end a failure's turn:
    // the failure of a file opened at launch must not go before it is read.
    const QString count =
        L10n::tr(catalogCountText(browser.filtered.size(), library.rows.size(), false));
    if (resetOrder)
        status->setStringValue(count);
    else
        status->setUpdate(count);
    if (playback.current) {
        const int row = rowOfTrack(browser.filtered, playback.current->id);
        if (row >= 0)
            selectTableRow(row);
    }
}

void App::saveViewState() {
    const QString text = search->text();
    const bool searchChanged = browser.storedSearch != text;
    const bool orderChanged = browser.storedOrder != browser.orderedIDs;
    if (!searchChanged && !orderChanged)
        return;
    UserDefaults defaults;
    if (searchChanged)
        defaults.set(keys::kLibrarySearch, text);
    // A shuffled order changes with every keystroke: it is converted for the
    // file only when the file is written. No order is no entry: the settings
    // file would keep an empty list as "@Invalid()".
    if (orderChanged && browser.orderedIDs.empty())
        defaults.remove(keys::kVisibleTrackOrder);
    else if (orderChanged)
        defaults.setLater(keys::kVisibleTrackOrder,
                          [ids = browser.orderedIDs] { return idsToSetting(ids); });
    browser.storedSearch = text;
    browser.storedOrder = browser.orderedIDs;
}

QString App::genreOf(const Track& track) const {
    return library.genres.value(track.path);
}

bool App::cellFilterMatches(const Track& track) const {
    return !browser.cellFilter || ql::cellFilterMatches(*browser.cellFilter, track, genreOf(track));
}

void App::applyCellFilter(const QString& key, const QString& value) {
    browser.cellFilter = CellFilter{key, value};
    search->setText(QString());
    filter(true);
    scrollTableToTop();
    // The value is the user's data: only the fixed fragments around it are
    // translated, and the pass must not rewrite the message.
    status->setTranslated(L10n::tr(columnName(key) + QStringLiteral(" '")) + value +
                          L10n::tr(QStringLiteral("' · ") +
                                   QString::number(browser.filtered.size()) +
                                   QStringLiteral("곡 (검색창에 입력하거나 폴더를 바꾸면 해제)")));
}

QString App::normalizedSearch(const QString& text) {
    return ql::normalizedSearch(text);
}

bool App::trackMatches(const Track& track, const QString& query) {
    return ql::trackMatches(track, query);
}

void App::controlTextDidChange() {
    browser.cellFilter.reset();
    filter(true);
}

void App::focusSearch() {
    bringBack(window.get());
    search->setFocus(Qt::ShortcutFocusReason);
    search->selectAll();
}

} // namespace ql
