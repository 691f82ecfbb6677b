#include "effects/FXPanel.h"

#include "effects/FXChain.h"

namespace ql {

FXPanel::FXPanel(const JSONStore& store)
    : state(store.load<FXState>(QString::fromLatin1(stores::kFX)).value_or(FXState{})),
      m_store(store) {
    // A file of another length keeps the user's values and plug-in states.
    fitFXLengths(state);
}

std::optional<QString> FXPanel::chain() const {
    return fxChain(state, bypass);
}

std::vector<PluginSlot> FXPanel::activePlugins() const {
    return fxActivePlugins(state, bypass);
}

std::optional<QString> FXPanel::signature() const {
    return fxSignature(state, bypass);
}

void FXPanel::commit() {
    m_store.save(QString::fromLatin1(stores::kFX), state);
    if (onChange)
        onChange();
}

void FXPanel::presetChosen(const QString& title) {
    choosePreset(state, title);
    commit();
}

void FXPanel::slidersApplied(const std::array<double, 5>& values) {
    setGains(state, values);
    commit();
}

void FXPanel::changed(const FXSwitches& boxes) {
    setSwitches(state, boxes);
    commit();
}

void FXPanel::resetAll() {
    state = FXState();
    commit();
}

} // namespace ql
