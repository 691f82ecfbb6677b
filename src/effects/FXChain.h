// What the effects settings mean: the preset table, the ffmpeg audio filter
// chain, the plug-in slots to run and the signature that names the whole
// effect setting (render identity and cache key). Pure unit: values in,
// values out; every number in a chain is written in the C locale.
#pragma once

#include "effects/FXState.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace ql {

// One named row of ready-made band gains and flags.
struct FXPreset {
    QString name;
    std::array<double, 5> gains;
    bool crossfeed = false;
    bool wide = false;
    bool room = false;
    bool night = false;
};

// The eleven rows in the pop-up's order, "끔" (off) first.
const std::vector<FXPreset>& fxPresets();
// The row named exactly `name`; none for "사용자 지정" or an unknown name.
const FXPreset* fxPreset(const QString& name);
// The preset name of hand-made settings, matching no row.
inline const QString kCustomPreset = QStringLiteral("사용자 지정");
// The five band labels, in band order.
const QStringList& fxBandNames();

// The filter chain, joined by ","; none when the effects are off (not
// `enabled`, or `bypass`) or the setting is neutral (every gain 0, no flag).
// Loud settings get headroom first and every chain ends in a limiter.
std::optional<QString> fxChain(const FXState& state, bool bypass);
// The slots with a plug-in chosen (a non-empty name), in slot order; none
// while the effects are off.
std::vector<PluginSlot> fxActivePlugins(const FXState& state, bool bypass);
// (chain, or "-") + "|" + one "<type>-<sub>-<man>-<bytes>-<hash>" per active
// slot, joined by ","; none when neither stage has anything to do. The hash
// of a slot's saved state is stable within a run (and beyond), nothing more
// is promised.
std::optional<QString> fxSignature(const FXState& state, bool bypass);

// Five gains and three slots whatever the file held: padded with 0 and empty
// slots, cut after five and three, so nothing indexes out of range.
void fitFXLengths(FXState& state);

} // namespace ql
