// State of smart listening and the tools panel held by App as `listening`.
// Main thread only, except `sonicStop` and `sonicJobs`, which the sonic
// analyses hold shared.
#pragma once

#include "app/Records.h"
#include "listening/SonicJobs.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>

namespace ql {

struct ListeningState {
    // Track ids to play before the visible list, front first.
    QList<qint64> radioQueue;
    // Favourite file paths ("favorites.json").
    QSet<QString> favorites;
    // Sonic features by file path ("sonic.json").
    QHash<QString, Sonic> sonic;
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
