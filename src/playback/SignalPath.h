// The signal-path report: stage by stage, what happens to the current track
// between the file and the output device, and whether it reaches the device
// unaltered.
//
// signalPathData() turns a plain description of the playback (the source's
// stream facts, the modes, the effect settings, the leveling, the volume and
// the output device) into nine rows — source, decoding, processing, plug-ins,
// upsampling, leveling, volume control, output device, mode — each with a
// value text and whether the stage is active, plus a verdict: "✓ 원음 경로…"
// when nothing alters the signal, else the list of what does, in row order.
//
// Texts come out already translated (L10n::tr on each fixed fragment; codec,
// device and plug-in names as they are), because the panel that shows them is
// rewritten every 2 s. Numbers are written in the C locale.
//
// A render whose plug-in or upsampling stage was dropped (the render note)
// shows that stage's error text instead, not active and not a difference: the
// sound the user hears did not go through it.
//
// Pure unit.
#pragma once

#include "analysis/StreamFacts.h"
#include "effects/RenderNote.h"
#include "playback/OutputDevice.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace ql {

struct SignalPathInput {
    bool hasTrack = false;
    StreamFacts source; // the probe of the current file; "?" and zeros when it failed

    bool effectsRoad = false; // the effect chain is active: the track plays rendered
    bool decoded = false;     // the track plays from an ffmpeg decode (cacheURL set)
    bool bitPerfect = false;

    // The effect settings and whether they give a filter chain.
    bool fxEnabled = false;
    bool fxChain = false;
    QString preset;
    bool crossfeed = false, wide = false, room = false, night = false;
    QStringList plugins; // the slots in use, by name (empty in bit-perfect mode)

    int upMode = 0;    // the upsampling pop-up's choice
    int effUpMode = 0; // the mode in effect
    std::optional<double> upTarget;

    bool levelingOn = false;
    std::optional<double> loudness; // the track's measured loudness, LUFS

    double volume = 100; // the slider, 0…100
    bool sleepOn = false;
    bool gaplessOn = false;
    bool crossfadeOn = false;

    std::optional<OutputInfo> device;
    std::optional<RenderNote> dropped; // the render note of the file that plays
};

struct SignalPathRow {
    QString label;
    QString value;
    bool engaged = false;
    bool operator==(const SignalPathRow&) const = default;
};

struct SignalPathReport {
    std::vector<SignalPathRow> rows;
    QString verdict;
    bool ok = true;
};

SignalPathReport signalPathData(const SignalPathInput& in);

} // namespace ql
