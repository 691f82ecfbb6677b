// The plug-in host as the player sees it, without any type of the plug-in
// library (LV2 through lilv behind it, in platform/lv2/).
//
// A host is made once, off the main thread (makePluginHost loads every
// installed plug-in's description, which takes a while), then handed to the
// main thread, which alone uses it from then on.
//
// The editing instance: a plug-in made for a slot's editor, at 48000 Hz and
// never activated (it processes no audio). It lists its control inputs,
// takes and reports their values and captures its state as the bytes a slot
// stores. The slot's saved state is restored into it when it is made; a
// state that does not parse, belongs to another plug-in or was saved
// elsewhere is ignored and the defaults stay. A plug-in crashing while it is
// edited ends the program: it runs inside the player.
//
// A plug-in's own interface (PluginView): an X11 one, loaded through suil
// into the player's process and embedded in a native window the caller
// names. It edits the editing instance it was opened from: a control it moves
// goes into that instance's port and the port's value goes back to it; it is
// told every control port's value when it opens. Messages it sends in other
// forms (atom events for the plug-in's own processing) are dropped, as the
// editing instance never runs. A crash inside the interface ends the program
// and a hang freezes the program (it runs on the main thread).
#pragma once

#include "effects/PluginCatalog.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace ql::platform {

struct PluginControl {
    int index = 0; // the port's index; what value() and setValue() take
    QString symbol;
    QString name;
    QString unit; // the unit's symbol, or its label, or empty
    float minimum = 0;
    float maximum = 1;
    float defaultValue = 0;
    bool toggled = false;
    bool enumeration = false;
    bool integer = false;
    bool logarithmic = false;
    bool notOnGui = false;
    std::vector<std::pair<float, QString>> scalePoints; // ascending by value
};

class PluginView {
public:
    virtual ~PluginView() = default;
    // The size the interface asked for; empty until it asks.
    virtual QSize size() const = 0;
    // Its periodic work, about 30 times a second while it is shown; false
    // when it asks to be closed.
    virtual bool idle() = 0;
    // A control the interface moves: the path its port writes take. The
    // value goes into the instance and back to the interface.
    virtual void writeControl(std::uint32_t port, float value) = 0;
    // Called when the interface asks for another size.
    std::function<void(QSize)> onResize;
};

class PluginEditor {
public:
    virtual ~PluginEditor() = default;
    virtual const std::vector<PluginControl>& controls() const = 0;
    // False for an index that is not a control input.
    virtual bool setValue(int index, float value) = 0;
    virtual std::optional<float> value(int index) const = 0;
    // The state to store in the slot (a Turtle text); empty when it cannot be
    // captured.
    virtual QByteArray state() = 0;
    // The plug-in's own interface, made inside the X11 window `parent`; none
    // when the plug-in ships none this host can embed or it fails to load.
    virtual std::unique_ptr<PluginView> openView(std::uintptr_t parent) = 0;
};

class PluginHost {
public:
    virtual ~PluginHost() = default;
    // The plug-ins offered, in the panel's order.
    virtual const std::vector<OfferedEffect>& installedEffects() const = 0;
    // An editing instance for the slot's plug-in with the slot's state; none
    // when the plug-in is not installed or cannot be made.
    virtual std::unique_ptr<PluginEditor> openEditor(const PluginSlot& slot) = 0;
};

// Loads the installed plug-ins (LV2_PATH, else the standard folders).
std::unique_ptr<PluginHost> makePluginHost();

// Plug-in instances and plug-in interfaces alive in this process.
int livePluginInstances();
int livePluginViews();

} // namespace ql::platform
