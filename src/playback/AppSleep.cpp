// ---- playback: the sleep timer ----
//
// The user picks 15, 30, 60 or 90 minutes; every tick rewrites the face with
// the minutes left, the volume falls linearly to silence over the last 30 s
// (through effVol(), which applies `sleepFactor`), and at zero playback
// pauses with a message. The deadline is on the monotonic clock, so a change
// of the wall clock neither ends nor stretches the timer.
//
// The face is rewritten on every tick, so it is set already translated: the
// translation pass would only catch up a second later.
//
// A stop that finds a track still being prepared (a decode or a render on
// its way) abandons the preparation as a new play request would: otherwise
// the track would start afterwards, at full volume, with nobody listening.
// Play/pause then starts the current track again.
#include "app/App.h"

#include "platform/audio/AudioPlayer.h"
#include "playback/FadeRules.h"
#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QToolButton>

#include <utility>

namespace ql {

namespace {

void showIdleFace(App& app) {
    app.sleepPopup->setText(L10n::tr(QStringLiteral("😴 수면 타이머")));
}

// The preparation of the current track is dropped: its completion finds a
// newer generation and only deletes its file.
void abandonPreparation(App& app) {
    PlaybackState& p = app.playback;
    ++p.generation;
    if (const std::optional<RoadDecode> road = std::exchange(p.roadDecode, std::nullopt))
        app.stopDecode(road->job);
    app.stopRoadRender();
    p.loading = false;
    // A player the direct road opened but could not start.
    app.retirePlayer(std::move(p.audio));
    app.views.playButton->setTitle(stoppedTitle());
    app.publish();
}

} // namespace

void App::sleepChanged(int index) {
    PlaybackState& p = playback;
    if (index <= 0 || index > kSleepOffItem)
        return;
    if (index == kSleepOffItem) {
        p.sleepEnd.reset();
        p.sleepFactor = 1.0;
        showIdleFace(*this);
        applyVolume();
        status->setStringValue(L10n::tr(QStringLiteral("수면 타이머를 껐습니다.")));
        return;
    }
    const int minutes = sleepMinutes(index);
    p.sleepEnd = monotonicNow() + minutes * 60.0;
    status->setStringValue(
        L10n::tr(QStringLiteral("😴 %1분 뒤 서서히 줄이며 멈춥니다.").arg(minutes)));
}

void App::sleepTick() {
    PlaybackState& p = playback;
    if (!p.sleepEnd)
        return;
    const double left = *p.sleepEnd - monotonicNow();
    if (left > 0) {
        p.sleepFactor = sleepFactorFor(left);
        sleepPopup->setText(L10n::tr(QStringLiteral("😴 %1분 남음").arg(sleepMinutesShown(left))));
        applyVolume();
        return;
    }

    p.sleepEnd.reset();
    p.sleepFactor = 1.0;
    showIdleFace(*this);
    endFade();
    if (p.loading) {
        abandonPreparation(*this);
    } else if (p.audio && p.audio->isPlaying()) {
        cancelPrepared();
        p.audio->pause();
        setHog(false, std::nullopt);
        views.playButton->setTitle(stoppedTitle());
        publish();
    }
    applyVolume();
    status->setStringValue(L10n::tr(QStringLiteral("😴 수면 타이머로 멈췄습니다.")));
}

} // namespace ql
