// The player's plug-in host: the world that lists the plug-ins, and editing
// instances made from it (48000 Hz, never activated), and their plug-ins'
// own interfaces.
#include "platform/PluginHost.h"
#include "platform/lv2/Lv2Instance.h"
#include "platform/lv2/Lv2View.h"
#include "platform/lv2/Lv2World.h"

namespace ql::platform {

namespace {

constexpr double kEditingRate = 48000;

class Lv2Editor final : public PluginEditor {
public:
    Lv2Editor(Lv2World& world, std::unique_ptr<Lv2Instance> instance)
        : m_world(world), m_instance(std::move(instance)) {}
    const std::vector<PluginControl>& controls() const override { return m_instance->controls(); }
    bool setValue(int index, float value) override { return m_instance->setControl(index, value); }
    std::optional<float> value(int index) const override { return m_instance->control(index); }
    QByteArray state() override { return m_instance->capture(); }
    std::unique_ptr<PluginView> openView(std::uintptr_t parent) override {
        return openLv2View(m_world, *m_instance, parent);
    }

private:
    Lv2World& m_world;
    std::unique_ptr<Lv2Instance> m_instance;
};

class Lv2Host final : public PluginHost {
public:
    const std::vector<OfferedEffect>& installedEffects() const override {
        return m_world.offered();
    }
    std::unique_ptr<PluginEditor> openEditor(const PluginSlot& slot) override {
        const LilvPlugin* plugin = m_world.resolve(slot);
        if (!plugin)
            return nullptr;
        std::unique_ptr<Lv2Instance> instance = Lv2Instance::make(m_world, plugin, kEditingRate);
        if (!instance)
            return nullptr;
        if (slot.state)
            instance->restore(*slot.state);
        return std::make_unique<Lv2Editor>(m_world, std::move(instance));
    }

private:
    Lv2World m_world;
};

} // namespace

std::unique_ptr<PluginHost> makePluginHost() {
    return std::make_unique<Lv2Host>();
}

int livePluginInstances() {
    return Lv2Instance::live();
}

} // namespace ql::platform
