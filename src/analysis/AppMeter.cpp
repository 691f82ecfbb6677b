// ---- analysis: the meter tick ----
//
// The 50 ms timer drives what must follow the playback position closely.
// While a player plays: the level meter (metering is switched on at the
// first tick of each player), the lyrics highlight, the A-B loop, the time
// labels, then both waveforms' progress, read after the A-B check so that a
// jump shows at once (the lyrics catch up on the next tick). The now-playing
// window's waveform follows only while that window is on screen. Otherwise
// the meter is fed silence so that it falls to rest; the housekeeping tick
// keeps a paused player's labels and waveform.
//
// The tools panel's build makes the timer (one timer only). It runs only
// while something plays, and after that until the meter has fallen to rest:
// a tick with nothing playing changes nothing but the meter, so an idle
// program is not woken 20 times a second for nothing. Every start of
// playback wakes it (wakeMeter), and the housekeeping tick wakes it too
// should a player start by another road.
#include "app/App.h"

#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"
#include "listening/LyricsPanel.h"
#include "listening/NowPlayingWindow.h"
#include "platform/audio/AudioPlayer.h"

#include <QTimer>

namespace ql {

namespace {
constexpr int kMeterIntervalMs = 50;
constexpr float kSilenceDb = -60;
// What a player that measured nothing reads.
constexpr float kFloorDb = -160;
} // namespace

void App::meterTick() {
    // Each step that drives another part of the program can be watched (and
    // stood in for) by a test, as the 0.5 s tick's steps can.
    const auto step = [this](const char* name, auto&& run) {
        if (!services.observer->tickStep(name))
            run();
    };
    const std::optional<PlayerFacts> facts = playerFacts();
    if (!facts || !facts->playing) {
        step("meter", [this] { meter->set({kSilenceDb, kSilenceDb}); });
        // Further silent ticks would draw the same meter again.
        if (meterTimer && meter->atRest())
            meterTimer->stop();
        return;
    }
    float left = kFloorDb, right = kFloorDb;
    if (platform::AudioPlayer* player = playback.audio.get()) {
        if (!player->isMeteringEnabled())
            player->setMeteringEnabled(true);
        player->updateMeters();
        left = player->averagePower(0);
        right = player->numberOfChannels() > 1 ? player->averagePower(1) : left;
    }
    step("meter", [&] { meter->set({left, right}); });
    step("lyrics", [&] { lyricsPanel->update(facts->currentTime); });
    step("abTick", [this] { abTick(); });
    step("refreshTimes", [this] { refreshTimes(); });
    const std::optional<PlayerFacts> now = playerFacts();
    const double p = now && now->duration > 0 ? now->currentTime / now->duration : 0.0;
    step("wave", [&] { wave->setProgress(p); });
    if (nowPlaying->visible())
        step("nowPlayingWave", [&] { nowPlaying->wave->setProgress(p); });
}

void App::wakeMeter() {
    if (meterTimer && !meterTimer->isActive())
        meterTimer->start();
}

void App::startMeterTimer() {
    if (meterTimer)
        return;
    meterTimer = new QTimer(this);
    meterTimer->setInterval(kMeterIntervalMs);
    connect(meterTimer, &QTimer::timeout, this, &App::meterTick);
    meterTimer->start();
}

} // namespace ql
