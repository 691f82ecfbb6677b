// State of smart listening and the tools panel held by App as `listening`.
// Main thread only, except `sonicStop`.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>

namespace ql {

struct ListeningState {
    // Track ids to play before the visible list, front first.
    QList<qint64> radioQueue;
    // Favourite file paths ("favorites.json").
    QSet<QString> favorites;
    // Sonic features by file path ("sonic.json").
    QHash<QString, Sonic> sonic;
    bool sonicOn = false;     // "sonicOn": the background sonic scan
    int smartMode = 0;        // "smartMode" as stored; selects through smartListIndex()
    bool crossfadeOn = false; // "crossfade"
    bool levelingOn = false;  // "leveling"
    // Set at quit; the background sonic scan reads it between files and stops.
    std::atomic<bool> sonicStop{false};
};

} // namespace ql
