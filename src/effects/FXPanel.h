// The effects panel: the owner of the live effect settings for the whole run.
//
// Made once with the controller; `state` starts as "fx.json" (five gains and
// three slots whatever the file held), or the defaults when that does not
// load. `bypass` (written by playback: maximum quality or bit-perfect) turns
// the effects off without touching the settings.
//
// Every edit takes one road: the state changes, then commit() saves
// "fx.json" and calls onChange (also when the save failed; that failure is
// not reported). The edit operations below are what the panel's controls
// call.
//
// Seam: the window, its controls, syncUI(), toggle() and the plug-in slot
// editors come with the effects panel window.
#pragma once

#include "app/JSONStore.h"
#include "effects/FXEdit.h"
#include "effects/FXState.h"
#include "effects/PluginCatalog.h"

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace ql {

class FXPanel final {
public:
    explicit FXPanel(const JSONStore& store);

    FXState state;
    bool bypass = false;
    // The plug-ins the slot pop-ups offer, in order (the plug-in host's
    // installedEffects()); empty until discovery at launch hands them over.
    std::vector<OfferedEffect> installed;
    // Called after every saved change.
    std::function<void()> onChange;

    // The ffmpeg audio filter chain of the settings; none when nothing applies.
    std::optional<QString> chain() const;
    // The plug-in slots in use; empty when the effects are off or bypassed.
    std::vector<PluginSlot> activePlugins() const;
    // The identity of the whole effect setting; none when no effect applies.
    std::optional<QString> signature() const;

    // Saves "fx.json", then calls onChange.
    void commit();

    // The edits: a pop-up title, released sliders (values in dB), the five
    // switches, and the reset to the defaults (saved and signalled even when
    // nothing changed).
    void presetChosen(const QString& title);
    void slidersApplied(const std::array<double, 5>& values);
    void changed(const FXSwitches& boxes);
    void resetAll();

private:
    JSONStore m_store;
};

} // namespace ql
