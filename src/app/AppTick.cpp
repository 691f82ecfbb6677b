// ---- tick: the 0.5 s periodic work ----
//
// One timer drives every poll of the program on the main thread: nothing
// observes device or system notifications. The cheap steps run every tick,
// the costly ones every 2nd, 4th or 20th (1 s, 2 s, 10 s).
#include "app/App.h"

#include "analysis/WaveformView.h"
#include "app/SeekHold.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/TimeText.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>

#include <cmath>
#include <utility>

namespace ql {

namespace {
constexpr qint64 kEverySecond = 2;
constexpr qint64 kEveryTwoSeconds = 4;
constexpr qint64 kEveryTenSeconds = 20;

// Runs one step that belongs to another part of the program, unless the
// observer stands in for it.
template <class Step> void runStep(const Observer& observer, const char* name, Step&& step) {
    if (!observer.tickStep(name))
        step();
}

} // namespace

void App::tick() {
    ++core.ticks;
    const qint64 t = core.ticks;

    if (t % kEverySecond == 0)
        runStep(*services.observer, "translateUI", [this] { translateUI(); });
    tellStoreFaults();

    extrasTick();

    // The downloader's saved files go to the backend one per tick, in the
    // order they were saved, before a rescan it asked for; then the menu's
    // requests that found the backend busy.
    if (!library.pending && !library.backendError) {
        if (!core.pendingAdds.isEmpty()) {
            const QString path = core.pendingAdds.takeFirst();
            status->setStringValue(QStringLiteral("새로 받은 곡을 목록에 추가 중…"));
            request(QStringLiteral("add"), std::nullopt, path);
        } else if (core.needsScan) {
            core.needsScan = false;
            status->setStringValue(QStringLiteral("새로 받은 음원을 다시 찾는 중…"));
            request(QStringLiteral("scan"), std::nullopt, std::nullopt);
        } else if (library.scanDue) {
            library.scanDue = false;
            request(QStringLiteral("scan"), std::nullopt, std::nullopt);
        } else if (const std::optional<qint64> id = std::exchange(library.enrichDue, {})) {
            request(QStringLiteral("enrich"), id, std::nullopt);
        }
    }

    // The catalog poll; request() drops it while another request is in flight.
    if (t % kEveryTwoSeconds == 0)
        request(QStringLiteral("list"), std::nullopt, std::nullopt);

    if (const std::optional<PlayerFacts> player = playerFacts()) {
        if (player->duration > 0 && std::abs(player->duration - seek->maximumValue()) > 0.01)
            seek->setMaximumValue(player->duration);
        if (!seekHeld())
            seek->setDoubleValue(std::min(player->currentTime, seek->maximumValue()));
        clock->setText(timeText(player->currentTime) + QStringLiteral(" / ") +
                       timeText(player->duration));
    }

    if (t % kEverySecond == 0)
        runStep(*services.observer, "publish", [this] { publish(); });
}

void App::extrasTick() {
    const qint64 t = core.ticks;

    runStep(*services.observer, "countTick", [this] { countTick(); });
    runStep(*services.observer, "sleepTick", [this] { sleepTick(); });
    // Before the checks that make a player on the successor: one chosen
    // since the last tick is looked at (its decode begun) first.
    runStep(*services.observer, "aimLookAhead", [this] { aimLookAhead(); });
    runStep(*services.observer, "crossfadeCheck", [this] { crossfadeCheck(); });
    runStep(*services.observer, "gaplessCheck", [this] { gaplessCheck(); });
    runStep(*services.observer, "openAhead", [this] { openAhead(); });
    runStep(*services.observer, "updateNowPlaying", [this] { updateNowPlaying(); });

    if (t % kEveryTenSeconds == 0)
        runStep(*services.observer, "refreshDevicePopup", [this] { refreshDevicePopup(); });

    if (t % kEveryTwoSeconds == 0) {
        runStep(*services.observer, "updateHW", [this] { updateHW(); });
        runStep(*services.observer, "updateLockIcon", [this] { updateLockIcon(); });
        runStep(*services.observer, "refreshDACLabel", [this] { refreshDACLabel(); });
        runStep(*services.observer, "refreshSignalPanel", [this] { refreshSignalPanel(); });
    }

    // While the player plays, the faster meter timer keeps these current.
    if (const std::optional<PlayerFacts> player = playerFacts(); player && player->playing) {
        wakeMeter();
    } else if (player) {
        wave->setProgress(player->duration > 0 ? player->currentTime / player->duration : 0.0);
        runStep(*services.observer, "refreshTimes", [this] { refreshTimes(); });
    }

    // Changed stores are written at most every 10 s. A failed save keeps its
    // flag, so the values are written at a later tick (or at quit) rather
    // than taken for saved.
    if (t % kEveryTenSeconds == 0) {
        if (playback.statsDirty)
            playback.statsDirty =
                !core.store.save(QString::fromLatin1(stores::kPlayStats), playback.stats);
        if (listening.favoritesDirty)
            listening.favoritesDirty =
                !core.store.save(QString::fromLatin1(stores::kFavorites), listening.favorites);
        if (playback.loudDirty)
            playback.loudDirty =
                !core.store.save(QString::fromLatin1(stores::kLoudness), playback.loud);
        if (library.qualDirty)
            library.qualDirty =
                !core.store.save(QString::fromLatin1(stores::kQuality),
                                 library.saved(library.qual, library.qualUnfinished));
    }
}

std::optional<PlayerFacts> App::playerFacts() const {
    return services.clock->player(*this);
}

bool App::seekHeld() const {
    // A slider that is not on screen cannot be under the user's pointer.
    if (!seek->isVisible())
        return false;
    const Qt::MouseButtons buttons = services.desktop->mouseButtons();
    const QPoint global = services.desktop->cursorPos();
    const QWidget* top = seek->window();
    const QRect frame(seek->mapTo(top, QPoint(0, 0)), seek->size());
    return isHoldingSeek(buttons.testFlag(Qt::LeftButton), frame, top->mapFromGlobal(global));
}

} // namespace ql
