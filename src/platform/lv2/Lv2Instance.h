// One instance of an LV2 plug-in: its ports, its state and its blocks.
//
// Every port is connected when the instance is made: control inputs to
// values that start at the port's default, control outputs and CV ports to
// buffers of their own, atom and event ports to sequence buffers (an empty
// input each block). Audio ports are connected by the caller, to buffers that
// never overlap. The worker runs inline after each block: scheduled work,
// then its responses, then the end of the run.
//
// State: capture() gives the control values and the plug-in's own state as a
// Turtle text, the same bytes for the same settings; restore() takes such a
// text and ignores one that does not parse or belongs to another plug-in.
#pragma once

#include "platform/PluginHost.h"
#include "platform/lv2/Lv2World.h"

#include <lv2/worker/worker.h>

#include <QByteArray>

#include <deque>
#include <memory>
#include <vector>

namespace ql::platform {

class Lv2Instance {
public:
    // Instantiates `plugin` at `rate`; none when lilv cannot.
    static std::unique_ptr<Lv2Instance> make(Lv2World& world, const LilvPlugin* plugin,
                                             double rate);
    ~Lv2Instance();
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    const LilvPlugin* plugin() const { return m_plugin; }
    // Port indices of the audio inputs and outputs, in index order.
    const std::vector<std::uint32_t>& audioInputs() const { return m_audioIn; }
    const std::vector<std::uint32_t>& audioOutputs() const { return m_audioOut; }
    void connectAudio(std::uint32_t port, float* data);

    const std::vector<PluginControl>& controls() const { return m_controls; }
    bool setControl(int port, float value);
    std::optional<float> control(int port) const;
    // Every control port, inputs and outputs, with its value: what a plug-in's
    // own interface is told when it opens.
    const std::vector<std::uint32_t>& controlPorts() const { return m_controlPorts; }
    std::optional<float> portValue(std::uint32_t port) const;
    // Instances alive in this process (the leak checks count them).
    static int live();

    bool restore(const QByteArray& state);
    QByteArray capture();

    void activate();
    // Runs one block of at most kMaxBlock frames, then the worker.
    void run(std::uint32_t frames);

private:
    Lv2Instance(Lv2World& world, const LilvPlugin* plugin, double rate);
    void describeControl(std::uint32_t index, const LilvPort* port, float def, float min,
                         float max);
    void resetSequences();
    void runWorker();
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                     const void* data);
    static const void* portValue(const char* symbol, void* self, uint32_t* size, uint32_t* type);
    static void setPortValue(const char* symbol, void* self, const void* value, uint32_t size,
                             uint32_t type);

    Lv2World& m_world;
    const LilvPlugin* m_plugin;
    LilvInstance* m_instance = nullptr;
    bool m_active = false;

    std::vector<float> m_values; // per port: control inputs and outputs
    std::vector<bool> m_isControlInput;
    std::vector<std::uint32_t> m_controlPorts;
    std::vector<std::vector<float>> m_cv;
    struct Sequence {
        std::uint32_t port;
        bool input;
        std::vector<std::uint64_t> data; // 8-byte aligned atoms
    };
    std::vector<Sequence> m_sequences;
    std::vector<std::uint32_t> m_audioIn, m_audioOut;
    std::vector<PluginControl> m_controls;

    std::int32_t m_maxBlock = kMaxBlock, m_minBlock = 1, m_nominalBlock = kMaxBlock;
    float m_rate = 0;
    std::vector<LV2_Options_Option> m_options;
    LV2_Worker_Schedule m_schedule{};
    LV2_Feature m_optionsFeature{}, m_scheduleFeature{};
    std::vector<const LV2_Feature*> m_features;
    const LV2_Worker_Interface* m_worker = nullptr;
    std::deque<QByteArray> m_work, m_responses;
    LV2_URID m_float = 0, m_double = 0, m_int = 0, m_sequence = 0, m_chunk = 0;
};

} // namespace ql::platform
