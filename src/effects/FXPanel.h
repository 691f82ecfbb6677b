// The effects panel: the owner of the live effect settings for the whole run,
// and the floating window in which the user edits them.
//
// Made once with the controller; `state` starts as "fx.json" (five gains and
// three slots whatever the file held), or the defaults when that does not
// load. `bypass` (written by playback: maximum quality or bit-perfect) turns
// the effects off without touching the settings.
//
// Every edit takes one road: the state changes, syncUI() shows it in every
// control, then commit() saves "fx.json" and calls onChange (also when the
// save failed; the panel says nothing of it, the status line tells it like
// any store's failed save). Playback reacts through onChange.
//
// The window: row 1 the master switch and the preset pop-up (the eleven
// preset rows in table order, then "사용자 지정"; the panel maps an item's
// index to its row, so the items may be shown translated), five band rows
// (sliders in tenths of a dB, applied on release, on a key or a wheel step;
// a drag only moves the label), four flag boxes, three plug-in slot rows,
// "초기화" and a note. A tool window that stays on top, hidden (not deleted)
// when closed, and put back at the top-left of the screen's available area
// plus (60, 60) on every show, without taking the focus.
//
// Slots: each pop-up lists "(비어 있음)" then the offered plug-ins, which
// arrive from discovery at launch (setHost); "설정 열기" opens the slot's
// editor, the plug-in's own interface or the generic one (one per slot; a
// second click raises it). Closing an editor stores the plug-in's captured
// state into the slot when it changed.
//
// The tools panel's "🎛 사운드" button opens it (App::toggleFXPanel()), and the
// panel's build sets onChange to App::effectsEdited().
#pragma once

#include "app/JSONStore.h"
#include "effects/FXEdit.h"
#include "effects/FXState.h"
#include "effects/PluginCatalog.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;

namespace ql {

namespace platform {
class PluginHost;
}
class PluginEditorWindow;

class FXPanel final {
public:
    explicit FXPanel(const JSONStore& store);
    ~FXPanel();
    FXPanel(const FXPanel&) = delete;
    FXPanel& operator=(const FXPanel&) = delete;

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
    // Writes `state` into every control; changes nothing else.
    void syncUI();
    // Shows the window at its place, or hides it.
    void toggle();
    // The discovered plug-ins: the pop-ups list them and editors are made
    // from the host, which the panel keeps alive while an editor is open.
    void setHost(std::shared_ptr<platform::PluginHost> host);

    // The edits: a pop-up title, released sliders (values in dB), the five
    // switches, the reset to the defaults (saved and signalled even when
    // nothing changed), a slot pop-up's item (0 = "(비어 있음)").
    void presetChosen(const QString& title);
    void slidersApplied(const std::array<double, 5>& values);
    void changed(const FXSwitches& boxes);
    void resetAll();
    void pluginChosen(int slot, int item);
    // Raises the slot's open editor, or makes one; nothing for an empty slot,
    // without a host, or when the plug-in cannot be made.
    void openPlugin(int slot);

    // The window and its controls, for the controller and the tests.
    QWidget* window() const { return m_window.get(); }
    QCheckBox* enableBox = nullptr;
    QComboBox* presetPopup = nullptr;
    std::vector<QSlider*> sliders;
    std::vector<QLabel*> valueLabels;
    QCheckBox* crossBox = nullptr;
    QCheckBox* wideBox = nullptr;
    QCheckBox* roomBox = nullptr;
    QCheckBox* nightBox = nullptr;
    std::vector<QComboBox*> pluginPopups;
    std::vector<QPushButton*> pluginButtons;
    QPushButton* resetButton = nullptr;
    QLabel* note = nullptr;
    // The open editor of a slot, if any.
    PluginEditorWindow* editorWindow(int slot) const;

private:
    void build();
    QWidget* slotRow(int slot);
    void fillSlotPopups();
    void sliderMoved(int band, bool apply);
    void boxClicked();
    void windowWillClose(int slot);

    JSONStore m_store;
    std::shared_ptr<platform::PluginHost> m_host;
    std::unique_ptr<QWidget> m_window;
    std::map<int, std::unique_ptr<PluginEditorWindow>> m_editors;
    // Closed editors, released once their close has returned.
    std::vector<std::unique_ptr<PluginEditorWindow>> m_closed;
};

} // namespace ql
