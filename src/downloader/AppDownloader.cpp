// ---- downloader: the settings menu's entry points, the FLAC upgrade of a
// library track, and the preview player the downloader asks for ----
#include "app/App.h"

#include "downloader/FlacFetcher.h"
#include "downloader/UpgradeSong.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/PcmStream.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include <QMenu>
#include <QPushButton>

namespace ql {

// Asked on each call, so a script installed or removed while the program runs
// shows or hides the menu items the next time the menu is built.
bool App::hasFetcher() const {
    return FlacFetcher::hasScript(fetcher->folders().resources);
}

void App::showFetch() {
    fetcher->show();
}

// The chart preset: today's top ten.
void App::runMelon() {
    fetcher->runMelon(10);
}

void App::upgradeFlac() {
    // The table selects one row at a time: its selected row is the one
    // selected last.
    std::optional<Track> track;
    const int row = views.table ? views.table->selectedRow() : -1;
    if (row >= 0 && std::size_t(row) < browser.filtered.size())
        track = browser.filtered[std::size_t(row)];
    else
        track = playback.current;
    if (!track) {
        status->setStringValue(L10n::tr(QStringLiteral("업그레이드할 곡을 먼저 선택하세요.")));
        return;
    }
    const std::optional<UpgradeSong> song = upgradeSong(*track, library.qual.value(track->path));
    if (!song) {
        status->setStringValue(L10n::tr(QStringLiteral(
            "이 곡은 이미 무손실이거나 음질 확인 전입니다 (음질 열에 ⬆가 있는 곡만 대상).")));
        return;
    }
    fetcher->prefillSong(song->artist, song->title);
}

void App::menuUpgrade() {
    if (!rowTrack())
        return;
    views.table->selectRowOnly(views.table->clickedRow());
    upgradeFlac();
}

QPushButton* App::makeUpgradeButton(QWidget* parent) {
    QPushButton* b = button(QStringLiteral("⬆ FLAC로 받기"), weakCall(&App::upgradeFlac));
    b->setParent(parent);
    b->setToolTip(
        QStringLiteral("선택한 MP3 등 손실 음원을 FLAC로 다시 받는 창 열기 (음질 열의 ⬆ 표시 곡)"));
    return b;
}

void App::addUpgradeItem(QMenu* rowMenu) {
    if (hasFetcher())
        addMenuItem(rowMenu, L10n::tr(QStringLiteral("⬆ FLAC로 받기")),
                    weakCall(&App::menuUpgrade));
}

std::unique_ptr<platform::AudioPlayer> App::makePreviewPlayer(const QUrl& address) {
    if (!platform.outputs)
        return nullptr;
    auto stream = platform::PcmStream::start(toolPath(QStringLiteral("ffmpeg")), address);
    if (!stream.stream)
        return nullptr;
    auto opened = platform::AudioPlayer::openStream(*platform.outputs, std::move(stream.stream));
    if (!opened.player)
        return nullptr;
    bindPlayer(*opened.player);
    opened.player->setVolume(previewVol());
    return std::move(opened.player);
}

void App::applyPreviewVolume() {
    if (fetcher)
        fetcher->setPreviewVolume(previewVol());
}

} // namespace ql
