#include "platform/lv2/Lv2Instance.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/parameters/parameters.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace ql::platform {

namespace {

// The subject the saved Turtle text describes; any fixed URI keeps it the
// same from one save to the next.
constexpr const char* kStateUri = "urn:quavelark:plugin-state";
// Bytes of an atom sequence buffer.
constexpr std::size_t kSequenceBytes = 16384;

std::atomic<int> liveInstances{0};

QString text(LilvNode* node) {
    if (!node)
        return {};
    QString out = QString::fromUtf8(lilv_node_as_string(node));
    lilv_node_free(node);
    return out;
}

} // namespace

std::unique_ptr<Lv2Instance> Lv2Instance::make(Lv2World& world, const LilvPlugin* plugin,
                                               double rate) {
    std::unique_ptr<Lv2Instance> made(new Lv2Instance(world, plugin, rate));
    if (!made->m_instance)
        return nullptr;
    return made;
}

int Lv2Instance::live() {
    return liveInstances.load();
}

Lv2Instance::Lv2Instance(Lv2World& world, const LilvPlugin* plugin, double rate)
    : m_world(world), m_plugin(plugin), m_rate(float(rate)) {
    m_float = world.urid(LV2_ATOM__Float);
    m_double = world.urid(LV2_ATOM__Double);
    m_int = world.urid(LV2_ATOM__Int);
    m_sequence = world.urid(LV2_ATOM__Sequence);
    m_chunk = world.urid(LV2_ATOM__Chunk);
    const auto option = [&](const char* key, LV2_URID type, std::uint32_t size, const void* v) {
        m_options.push_back({LV2_OPTIONS_INSTANCE, 0, world.urid(key), size, type, v});
    };
    option(LV2_BUF_SIZE__maxBlockLength, m_int, sizeof(std::int32_t), &m_maxBlock);
    option(LV2_BUF_SIZE__minBlockLength, m_int, sizeof(std::int32_t), &m_minBlock);
    option(LV2_BUF_SIZE__nominalBlockLength, m_int, sizeof(std::int32_t), &m_nominalBlock);
    option(LV2_PARAMETERS__sampleRate, m_float, sizeof(float), &m_rate);
    m_options.push_back({LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr});
    m_schedule = {this, &Lv2Instance::schedule};
    m_optionsFeature = {LV2_OPTIONS__options, m_options.data()};
    m_scheduleFeature = {LV2_WORKER__schedule, &m_schedule};
    m_features = world.sharedFeatures();
    m_features.push_back(&m_optionsFeature);
    m_features.push_back(&m_scheduleFeature);
    m_features.push_back(nullptr);

    m_instance = lilv_plugin_instantiate(plugin, rate, m_features.data());
    if (!m_instance)
        return;
    ++liveInstances;
    m_worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(m_instance, LV2_WORKER__interface));

    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> mins(ports), maxs(ports), defs(ports);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defs.data());
    m_values.assign(ports, 0.0f);
    m_isControlInput.assign(ports, false);
    const Lv2World::Nodes& n = world.nodes();
    for (std::uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool input = lilv_port_is_a(plugin, port, n.input);
        if (lilv_port_is_a(plugin, port, n.control)) {
            const float min = std::isnan(mins[i]) ? 0.0f : mins[i];
            const float max = std::isnan(maxs[i]) ? std::max(min, 1.0f) : maxs[i];
            m_values[i] = std::isnan(defs[i]) ? min : defs[i];
            lilv_instance_connect_port(m_instance, i, &m_values[i]);
            m_controlPorts.push_back(i);
            if (input) {
                m_isControlInput[i] = true;
                describeControl(i, port, m_values[i], min, max);
            }
        } else if (lilv_port_is_a(plugin, port, n.audio)) {
            (input ? m_audioIn : m_audioOut).push_back(i);
        } else if (lilv_port_is_a(plugin, port, n.atom)) {
            m_sequences.push_back({i, input, std::vector<std::uint64_t>(kSequenceBytes / 8)});
            lilv_instance_connect_port(m_instance, i, m_sequences.back().data.data());
        } else if (lilv_port_has_property(plugin, port, n.optional)) {
            lilv_instance_connect_port(m_instance, i, nullptr);
        } else {
            // CV and anything else: a zeroed block of its own.
            m_cv.emplace_back(kMaxBlock, 0.0f);
            lilv_instance_connect_port(m_instance, i, m_cv.back().data());
        }
    }
}

