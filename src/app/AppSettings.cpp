// ---- settings and stores at launch and quit ----
//
// loadExtras() brings the settings and the JSON stores into memory once, runs
// the one-time effects reset, wires the callbacks of the views and windows
// App owns and fills the smart-list pop-up, and replaces a remote token too
// weak to keep (remote/AppRemote.cpp). saveExtras() writes the stores back at
// quit.
//
// The callbacks call the controller's actions (previous, next, toggle,
// toggleFavorite, showNowPlaying, viewModeChanged, smartChanged,
// updateNowPlaying, and the player behind waveformSeek). The lyrics panel's
// window has no delegate to clear on Linux: a Qt tool window tells nobody
// when it closes. saveExtras() is called by the shutdown sequence
// (app/AppShutdown.cpp).
#include "app/App.h"

#include "analysis/WaveformView.h"
#include "app/LogCategories.h"
#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "library/GenreRecheck.h"
#include "listening/NowPlayingWindow.h"
#include "ui/ClickImageView.h"
#include "ui/TabBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

// The smart lists, in the order of their numbers (0 = all tracks).
const QStringList& smartListTitles() {
    static const QStringList titles{
        QStringLiteral("전체 곡"),
        QStringLiteral("🆕 최근 받은 곡 (30일)"),
        QStringLiteral("🔥 자주 들은 곡"),
        QStringLiteral("🌱 한 번도 안 들은 곡"),
        QStringLiteral("📅 이번 주 새로 받은 곡"),
        QStringLiteral("♥ 즐겨찾기"),
        QStringLiteral("💎 하이레즈 (24bit·88.2kHz↑)"),
    };
    return titles;
}

template <class T> T loadOrEmpty(const JSONStore& store, const char* name) {
    return store.load<T>(QString::fromLatin1(name)).value_or(T{});
}

} // namespace

