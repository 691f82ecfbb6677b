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
        // Halves away from zero; a gain that rounds to zero is stored as +0,
        // so -0.3 dB and 0 dB are one setting.
        state.gains.push_back(std::round(value) + 0.0);
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

void chooseSlot(FXState& state, std::size_t slot, const OfferedEffect* chosen) {
    if (slot >= state.plugins.size())
        return;
    if (!chosen) {
        state.plugins[slot] = PluginSlot();
        return;
    }
    state.plugins[slot] =
        PluginSlot{chosen->title, chosen->codes.type, chosen->codes.sub, chosen->codes.man, {}};
    state.enabled = true;
}

bool storeEditedState(FXState& state, std::size_t slot, const PluginCodes& edited,
                      const QByteArray& captured) {
    if (slot >= state.plugins.size() || captured.isEmpty())
        return false;
    PluginSlot& s = state.plugins[slot];
    if (s.name.isEmpty() || PluginCodes{s.type, s.sub, s.man} != edited || s.state == captured)
        return false;
    s.state = captured;
    state.enabled = true;
    return true;
}

} // namespace ql
