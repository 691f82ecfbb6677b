// State of smart listening and the tools panel held by App as `listening`.
// Main thread only, except `sonicStop` and `sonicJobs`, which the sonic
// analyses hold shared.
#pragma once

#include "app/Records.h"
#include "listening/DjPicks.h"
#include "listening/RadioPicks.h"
#include "listening/SmartLists.h"
#include "listening/SonicJobs.h"

#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

namespace ql {

struct ListeningState {
    // Track ids to play before the visible list, front first.
    QList<qint64> radioQueue;
    // What the smart lists read of each catalog row, kept between passes.
    SmartMemo smartMemo;
    // The catalog generation the memo last saw, while the catalog worker runs.
    std::optional<quint64> smartMemoGeneration;
    // Each catalog row's normalised artist and album and its folder, for the
    // radio's scoring (checked against the row at every press).
    RadioMemo radioMemo;
    // Each catalog row as the guest DJ and the Sonic Adventure compare it.
    SoundMemo soundMemo;
    // The one random source of the listening features (the radio's spread,
    // the random album, the guest DJ): seeded from the system here, seeded
    // by hand in tests.
    QRandomGenerator random = QRandomGenerator::securelySeeded();
    // The guest DJ's style (DjStyle); 0 is off. Never saved.
    int djMode = 0;
    // The ids the DJ queued last, oldest first, at most 40; every refill
    // avoids them. Cleared when a style is chosen, kept when the DJ is off.
    QList<qint64> djRecent;
    // Counts the DJ pull-down's choices: a style's first batch, which waits
    // for the current track's analysis, is dropped once another choice came.
    int djChoice = 0;
    // Counts the Sonic Adventure's presses: a path that waits for its start's
    // or goal's analysis is not built once a newer press came.
    int adventureChoice = 0;
    // Favourite file paths ("favorites.json").
    QSet<QString> favorites;
    // A save of "favorites.json" failed: the tick tries again.
    bool favoritesDirty = false;
    // Sonic features by file path ("sonic.json").
    QHash<QString, Sonic> sonic;
    // Files of `sonic` whose analysis gave nothing this run (a time-out, a
    // program that would not start): failed for this run, never saved.
    QSet<QString> sonicPassing;
    bool sonicOn = false;      // "sonicOn": the background sonic scan
    bool sonicRunning = false; // a scan is in flight, until its closing step ran
    int smartMode = 0;         // "smartMode" as stored; selects through smartListIndex()
    bool crossfadeOn = false;  // "crossfade"
    bool levelingOn = false;   // "leveling"
    // Set at quit; the background sonic scan reads it between files and stops.
    // Relaxed loads and stores: only its value matters.
    std::shared_ptr<std::atomic<bool>> sonicStop = std::make_shared<std::atomic<bool>>(false);
    // The sonic analyses' way back to the main thread, closed at quit.
    std::shared_ptr<SonicJobs> sonicJobs = std::make_shared<SonicJobs>();
};

} // namespace ql