void App::loadExtras() {
    UserDefaults defaults;
    const JSONStore& store = core.store;

    playback.stats = loadOrEmpty<QHash<QString, PlayStat>>(store, stores::kPlayStats);
    playback.loud = loadOrEmpty<QHash<QString, double>>(store, stores::kLoudness);
    library.qual = loadOrEmpty<QHash<QString, QString>>(store, stores::kQuality);

    // The effects start switched off once per user, whatever an earlier
    // version left in "fx.json"; every other effect setting is kept. Done
    // once even when "fx.json" cannot be written (its failure is told like
    // any failed save, and the file stays as it was): run again at every
    // start, the reset would also undo the user's later choice of modes.
    if (!defaults.boolean(keys::kFxResetV1)) {
        fxPanel->state.enabled = false;
        fxPanel->syncUI();
        store.save(QString::fromLatin1(stores::kFX), fxPanel->state);
        defaults.set(keys::kFxResetV1, true);
        defaults.set(keys::kMaxQuality, true);
        defaults.set(keys::kBitPerfect, false);
    }

    playback.maxQuality = defaults.boolIfPresent(keys::kMaxQuality).value_or(true);
    playback.upMode = defaults.intIfPresent(keys::kUpMode).value_or(0);
    playback.rateMatchOn = defaults.boolIfPresent(keys::kRateMatch).value_or(true);
    playback.outputUID = defaults.string(keys::kOutputUID);
    playback.gaplessOn = defaults.boolIfPresent(keys::kGapless).value_or(true);
    // The two modes exclude each other; maximum quality wins.
    playback.bitPerfect = !playback.maxQuality && defaults.boolean(keys::kBitPerfect);
    // Exclusive use of the device is never carried into a new run.
    playback.hogOn = false;
    defaults.remove(keys::kHogMode);
    fxPanel->bypass = playback.maxQuality || playback.bitPerfect;

    listening.crossfadeOn = defaults.boolean(keys::kCrossfade);
    listening.levelingOn = defaults.boolean(keys::kLeveling);
    maxBox->setChecked(playback.maxQuality);
    bitBox->setChecked(playback.bitPerfect);
    gaplessBox->setChecked(playback.gaplessOn);
    rateBox->setChecked(playback.rateMatchOn);
    crossfadeBox->setChecked(listening.crossfadeOn);
    levelingBox->setChecked(listening.levelingOn);

    QPointer<App> self(this);
    wave->onSeek = [self](double fraction) {
        if (self)
            self->waveformSeek(fraction);
    };

    browser.viewKind = defaults.intIfPresent(keys::kViewKind).value_or(1);
    library.genres = loadOrEmpty<GenreMap>(store, stores::kGenres);
    // Ogg files stored without a genre by the reader that missed stream tags
    // are read again by the scans of this run; with none left, never again.
    if (!defaults.boolean(keys::kGenreStreamTags) &&
        forgetEmptyStreamTagGenres(library.genres) == 0)
        defaults.set(keys::kGenreStreamTags, true);

    viewModeControl->action = [self] {
        if (self)
            self->viewModeChanged();
    };

    art->onClick = [self] {
        if (self)
            self->showNowPlaying();
    };
    nowPlaying->onPrev = [self] {
        if (self)
            self->previous();
    };
    nowPlaying->onNext = [self] {
        if (self)
            self->next();
    };
    nowPlaying->onToggle = [self] {
        if (self) {
            self->toggle();
            self->updateNowPlaying();
        }
    };
    nowPlaying->onFav = [self] {
        if (self) {
            self->toggleFavorite();
            self->updateNowPlaying();
        }
    };
    nowPlaying->wave->onSeek = [self](double fraction) {
        if (self)
            self->waveformSeek(fraction);
    };

    // Kept as stored; the pop-up and the filter bound it (smartListIndex).
    listening.smartMode = defaults.intIfPresent(keys::kSmartMode).value_or(0);

    listening.favorites = loadOrEmpty<QSet<QString>>(store, stores::kFavorites);
    listening.sonic = loadOrEmpty<QHash<QString, Sonic>>(store, stores::kSonic);

    listening.sonicOn = defaults.boolean(keys::kSonicOn);
    // Kept as stored; the player bounds it (playbackSpeed).
    playback.playRate = defaults.realIfPresent(keys::kPlayRate).value_or(1.0);

    smartPicker->clear();
    smartPicker->addItems(smartListTitles());
    smartPicker->setCurrentIndex(smartListIndex(listening.smartMode));
    connect(smartPicker, &QComboBox::activated, this, &App::smartChanged, Qt::UniqueConnection);
    smartPicker->setToolTip(QStringLiteral("재생 기록과 받은 날짜로 자동 정리한 목록"));

    // A remote token too short to withstand guessing never serves a phone.
    renewWeakRemoteToken();

    // Every store has been read: a damaged one can go aside now, before any
    // save, and the user hears which.
    setAsideDamagedFiles();
    // A settings write killed midway left a copy of the settings (the remote
    // token with them) beside the file; no other start would remove it.
    if (const int cleared = clearSettingsScratch(QFileInfo(defaults.fileName()).path()))
        qCDebug(lcStore, "removed %d scratch files of settings writes that were cut short",
                cleared);

    defaults.sync();
}

void App::saveExtras() {
    const JSONStore& store = core.store;
    store.save(QString::fromLatin1(stores::kPlayStats), playback.stats);
    store.save(QString::fromLatin1(stores::kLoudness), playback.loud);
    store.save(QString::fromLatin1(stores::kQuality),
               library.saved(library.qual, library.qualUnfinished));
    store.save(QString::fromLatin1(stores::kFavorites), listening.favorites);
    saveSonic();
    // "genres.json" and "fx.json" are kept current by their writers.
    listening.sonicStop->store(true, std::memory_order_relaxed);
}

void App::waveformSeek(double fraction) {
    const std::optional<double> duration = audioDuration();
    if (!duration || !(*duration > 0) || !std::isfinite(fraction))
        return;
    cancelPrepared();
    setAudioTime(std::clamp(fraction, 0.0, 1.0) * *duration);
    publish();
}

} // namespace ql
