// One device to play on as behind a sound server, with what it plays recorded:
// the simulated device in its sound-server mode (a delay that stays put once
// the queue has played out, no rewind), or a private PipeWire graph that the
// program reaches through ALSA "default". A stage whose graph cannot be
// started says why in `skip`.
#pragma once

#include "platform/alsa/AlsaPlatform.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSink.h"

#include "SimRigs.h"
#include "SoundServerGraph.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace ql::test {

enum class Device { Simulated, PipeWire };

// How the simulated server behaves; the PipeWire graph is what it is.
struct SimServer {
    std::int64_t bufferFrames = 4096;
    std::int64_t latencyFrames = 1024;  // the part of its delay that never runs down
    std::int64_t wobbleFrames = 0;
};

struct SoundStage {
    static constexpr int kRate = SoundServerGraph::kRate;

    Device device;
    std::unique_ptr<SoundServerGraph> graph;
    std::shared_ptr<platform::SimSinkControl> sink;
    std::optional<platform::Platform> platform;
    QString skip;

    explicit SoundStage(Device d, SimServer server = {}) : device(d) {
        using namespace platform;
        if (d == Device::Simulated) {
            sink = std::make_shared<SimSinkControl>(SimClock::RealTime, 64 << 20,
                                                    server.bufferFrames);
            sink->serverLatencyFrames = server.latencyFrames;
            sink->serverLatencyWobbleFrames = server.wobbleFrames;
            SimRig rig = twoOutputs();
            const PhysicalFormat format{double(kRate), 24, false, 2, 8, true};
            for (SimDevice& dev : rig.devices) {
                dev.nominalRate = kRate;
                dev.nominalRates = {{double(kRate), double(kRate)}};
                dev.outputStreams[0].format = format;
                dev.outputStreams[0].available = {format};
            }
            platform = makeSimulatedPlatform(
                std::move(rig), SimOutputs{SimClock::RealTime, {{kAnalogB, sink}}});
            return;
        }
        graph = std::make_unique<SoundServerGraph>();
        if (!graph->ok()) {
            skip = graph->why();
            return;
        }
        platform = makeAlsaPlatform();
        if (!platform)
            skip = QStringLiteral("ALSA lists no device with the sound server running");
    }

    bool record() {
        if (graph)
            return graph->startRecording();
        m_from = sink->framesHeard();
        return true;
    }
    // What the device played since record(), stereo interleaved at kRate.
    std::vector<double> recording() {
        if (graph)
            return graph->stopRecording();
        std::vector<double> all;
        for (int s = 0; s < sink->opens(); ++s) {
            const std::vector<double> part = sink->recordedDouble(s);
            all.insert(all.end(), part.begin(), part.end());
        }
        const auto from = std::size_t(std::clamp<std::int64_t>(m_from, 0, sink->framesHeard()));
        return std::vector<double>(all.begin() + std::ptrdiff_t(std::min(2 * from, all.size())),
                                   all.end());
    }
    // The recorder itself fell behind the sink since record(): what it lost
    // is the test tool's fault, not the player's.
    bool recorderLost() const { return graph && graph->lostSome(); }

private:
    std::int64_t m_from = 0;
};

} // namespace ql::test
