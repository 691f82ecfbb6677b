// State of playback and audio output held by App as `playback`. Later
// playback work adds its fields here (player, queues, device list). Main
// thread only.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QString>

#include <optional>

namespace ql {

struct PlaybackState {
    // The UID of the output device the user chose; none means the system
    // default. Kept while that device is unplugged, for when it returns.
    // Restored from "outputUID".
    std::optional<QString> outputUID;

    // ---- current track, play counting, stores, restored modes ---------------
    // The track shown and playing; none before the first play.
    std::optional<Track> current;
    // Seconds listened to the current track, and whether it has been counted;
    // both reset at every track start.
    double playedSecs = 0;
    bool counted = false;
    // Play statistics by file path ("play-stats.json").
    QHash<QString, PlayStat> stats;
    // Integrated loudness in LUFS by file path ("loudness.json"), and whether
    // it changed since the last save.
    QHash<QString, double> loud;
    bool loudDirty = false;
    // Playback speed as stored ("playRate"); the player takes it through
    // playbackSpeed() (SettingLimits.h), which bounds it to 0.5 … 2.0.
    double playRate = 1.0;
    bool gaplessOn = true;   // "gapless"
    bool bitPerfect = false; // "bitPerfect"; never on together with maxQuality
    bool maxQuality = true;  // "maxQuality"
    bool rateMatchOn = true; // "rateMatch"
    int upMode = 0;          // "upMode": the upsampling pop-up's choice
    // Exclusive device use wanted; never carried over to a new run.
    bool hogOn = false;

    // ---- shuffle -------------------------------------------------------------
    // Shuffle mode: the visible list keeps a stable random order. Starts from
    // the stored "shuffle" when App is made.
    bool shuffled = false;
};

} // namespace ql
