// ---- listening: smart lists and the one-click listen actions ----
//
// A smart list is one stored number, listening.smartMode; every filter pass
// hands the tracks that passed the folder, search and cell filters to
// smartFilter while the number selects a list (the rules and orders are the
// pure unit listening/SmartLists.h). The listen actions set the browser up
// (filters, list, view) and start the first visible track at once.
#include "app/App.h"

#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "listening/SmartLists.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QComboBox>
#include <QDateTime>

#include <algorithm>

namespace ql {

namespace {

constexpr int kAlbumGrid = 1;
constexpr int kTrackList = 0;

// Plays the visible list's first track; with an empty list says so and
// returns false.
bool playFirstVisible(App& app) {
    if (app.browser.filtered.empty()) {
        app.status->setStringValue(L10n::tr(QStringLiteral("재생할 곡이 없습니다.")));
        return false;
    }
    app.play(app.browser.filtered.front());
    return true;
}

QString trackCount(std::size_t n) {
    return QString::number(n) + QStringLiteral("곡");
}

void requestMissingQuality(App& app) {
    for (const Track& t : app.library.rows)
        if (!app.library.qual.contains(t.path))
            app.requestQuality(t);
}

// One instant for a whole pass.
double nowSeconds() {
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

SmartFacts smartFacts(const App& app) {
    return {&app.playback.stats, &app.library.added, &app.library.qual, &app.listening.favorites};
}

} // namespace

std::vector<Track> App::smartFilter(const std::vector<Track>& tracks) const {
    return smartList(listening.smartMode, tracks, smartFacts(*this), nowSeconds());
}

std::vector<std::size_t> App::smartRows(const std::vector<Track>& rows,
                                        const std::vector<std::size_t>& matched) {
    // With the catalog worker running, every change of the rows moves the
    // catalog generation on: the same generation means the same rows.
    const bool threaded = catalogWork().threaded();
    const bool rowsCurrent = threaded && listening.smartMemoGeneration == library.catalogGeneration;
    std::vector<std::size_t> list = listening.smartMemo.select(
        listening.smartMode, rows, matched, smartFacts(*this), nowSeconds(), rowsCurrent);
    listening.smartMemoGeneration =
        threaded ? std::optional(library.catalogGeneration) : std::nullopt;
    return list;
}

void App::setSmart(int n) {
    listening.smartMode = n;
    UserDefaults().set(keys::kSmartMode, n);
    smartPicker->setCurrentIndex(smartListIndex(n));
}

void App::smartChanged() {
    const int mode = std::max(0, smartPicker->currentIndex());
    setSmart(mode);
    // An album or artist chosen by a cell would hide most of the list.
    browser.cellFilter.reset();
    if (mode == kHiResList)
        requestMissingQuality(*this);
    if (mode == kRecentList || mode == kWeekList)
        warmAdded();
    else
        filter(true);
    // After the refilter, whose count would otherwise replace it at once.
    if (mode == kHiResList)
        status->setStringValue(
            L10n::tr(QStringLiteral("💎 음질을 확인하는 중… (확인되는 대로 목록에 나타납니다)")));
}

void App::startFirst(const QString& label) {
    if (playFirstVisible(*this))
        status->setStringValue(L10n::tr(QStringLiteral("▶ ") + label + QStringLiteral(": ") +
                                        trackCount(browser.filtered.size())));
}

void App::listenAll() {
    resetFilters();
    playback.shuffled = false;
    UserDefaults().set(keys::kShuffle, false);
    showListView();
    filter(true);
    startFirst(QStringLiteral("전체 재생"));
}

void App::listenShuffle() {
    resetFilters();
    showListView();
    toggleShuffle();
    startFirst(QStringLiteral("전체 랜덤"));
}

void App::listenRandomAlbum() {
    // The albums of what is visible now (search, folder or smart list in
    // force), grouped as the album grid would show them.
    const int previousView = browser.viewKind;
    browser.viewKind = kAlbumGrid;
    rebuildAlbums();
    browser.viewKind = kTrackList;
    const std::optional<std::size_t> pick = pickAlbumTile(browser.albums, [this](std::size_t n) {
        return std::size_t(listening.random.bounded(quint64(n)));
    });
    if (!pick) {
        // Nothing was visible: the browser stays as it was, view included,
        // so later passes still regroup the grid on screen.
        browser.viewKind = previousView;
        return;
    }
    const QString title = browser.albums[*pick].title;
    resetFilters();
    // The album is played from the whole catalog.
    browser.cellFilter = CellFilter{QStringLiteral("album"), title};
    showListView();
    filter(true);
    if (playFirstVisible(*this))
        // The title is the user's: only the fixed fragments are translated.
        status->setTranslated(
            L10n::tr(QStringLiteral("▶ 앨범 '")) + title +
            L10n::tr(QStringLiteral("': ") + trackCount(browser.filtered.size())));
}

void App::listenFavorites() {
    resetFilters();
    setSmart(kFavoritesList);
    showListView();
    filter(true);
    if (!browser.filtered.empty())
        startFirst(QStringLiteral("좋아요만"));
    else
        status->setStringValue(L10n::tr(
            QStringLiteral("♥한 곡이 아직 없습니다. 곡을 재생하고 ♡ 즐겨찾기를 눌러 보세요.")));
}

void App::listenHiRes() {
    resetFilters();
    setSmart(kHiResList);
    showListView();
    requestMissingQuality(*this);
    filter(true);
    if (!browser.filtered.empty()) {
        startFirst(QStringLiteral("하이레즈만"));
        return;
    }
    // The quality results' refilter starts the first hi-res track it finds.
    library.autoPlayWhenReady = true;
    status->setStringValue(
        L10n::tr(QStringLiteral("💎 음질을 확인하는 중… 하이레즈 곡이 확인되면 바로 재생합니다.")));
}

} // namespace ql
