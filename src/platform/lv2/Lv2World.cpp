#include "platform/lv2/Lv2World.h"

#include <QDir>
#include <QFileInfo>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/event/event.h>
#include <lv2/midi/midi.h>
#include <lv2/port-props/port-props.h>
#include <lv2/units/units.h>
#include <lv2/worker/worker.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace ql::platform {

namespace {

const std::set<std::string>& providedFeatures() {
    static const std::set<std::string> uris{
        LV2_URID__map,        LV2_URID__unmap,
        LV2_OPTIONS__options, LV2_BUF_SIZE__boundedBlockLength,
        LV2_WORKER__schedule, LV2_STATE__mapPath,
        LV2_STATE__makePath,  LV2_CORE__inPlaceBroken,
    };
    return uris;
}

// A string the plug-in frees with free().
char* duplicate(const QByteArray& bytes) {
    char* out = static_cast<char*>(std::malloc(std::size_t(bytes.size()) + 1));
    if (out)
        std::memcpy(out, bytes.constData(), std::size_t(bytes.size()) + 1);
    return out;
}

// A node's text, freeing the node.
QString take(LilvNode* node) {
    if (!node)
        return {};
    QString text = QString::fromUtf8(lilv_node_as_string(node)).trimmed();
    lilv_node_free(node);
    return text;
}

} // namespace

Lv2World::Lv2World(QString stateDir) : m_stateRoot(std::move(stateDir)) {
    m_map = {this, &Lv2World::mapUri};
    m_unmap = {this, &Lv2World::unmapUrid};
    m_mapPath = {this, &Lv2World::abstractPath, &Lv2World::absolutePath};
    m_makePath = {this, &Lv2World::makePath};
    m_mapFeature = {LV2_URID__map, &m_map};
    m_unmapFeature = {LV2_URID__unmap, &m_unmap};
    m_boundedFeature = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    m_mapPathFeature = {LV2_STATE__mapPath, &m_mapPath};
    m_makePathFeature = {LV2_STATE__makePath, &m_makePath};
    m_inPlaceFeature = {LV2_CORE__inPlaceBroken, nullptr};

    m_world = lilv_world_new();
    lilv_world_load_all(m_world);
    const auto uri = [this](const char* u) { return lilv_new_uri(m_world, u); };
    m_nodes = {uri(LV2_CORE__AudioPort),
               uri(LV2_CORE__ControlPort),
               uri(LV2_CORE__CVPort),
               uri(LV2_ATOM__AtomPort),
               uri(LV2_EVENT__EventPort),
               uri(LV2_CORE__InputPort),
               uri(LV2_CORE__OutputPort),
               uri(LV2_MIDI__MidiEvent),
               uri(LV2_CORE__toggled),
               uri(LV2_CORE__enumeration),
               uri(LV2_CORE__integer),
               uri(LV2_PORT_PROPS__logarithmic),
               uri(LV2_PORT_PROPS__notOnGUI),
               uri(LV2_UNITS__unit),
               uri(LV2_UNITS__symbol),
               uri("http://www.w3.org/2000/01/rdf-schema#label"),
               uri("http://usefulinc.com/ns/doap#name"),
               uri(LV2_CORE__connectionOptional)};

}

void Lv2World::list() const {
    if (m_listed)
        return;
    m_listed = true;
    const LilvPlugins* plugins = lilv_world_get_all_plugins(m_world);
    LILV_FOREACH(plugins, i, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, i);
        if (offerable(plugin))
            m_found.push_back(describe(plugin));
    }
    m_offered = offeredEffects(m_found);
}

Lv2World::~Lv2World() {
    for (LilvNode* node :
         {m_nodes.audio, m_nodes.control, m_nodes.cv, m_nodes.atom, m_nodes.event, m_nodes.input,
          m_nodes.output, m_nodes.midiEvent, m_nodes.toggled, m_nodes.enumeration, m_nodes.integer,
          m_nodes.logarithmic, m_nodes.notOnGui, m_nodes.unit, m_nodes.unitSymbol, m_nodes.label,
          m_nodes.name, m_nodes.optional})
        lilv_node_free(node);
    lilv_world_free(m_world);
    if (m_stateMade)
        QDir(m_stateRoot).removeRecursively();
}

QString Lv2World::stateDir() {
    const std::lock_guard lock(m_stateLock);
    if (!m_stateRoot.isEmpty()) {
        m_stateMade = m_stateMade || QDir().mkpath(m_stateRoot);
        return m_stateRoot;
    }
    if (!m_stateTemp)
        m_stateTemp = std::make_unique<QTemporaryDir>();
    return m_stateTemp->path();
}

