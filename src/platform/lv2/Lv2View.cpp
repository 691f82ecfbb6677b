#include "platform/lv2/Lv2View.h"

#include "platform/lv2/Lv2Instance.h"
#include "platform/lv2/Lv2World.h"

#include <lv2/atom/atom.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <suil/suil.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace ql::platform {

namespace {

std::atomic<int> liveViews{0};

// Features a hosted interface may require: the world's, the ones given
// below, and the port map and subscriptions suil adds from the host's
// functions.
std::set<std::string> givenFeatures(const Lv2World& world) {
    std::set<std::string> given{
        LV2_UI__parent,          LV2_UI__resize,       LV2_UI__idleInterface,
        LV2_OPTIONS__options,    LV2_UI__portMap,      LV2_UI__portSubscribe,
        LV2_UI__noUserResize,    LV2_UI__fixedSize,
    };
    for (const LV2_Feature* f : world.sharedFeatures())
        given.insert(f->URI);
    return given;
}

// The local path of a file: URI; empty for anything else.
std::string filePath(const LilvNode* uri) {
    const char* text = lilv_node_as_uri(uri);
    if (!text)
        return {};
    char* path = lilv_file_uri_parse(text, nullptr);
    std::string out = path ? path : "";
    lilv_free(path);
    return out;
}

// What an interface asks of the host: it is usable when every feature it
// requires is given here. Instance access is never given: the editing
// instance is never activated or run, so an interface reading its insides
// would read what was never made; such an interface gets the generic editor.
struct Needs {
    bool usable = true;
};

Needs needsOf(Lv2World& world, const LilvNode* ui) {
    Needs needs;
    const std::set<std::string> given = givenFeatures(world);
    LilvWorld* w = world.world();
    LilvNode* required = lilv_new_uri(w, LV2_CORE__requiredFeature);
    LilvNode* optional = lilv_new_uri(w, LV2_CORE__optionalFeature);
    for (LilvNode* predicate : {required, optional}) {
        LilvNodes* features = lilv_world_find_nodes(w, ui, predicate, nullptr);
        LILV_FOREACH(nodes, i, features) {
            const char* text = lilv_node_as_string(lilv_nodes_get(features, i));
            const std::string uri = text ? text : "";
            if (predicate == required && !given.count(uri))
                needs.usable = false;
        }
        lilv_nodes_free(features);
    }
    lilv_node_free(required);
    lilv_node_free(optional);
    return needs;
}

class Lv2View final : public PluginView {
public:
    Lv2View(Lv2World& world, Lv2Instance& instance) : m_world(world), m_instance(instance) {
        ++liveViews;
    }
    ~Lv2View() override {
        // An interface may still write a control while it is torn down; the
        // value goes into the instance, but nothing is told back to the
        // interface being freed.
        if (SuilInstance* ui = std::exchange(m_ui, nullptr))
            suil_instance_free(ui);
        if (m_host)
            suil_host_free(m_host);
        --liveViews;
    }
    Lv2View(const Lv2View&) = delete;
    Lv2View& operator=(const Lv2View&) = delete;

    bool open(const LilvUI* ui, const LilvNode* type, std::uintptr_t parent);

    QSize size() const override { return m_size; }
    bool idle() override {
        return !m_idle || !m_idle->idle || m_idle->idle(suil_instance_get_handle(m_ui)) == 0;
    }
    void writeControl(std::uint32_t port, float value) override {
        if (std::isfinite(value))
            m_instance.setControl(int(port), value);
        // The port's value goes back, so the interface shows what it holds;
        // not while the interface is being told a value, so an interface that
        // answers each port event with a write cannot loop.
        if (!m_telling)
            tell(port);
    }

private:
    void tell(std::uint32_t port) {
        const std::optional<float> value = m_instance.portValue(port);
        if (!value || !m_ui)
            return;
        const float v = *value;
        m_telling = true;
        suil_instance_port_event(m_ui, port, sizeof v, 0, &v);
        m_telling = false;
    }