Lv2Instance::~Lv2Instance() {
    if (!m_instance)
        return;
    if (m_active)
        lilv_instance_deactivate(m_instance);
    lilv_instance_free(m_instance);
    --liveInstances;
}

void Lv2Instance::describeControl(std::uint32_t index, const LilvPort* port, float def, float min,
                                  float max) {
    const Lv2World::Nodes& n = m_world.nodes();
    PluginControl c;
    c.index = int(index);
    c.symbol = QString::fromUtf8(lilv_node_as_string(lilv_port_get_symbol(m_plugin, port)));
    c.name = text(lilv_port_get_name(m_plugin, port));
    if (LilvNode* unit = lilv_port_get(m_plugin, port, n.unit)) {
        if (lilv_node_is_uri(unit)) {
            c.unit = text(lilv_world_get(m_world.world(), unit, n.unitSymbol, nullptr));
            if (c.unit.isEmpty())
                c.unit = text(lilv_world_get(m_world.world(), unit, n.label, nullptr));
        }
        lilv_node_free(unit);
    }
    c.minimum = min;
    c.maximum = max;
    c.defaultValue = def;
    c.toggled = lilv_port_has_property(m_plugin, port, n.toggled);
    c.enumeration = lilv_port_has_property(m_plugin, port, n.enumeration);
    c.integer = lilv_port_has_property(m_plugin, port, n.integer);
    c.logarithmic = lilv_port_has_property(m_plugin, port, n.logarithmic);
    c.notOnGui = lilv_port_has_property(m_plugin, port, n.notOnGui);
    if (LilvScalePoints* points = lilv_port_get_scale_points(m_plugin, port)) {
        LILV_FOREACH(scale_points, i, points) {
            const LilvScalePoint* p = lilv_scale_points_get(points, i);
            c.scalePoints.emplace_back(
                lilv_node_as_float(lilv_scale_point_get_value(p)),
                QString::fromUtf8(lilv_node_as_string(lilv_scale_point_get_label(p))));
        }
        lilv_scale_points_free(points);
        std::stable_sort(c.scalePoints.begin(), c.scalePoints.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    m_controls.push_back(std::move(c));
}

void Lv2Instance::connectAudio(std::uint32_t port, float* data) {
    lilv_instance_connect_port(m_instance, port, data);
}

bool Lv2Instance::setControl(int port, float value) {
    if (port < 0 || std::size_t(port) >= m_values.size() || !m_isControlInput[port])
        return false;
    m_values[port] = value;
    return true;
}

std::optional<float> Lv2Instance::control(int port) const {
    if (port < 0 || std::size_t(port) >= m_values.size() || !m_isControlInput[port])
        return std::nullopt;
    return m_values[port];
}

std::optional<float> Lv2Instance::portValue(std::uint32_t port) const {
    if (std::find(m_controlPorts.begin(), m_controlPorts.end(), port) == m_controlPorts.end())
        return std::nullopt;
    return m_values[port];
}

bool Lv2Instance::restore(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return false;
    // The text is read up to its first NUL, so a binary blob stops early and
    // fails to parse rather than being read past its end.
    LilvState* state =
        lilv_state_new_from_string(m_world.world(), m_world.map(), bytes.constData());
    if (!state)
        return false;
    const bool mine =
        lilv_node_equals(lilv_state_get_plugin_uri(state), lilv_plugin_get_uri(m_plugin));
    if (mine)
        lilv_state_restore(state, m_instance, &Lv2Instance::setPortValue, this, 0,
                           m_features.data());
    lilv_state_free(state);
    return mine;
}

QByteArray Lv2Instance::capture() {
    const QByteArray dir = m_world.stateDir().toUtf8();
    LilvState* state = lilv_state_new_from_instance(
        m_plugin, m_instance, m_world.map(), dir.constData(), nullptr, nullptr, nullptr,
        &Lv2Instance::portValue, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, m_features.data());
    if (!state)
        return {};
    char* turtle = lilv_state_to_string(m_world.world(), m_world.map(), m_world.unmap(), state,
                                        kStateUri, nullptr);
    lilv_state_free(state);
    if (!turtle)
        return {};
    QByteArray out(turtle);
    lilv_free(turtle);
    return out;
}

void Lv2Instance::activate() {
    if (!m_active)
        lilv_instance_activate(m_instance);
    m_active = true;
}

void Lv2Instance::run(std::uint32_t frames) {
    resetSequences();
    lilv_instance_run(m_instance, frames);
    runWorker();
}

void Lv2Instance::resetSequences() {
    for (Sequence& s : m_sequences) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(s.data.data());
        if (s.input) {
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
            seq->atom.type = m_sequence;
            seq->body.unit = 0;
            seq->body.pad = 0;
        } else {
            seq->atom.size = std::uint32_t(kSequenceBytes - sizeof(LV2_Atom));
            seq->atom.type = m_chunk;
        }
    }
}

void Lv2Instance::runWorker() {
    if (!m_worker) {
        m_work.clear();
        return;
    }
    LV2_Handle handle = lilv_instance_get_handle(m_instance);
    while (!m_work.empty()) {
        const QByteArray job = std::move(m_work.front());
        m_work.pop_front();
        if (m_worker->work)
            m_worker->work(handle, &Lv2Instance::respond, this, std::uint32_t(job.size()),
                           job.constData());
    }
    while (!m_responses.empty()) {
        const QByteArray answer = std::move(m_responses.front());
        m_responses.pop_front();
        if (m_worker->work_response)
            m_worker->work_response(handle, std::uint32_t(answer.size()), answer.constData());
    }
    if (m_worker->end_run)
        m_worker->end_run(handle);
}

LV2_Worker_Status Lv2Instance::schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                        const void* data) {
    static_cast<Lv2Instance*>(handle)->m_work.emplace_back(static_cast<const char*>(data),
                                                           qsizetype(size));
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Instance::respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                       const void* data) {
    static_cast<Lv2Instance*>(handle)->m_responses.emplace_back(static_cast<const char*>(data),
                                                                qsizetype(size));
    return LV2_WORKER_SUCCESS;
}

