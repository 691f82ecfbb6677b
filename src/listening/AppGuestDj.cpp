// ---- listening: the guest DJ and the Sonic Adventure ----
//
// Both fill the radio queue from the sound of the catalog: the DJ appends a
// batch in its style whenever popRadio finds fewer than two ids queued (and
// once when a style is chosen), the Adventure replaces the queue with a path
// from the current track to the selected one and turns the DJ off. The
// choices themselves are pure units (listening/DjPicks.h,
// listening/AdventurePath.h) over SoundRows gathered from the catalog and
// the sonic index (kept between refills in `listening.soundMemo`); the
// random source is the listening features' one.
//
// A style's first batch waits for the current track's features (withSonic).
// When another choice came by the time they arrive (another style, "DJ
// 끄기", the same style again, an Adventure), that late completion does
// nothing: the newer choice has spoken, "started" must not follow "off", and
// one choice queues one first batch. Likewise an Adventure still waiting for
// its analyses is not built once the button was pressed again: the analyses
// may finish in any order, and the older path must not replace the newer.
#include "app/App.h"

#include "listening/AdventurePath.h"
#include "ui/PullDownButton.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include <QToolButton>

#include <algorithm>

namespace ql {

namespace {

constexpr int kDjOffItem = 4;

QString styleName(int style) {
    switch (style) {
    case kDjContempo:
        return QStringLiteral("컨템포");
    case kDjGroupie:
        return QStringLiteral("그루피");
    case kDjStretch:
        return QStringLiteral("스트레치");
    default:
        return {};
    }
}

QString djFace(int style) {
    return L10n::tr(style > 0 ? QStringLiteral("🎧 DJ ") + styleName(style)
                              : QStringLiteral("🎧 게스트 DJ"));
}

} // namespace

SoundRow App::soundRow(const Track& track) const {
    const auto record = listening.sonic.constFind(track.path);
    return soundRowOf(track, record == listening.sonic.cend() ? nullptr : &*record);
}

const std::vector<SoundRow>& App::soundRows() {
    return listening.soundMemo.rows(library.rows, listening.sonic);
}

void App::showDjFace() {
    // Sized for every face up front: a choice must not move the button.
    djPopup->setFaces(
        {djFace(kDjOff), djFace(kDjContempo), djFace(kDjGroupie), djFace(kDjStretch)});
    djPopup->setText(djFace(listening.djMode));
}

void App::djChanged(int index) {
    ListeningState& l = listening;
    if (index < 1 || index > kDjOffItem)
        return;
    const int choice = ++l.djChoice;
    // The queue is dropped below: a successor prepared from it or from the
    // list goes first (a pick armed to follow is given back, then dropped
    // with the queue).
    cancelPrepared();
    if (index == kDjOffItem) {
        // The playing track goes on; the memory of picks is kept.
        l.djMode = kDjOff;
        l.radioQueue.clear();
        showDjFace();
        status->setStringValue(L10n::tr(QStringLiteral("게스트 DJ를 껐습니다.")));
        return;
    }
    l.djMode = index;
    showDjFace();
    // Groupie needs no sound; the other two want the catalog analysed.
    if (index != kDjGroupie)
        startSonicScan();
    l.radioQueue.clear();
    l.djRecent.clear();
    if (!playback.current) {
        status->setStringValue(
            L10n::tr(QStringLiteral("곡을 하나 재생하면 DJ가 이어서 틀어줍니다.")));
        return;
    }
    withSonic({*playback.current}, [this, style = index, choice] {
        if (listening.djMode != style || listening.djChoice != choice)
            return;
        // The list's next track may have been armed while the batch waited.
        cancelPrepared();
        djRefill();
        status->setStringValue(L10n::tr(QStringLiteral("🎧 DJ ") + styleName(style) +
                                        QStringLiteral(" 시작: 다음 곡부터 이어서 틀어줍니다.")));
        // A playing track goes on and the picks follow it.
        if (!isPlaying())
            if (const std::optional<Track> first = popRadio())
                play(*first);
    });
}

void App::djRefill() {
    ListeningState& l = listening;
    if (l.djMode <= kDjOff)
        return;
    // Each batch continues from the end of the one before.
    std::optional<Track> seed;
    if (!l.radioQueue.isEmpty()) {
        const auto it = std::ranges::find(library.rows, l.radioQueue.last(), &Track::id);
        if (it != library.rows.end())
            seed = *it;
    }
    if (!seed)
        seed = playback.current;
    if (!seed)
        return;
    QSet<qint64> avoid(l.djRecent.cbegin(), l.djRecent.cend());
    avoid.unite(QSet<qint64>(l.radioQueue.cbegin(), l.radioQueue.cend()));
    avoid.insert(seed->id);
    avoid.insert(playback.current ? playback.current->id : -1);
    const std::vector<qint64> picks =
        djPicks(l.djMode, soundRows(), soundRow(*seed), avoid, l.random);
    l.radioQueue.append(QList<qint64>(picks.begin(), picks.end()));
    l.djRecent = djRemember(l.djRecent, picks);
}

void App::sonicAdventure() {
    if (!playback.current) {
        status->setStringValue(
            L10n::tr(QStringLiteral("먼저 출발할 곡을 재생하세요 (지금 재생 중인 곡이 출발점).")));
        return;
    }
    const Track start = *playback.current;
    const int row = views.table->selectedRow();
    const TrackList& list = browser.filtered;
    if (row < 0 || std::size_t(row) >= list.size() || list[std::size_t(row)].id == start.id) {
        status->setStringValue(
            L10n::tr(QStringLiteral("🧭 목록에서 도착할 곡을 클릭해 선택한 뒤 "
                                    "다시 누르세요 (지금 곡 → 선택한 곡).")));
        return;
    }
    const Track goal = list[std::size_t(row)];
    startSonicScan();
    // Start and goal as they were at the click, whatever plays by the time
    // their features are known; a press made meanwhile has the last word,
    // however the two analyses finish.
    const int choice = ++listening.adventureChoice;
    withSonic({start, goal}, [this, start, goal, choice] {
        if (listening.adventureChoice == choice)
            buildAdventure(start, goal);
    });
}

void App::buildAdventure(const Track& start, const Track& goal) {
    ListeningState& l = listening;
    const std::optional<std::vector<double>> a = sonicVec(start), b = sonicVec(goal);
    if (!a || !b) {
        status->setStringValue(L10n::tr(QStringLiteral("두 곡의 소리를 분석하지 못했습니다.")));
        return;
    }
    const std::vector<SoundRow>& rows = soundRows();
    const std::vector<std::size_t> pool = adventurePool(rows, start.id, goal.id);
    if (pool.size() < kAdventureMinPool) {
        status->setStringValue(
            L10n::tr(QStringLiteral("🎛 분석된 곡이 아직 적습니다 (%1곡). "
                                    "분석이 진행되는 동안 잠시 후 "
                                    "다시 눌러 주세요.")
                         .arg(pool.size())));
        return;
    }
    const std::vector<qint64> path = adventurePath(rows, pool, soundRow(start), *a, *b, l.random);
    // Before the queue is replaced: a pick armed to follow goes back to the
    // old queue, not to the front of the path.
    cancelPrepared();
    l.radioQueue = QList<qint64>(path.begin(), path.end());
    l.radioQueue << goal.id;
    l.djMode = kDjOff;
    showDjFace();
    // Two titles from the library: only the fixed fragments are translated.
    status->setTranslated(
        L10n::tr(QStringLiteral("🧭 소닉 어드벤처: ")) + start.title +
        QStringLiteral(" → … → ") + goal.title + QStringLiteral(" (") +
        QString::number(l.radioQueue.size()) +
        L10n::tr(QStringLiteral("곡, 템포·음량·분위기를 서서히 바꿔 이어갑니다)")));
    // The DJ is off, so this takes the first path track without a refill.
    if (const std::optional<Track> first = popRadio())
        play(*first);
}

} // namespace ql