bool Lv2World::offerable(const LilvPlugin* plugin) const {
    if (lilv_plugin_get_num_ports_of_class(plugin, m_nodes.audio, m_nodes.input, nullptr) < 1 ||
        lilv_plugin_get_num_ports_of_class(plugin, m_nodes.audio, m_nodes.output, nullptr) < 1)
        return false;
    const LilvPluginClass* cls = lilv_plugin_get_class(plugin);
    if (cls && std::strcmp(lilv_node_as_uri(lilv_plugin_class_get_uri(cls)),
                           LV2_CORE__InstrumentPlugin) == 0)
        return false;
    bool provided = true;
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    LILV_FOREACH(nodes, i, required) {
        const LilvNode* feature = lilv_nodes_get(required, i);
        if (!providedFeatures().count(lilv_node_as_uri(feature)))
            provided = false;
    }
    lilv_nodes_free(required);
    return provided;
}

FoundPlugin Lv2World::describe(const LilvPlugin* plugin) const {
    FoundPlugin p;
    p.uri = QString::fromUtf8(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));
    p.name = take(lilv_plugin_get_name(plugin));
    p.maker = take(lilv_plugin_get_author_name(plugin));
    if (p.maker.isEmpty()) {
        if (LilvNode* project = lilv_plugin_get_project(plugin)) {
            p.maker = take(lilv_world_get(m_world, project, m_nodes.name, nullptr));
            lilv_node_free(project);
        }
    }
    if (p.maker.isEmpty())
        p.maker = QStringLiteral("LV2");
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    for (std::uint32_t k = 0; k < ports && !p.takesMidi; ++k) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, k);
        p.takesMidi = lilv_port_is_a(plugin, port, m_nodes.input) &&
                      (lilv_port_is_a(plugin, port, m_nodes.atom) ||
                       lilv_port_is_a(plugin, port, m_nodes.event)) &&
                      lilv_port_supports_event(plugin, port, m_nodes.midiEvent);
    }
    return p;
}

const LilvPlugin* Lv2World::resolve(const PluginSlot& slot) const {
    if (m_listed) {
        const std::optional<std::size_t> at = resolveSlot(m_offered, slot);
        if (!at)
            return nullptr;
        LilvNode* uri = lilv_new_uri(m_world, m_offered[*at].uri.toUtf8().constData());
        const LilvPlugin* plugin =
            lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), uri);
        lilv_node_free(uri);
        return plugin;
    }
    // Without the list, only plug-ins whose URI hashes to the slot's codes are
    // read in full: the renderer resolves two or three slots, and describing
    // every installed plug-in (hundreds with a large collection) would cost it
    // seconds before the first frame.
    const LilvPlugins* plugins = lilv_world_get_all_plugins(m_world);
    LILV_FOREACH(plugins, i, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, i);
        const PluginCodes codes =
            pluginCodes(QString::fromUtf8(lilv_node_as_uri(lilv_plugin_get_uri(plugin))), false);
        if (codes.sub != slot.sub || codes.man != slot.man || !offerable(plugin))
            continue;
        if (resolveSlot(offeredEffects({describe(plugin)}), slot))
            return plugin;
    }
    return nullptr;
}

std::vector<const LV2_Feature*> Lv2World::sharedFeatures() const {
    return {&m_mapFeature,     &m_unmapFeature,    &m_boundedFeature,
            &m_mapPathFeature, &m_makePathFeature, &m_inPlaceFeature};
}

LV2_URID Lv2World::urid(const char* uri) {
    return mapUri(this, uri);
}

LV2_URID Lv2World::mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto* self = static_cast<Lv2World*>(handle);
    const std::lock_guard lock(self->m_uridLock);
    const auto [it, added] = self->m_uris.emplace(uri, LV2_URID(self->m_names.size() + 1));
    if (added)
        self->m_names.push_back(&it->first);
    return it->second;
}

const char* Lv2World::unmapUrid(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    auto* self = static_cast<Lv2World*>(handle);
    const std::lock_guard lock(self->m_uridLock);
    if (urid == 0 || urid > self->m_names.size())
        return nullptr;
    // A map key never moves, so its text outlives the lock.
    return self->m_names[urid - 1]->c_str();
}

char* Lv2World::abstractPath(LV2_State_Map_Path_Handle handle, const char* absolute) {
    const QDir dir(static_cast<Lv2World*>(handle)->stateDir());
    const QString path = QString::fromUtf8(absolute);
    const QString relative = dir.relativeFilePath(path);
    return duplicate((relative.startsWith(QLatin1String("..")) ? path : relative).toUtf8());
}

char* Lv2World::absolutePath(LV2_State_Map_Path_Handle handle, const char* abstract) {
    const QString path = QString::fromUtf8(abstract);
    if (QFileInfo(path).isAbsolute())
        return duplicate(path.toUtf8());
    return duplicate(QDir(static_cast<Lv2World*>(handle)->stateDir()).filePath(path).toUtf8());
}

char* Lv2World::makePath(LV2_State_Make_Path_Handle handle, const char* path) {
    const QString full =
        QDir(static_cast<Lv2World*>(handle)->stateDir()).filePath(QString::fromUtf8(path));
    QDir().mkpath(QFileInfo(full).absolutePath());
    return duplicate(full.toUtf8());
}

} // namespace ql::platform
