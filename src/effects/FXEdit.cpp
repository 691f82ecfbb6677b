#include "effects/FXEdit.h"

#include "effects/FXChain.h"

#include <cmath>

namespace ql {

void choosePreset(FXState& state, const QString& title) {
    const FXPreset* row = fxPreset(title);
    if (!row) {
        state.preset = kCustomPreset;
        return;
    }
    state.preset = row->name;
    state.gains.assign(row->gains.begin(), row->gains.end());
    state.crossfeed = row->crossfeed;
    state.wide = row->wide;
    state.room = row->room;
    state.night = row->night;
    state.enabled = row->name != fxPresets().front().name;
}

void setGains(FXState& state, const std::array<double, 5>& sliders) {
    state.gains.clear();
    for (const double value : sliders)
        state.gains.push_back(std::round(value)); // halves away from zero
    state.preset = kCustomPreset;
    state.enabled = true;
}

void setSwitches(FXState& state, const FXSwitches& boxes) {
    state.enabled = boxes.enabled;
    state.crossfeed = boxes.crossfeed;
    state.wide = boxes.wide;
    state.room = boxes.room;
    state.night = boxes.night;
    // The pop-up shows the named row, or "사용자 지정" for any other name.
    const FXPreset* row = fxPreset(state.preset);
    if (row && (row->crossfeed != state.crossfeed || row->wide != state.wide ||
                row->room != state.room || row->night != state.night))
        state.preset = kCustomPreset;
}

} // namespace ql