const void* Lv2Instance::portValue(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
    auto* self = static_cast<Lv2Instance*>(user);
    for (const PluginControl& c : self->m_controls)
        if (c.symbol == QLatin1String(symbol)) {
            *size = sizeof(float);
            *type = self->m_float;
            return &self->m_values[c.index];
        }
    *size = 0;
    *type = 0;
    return nullptr;
}

void Lv2Instance::setPortValue(const char* symbol, void* user, const void* value, uint32_t size,
                               uint32_t type) {
    auto* self = static_cast<Lv2Instance*>(user);
    float v = 0;
    if (type == self->m_float && size == sizeof(float))
        std::memcpy(&v, value, sizeof v);
    else if (type == self->m_double && size == sizeof(double)) {
        double d = 0;
        std::memcpy(&d, value, sizeof d);
        v = float(d);
    } else if (type == self->m_int && size == sizeof(std::int32_t)) {
        std::int32_t i = 0;
        std::memcpy(&i, value, sizeof i);
        v = float(i);
    } else
        return;
    // A hand-edited file may hold any number; no plug-in expects NaN.
    if (!std::isfinite(v))
        return;
    for (const PluginControl& c : self->m_controls)
        if (c.symbol == QLatin1String(symbol))
            self->m_values[c.index] = v;
}

} // namespace ql::platform
