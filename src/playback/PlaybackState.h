// State of playback and audio output held by App as `playback`. Later
// playback work adds its fields here (player, queues, device list). Main
// thread only.
#pragma once

#include "app/Records.h"
#include "playback/OutputDevice.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace ql {

namespace platform {
class AudioPlayer;
}

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

    // ---- current player, output device, volume -------------------------------
    // The player of `current`; none when nothing is loaded. Volume, device
    // binding and seeking act on this one player. The play request fills it.
    std::unique_ptr<platform::AudioPlayer> audio;
    // The old player while a crossfade runs (the crossfade fills it), and the
    // crossfade's progress 0…1 that scales `audio`'s volume (1: no fade).
    std::unique_ptr<platform::AudioPlayer> fadingOut;
    double fadeProgress = 1.0;
    // The sleep timer's fade 0…1 over its last 30 s (1: not fading).
    double sleepFactor = 1.0;
    // The devices the device pop-up items were built from: item n ≥ 1 is
    // entry n − 1, item 0 the system default.
    std::vector<OutputDeviceEntry> deviceList;
    // The volume slider drives the output device's hardware volume (the
    // player then stays at full scale); hwInit: the first poll has run.
    bool hwVol = false;
    bool hwInit = false;
    // The slider level un-muting returns to.
    double volumeBeforeMute = 70.0;
    // Repeat the current track at its end; lasts until toggled or quit.
    bool repeatOn = false;
    // The volume-key filters installed on the application; clearing the list
    // removes them (at quit).
    std::vector<std::unique_ptr<QObject>> volumeMonitors;
};

} // namespace ql