    static void write(SuilController self, uint32_t port, uint32_t size, uint32_t protocol,
                      const void* buffer) {
        // Protocol 0 is a float control value; events for the plug-in's own
        // processing have nowhere to go in an instance that never runs.
        if (protocol != 0 || size != sizeof(float))
            return;
        float v = 0;
        std::memcpy(&v, buffer, sizeof v);
        static_cast<Lv2View*>(self)->writeControl(port, v);
    }
    static uint32_t index(SuilController self, const char* symbol) {
        auto* view = static_cast<Lv2View*>(self);
        const LilvPlugin* plugin = view->m_instance.plugin();
        LilvNode* node = lilv_new_string(view->m_world.world(), symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, node);
        lilv_node_free(node);
        return port ? lilv_port_get_index(plugin, port) : LV2UI_INVALID_PORT_INDEX;
    }
    static uint32_t subscribe(SuilController self, uint32_t port, uint32_t,
                              const LV2_Feature* const*) {
        auto* view = static_cast<Lv2View*>(self);
        if (!view->m_instance.portValue(port))
            return 1;
        view->tell(port);
        return 0;
    }
    static uint32_t unsubscribe(SuilController, uint32_t, uint32_t, const LV2_Feature* const*) {
        return 0;
    }
    static int resize(LV2UI_Feature_Handle self, int width, int height) {
        auto* view = static_cast<Lv2View*>(self);
        if (width <= 0 || height <= 0)
            return 1;
        view->m_size = QSize(width, height);
        if (view->onResize)
            view->onResize(view->m_size);
        return 0;
    }

    Lv2World& m_world;
    Lv2Instance& m_instance;
    SuilHost* m_host = nullptr;
    SuilInstance* m_ui = nullptr;
    const LV2UI_Idle_Interface* m_idle = nullptr;
    QSize m_size;
    bool m_telling = false;

    float m_rate = 48000;
    std::vector<LV2_Options_Option> m_options;
    LV2UI_Resize m_resize{};
    LV2_Feature m_parentFeature{}, m_resizeFeature{}, m_idleFeature{}, m_optionsFeature{};
};

bool Lv2View::open(const LilvUI* ui, const LilvNode* type, std::uintptr_t parent) {
    m_host =
        suil_host_new(&Lv2View::write, &Lv2View::index, &Lv2View::subscribe, &Lv2View::unsubscribe);
    if (!m_host)
        return false;
    m_options.push_back({LV2_OPTIONS_INSTANCE, 0, m_world.urid(LV2_PARAMETERS__sampleRate),
                         sizeof(float), m_world.urid(LV2_ATOM__Float), &m_rate});
    m_options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
    m_resize = {this, &Lv2View::resize};
    m_parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(parent)};
    m_resizeFeature = {LV2_UI__resize, &m_resize};
    m_idleFeature = {LV2_UI__idleInterface, nullptr};
    m_optionsFeature = {LV2_OPTIONS__options, m_options.data()};
    std::vector<const LV2_Feature*> features = m_world.sharedFeatures();
    for (const LV2_Feature* f :
         {&m_parentFeature, &m_resizeFeature, &m_idleFeature, &m_optionsFeature})
        features.push_back(f);
    features.push_back(nullptr);

    const std::string bundle = filePath(lilv_ui_get_bundle_uri(ui));
    const std::string binary = filePath(lilv_ui_get_binary_uri(ui));
    if (binary.empty())
        return false;
    m_ui = suil_instance_new(m_host, this, LV2_UI__X11UI,
                             lilv_node_as_uri(lilv_plugin_get_uri(m_instance.plugin())),
                             lilv_node_as_uri(lilv_ui_get_uri(ui)), lilv_node_as_uri(type),
                             bundle.c_str(), binary.c_str(), features.data());
    if (!m_ui)
        return false;
    m_idle = static_cast<const LV2UI_Idle_Interface*>(
        suil_instance_extension_data(m_ui, LV2_UI__idleInterface));
    // An interface starts from the values its ports hold.
    for (std::uint32_t port : m_instance.controlPorts())
        tell(port);
    return true;
}

} // namespace

std::unique_ptr<PluginView> openLv2View(Lv2World& world, Lv2Instance& instance,
                                        std::uintptr_t parent) {
    LilvWorld* w = world.world();
    LilvUIs* uis = lilv_plugin_get_uis(instance.plugin());
    LilvNode* x11 = lilv_new_uri(w, LV2_UI__X11UI);
    std::unique_ptr<PluginView> made;
    LILV_FOREACH(uis, i, uis) {
        const LilvUI* ui = lilv_uis_get(uis, i);
        const LilvNode* type = nullptr;
        if (!lilv_ui_is_supported(ui, &suil_ui_supported, x11, &type) || !type)
            continue;
        const LilvNode* uri = lilv_ui_get_uri(ui);
        lilv_world_load_resource(w, uri);
        const Needs needs = needsOf(world, uri);
        if (!needs.usable)
            continue;
        auto view = std::make_unique<Lv2View>(world, instance);
        if (view->open(ui, type, parent)) {
            made = std::move(view);
            break;
        }
    }
    lilv_node_free(x11);
    lilv_uis_free(uis);
    return made;
}

int livePluginViews() {
    return liveViews.load();
}

} // namespace ql::platform
