// One device to play on as behind a sound server, with what it plays recorded:
// the simulated device in its sound-server mode (a delay that stays put once
// the queue has played out, no rewind), or a private PipeWire graph that the
// program reaches through ALSA "default". A stage whose graph cannot be
// started says why in `skip`.
//
// Also what the rows judge in a recording: stretches of sound and of exact
// silence, the tracks heard one after another and the silences between them,
// measured in the server's own cycles. A take the test's tools spoiled (the
// recorder fell behind, or the machine kept the player from its device) is
// made again rather than judged (judgeableTake).
#pragma once

#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/OutputEngine.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSink.h"

#include "SimRigs.h"
#include "SoundServerGraph.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ql::test {

enum class Device { Simulated, PipeWire };

// How the simulated server behaves; the PipeWire graph is what it is.
struct SimServer {
    std::int64_t bufferFrames = 4096;
    std::int64_t latencyFrames = 1024; // the part of its delay that never runs down
    std::int64_t wobbleFrames = 0;
};

struct SoundStage {
    static constexpr int kRate = SoundServerGraph::kRate;
    // Takes of one row at most: a take that cannot be judged is made again.
    static constexpr int kTakes = 3;

    Device device;
    std::unique_ptr<SoundServerGraph> graph;
    std::shared_ptr<platform::SimSinkControl> sink;
    std::optional<platform::Platform> platform;
    QString skip;

    explicit SoundStage(Device d, SimServer server = {}) : device(d), m_server(server) {
        using namespace platform;
        if (d == Device::Simulated) {
            sink =
                std::make_shared<SimSinkControl>(SimClock::RealTime, 64 << 20, server.bufferFrames);
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
            platform = makeSimulatedPlatform(std::move(rig),
                                             SimOutputs{SimClock::RealTime, {{kAnalogB, sink}}});
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
        m_underrunsFrom = underruns();
        m_gapsFrom = sink ? sink->dropouts() : 0;
        m_cycle = 0;
        if (graph)
            return graph->startRecording();
        m_from = sink->framesHeard();
        return true;
    }
    // What the device played since record(), stereo interleaved at kRate.
    std::vector<double> recording() {
        std::vector<double> heard;
        if (graph) {
            heard = graph->stopRecording();
        } else {
            for (int s = 0; s < sink->opens(); ++s) {
                const std::vector<double> part = sink->recordedDouble(s);
                heard.insert(heard.end(), part.begin(), part.end());
            }
            const auto from = std::size_t(std::clamp<std::int64_t>(m_from, 0, sink->framesHeard()));
            heard.erase(heard.begin(),
                        heard.begin() + std::ptrdiff_t(std::min(2 * from, heard.size())));
        }
        settleDryCount();
        m_underrunsTo = underruns();
        m_gapsTo = sink ? sink->dropouts() : 0;
        // The cycle while the program played: from its first frame heard
        // (the graph runs other cycles while only the tap is linked).
        std::size_t first = 0;
        while (2 * first < heard.size() && heard[2 * first] == 0.0 && heard[2 * first + 1] == 0.0)
            ++first;
        m_cycle = graph ? graph->cycleFrames(std::int64_t(first)) : m_server.latencyFrames;
        return heard;
    }
    // The recorder itself fell behind the sink since record(): what it lost
    // is the test tool's fault, not the player's.
    bool recorderLost() const { return graph && graph->lostSome(); }

    // The times the device ran dry while the last recording ran.
    std::int64_t ranDry() const { return m_underrunsTo - m_underrunsFrom; }
    // The silences at most that running dry put into the last recording: the
    // gaps the simulated device played (it counts each one), or on PipeWire
    // the engine's under-runs (each one a silence heard until it wrote again).
    std::int64_t dryGaps() const { return sink ? m_gapsTo - m_gapsFrom : ranDry(); }

    // Whether a device that ran dry (its feeder did not keep it fed, as on a
    // machine busy enough to keep the player from running for longer than
    // the device holds) spoils a take. It plays silence the player did not
    // choose, which passes for a cut or a pause where a row looks for
    // silence; a row that finds frames by their value and times the
    // quickest of several calls judges it as lateness.
    enum class DryDevice { Spoils, IsJudged };

    // Why the last recording cannot be judged as the player's sound; empty
    // when it can: the recorder fell behind the sink, or the device ran dry
    // where that spoils the take.
    QString unjudgeable(DryDevice dry = DryDevice::Spoils) const {
        if (recorderLost())
            return QStringLiteral("the recorder fell behind the sink");
        if (dry == DryDevice::Spoils && ranDry() > 0)
            return QStringLiteral("the device ran dry %1 times while the recording ran")
                .arg(ranDry());
        return {};
    }

    // The server's cycle, in frames, while the last recording played. On
    // PipeWire it is read from the graph (it follows the latency its clients
    // ask for; 2048 frames at 48 kHz while the program plays, on PipeWire
    // 0.3.65), never assumed. The simulated server has no cycles: its
    // counterpart is its standing delay, which a server reports about a
    // cycle long once our queue is empty. 0: not known.
    std::int64_t cycleFrames() const { return m_cycle; }

    // The silence the quickest of a row's track changes stays under, in
    // frames. On PipeWire a cycle: an end taken as heard in the cycle that
    // plays the last frame lets the next track's first frames make the cycle
    // after it, so the silence is what is left of that cycle. The simulated
    // server records its frames as it plays them but reports its standing
    // delay on top, so an end is taken as heard that delay late, and the
    // next track follows within a cycle more.
    std::int64_t soonestJoinFrames() const {
        return device == Device::PipeWire ? m_cycle : 2 * m_cycle;
    }

private:
    // A device that ran dry in the recording's last moments is counted at
    // the engine's next look (and the simulated device's gap at the write
    // after it), and a machine that kept the feeder from the device makes
    // that look late too: without it, a take that ends in silence the
    // player did not choose would be judged. Waits until the engine's clock
    // has moved twice, each move a look of its own, so one whole look came
    // after the recording stopped; with nothing playing the clock stands
    // still, and the wait gives up.
    void settleDryCount() {
        if (!platform || !platform->outputs)
            return;
        platform::OutputEngine* engine =
            platform->outputs->engine(platform->outputs->defaultDevice());
        if (!engine)
            return;
        for (int look = 0; look < 2; ++look) {
            const double seen = engine->deviceTime();
            if (!QTest::qWaitFor([&] { return engine->deviceTime() > seen; }, kDryCountWaitMs))
                return;
        }
    }
    static constexpr int kDryCountWaitMs = 500;

    // The times the device ran dry so far: the engine's under-runs, and on
    // the simulated device also the gaps it played that the engine did not
    // see (it ran out and was fed again between two of the engine's looks).
    std::int64_t underruns() {
        if (!platform || !platform->outputs)
            return 0;
        platform::OutputEngine* engine =
            platform->outputs->engine(platform->outputs->defaultDevice());
        return (engine ? engine->underruns() : 0) + (sink ? sink->dropouts() : 0);
    }

    SimServer m_server;
    std::int64_t m_from = 0;
    std::int64_t m_underrunsFrom = 0, m_underrunsTo = 0, m_gapsFrom = 0, m_gapsTo = 0;
    std::int64_t m_cycle = 0;
};

// How long the server is given, between two takes, to play out what it
// still holds of the first (a stop's fade, its delay).
inline constexpr int kTakeSettleMs = 500;

// Makes a row's take until one can be judged, at most `takes` times:
// `take` sets up, plays and records (stage.record(), then
// stage.recording()); a take that stage.unjudgeable(dry) refuses is made
// again, and so is one `spoiled` (when given) says why it cannot be judged
// (empty: it can). True when the row goes on to judge the last take. False
// when it ends here: a check in `take` failed, or no take could be judged,
// and then the row is skipped, saying why (a row the tools spoiled is not
// passed).
template <class Take>
bool judgeableTake(const SoundStage& stage, Take take,
                   SoundStage::DryDevice dry = SoundStage::DryDevice::Spoils,
                   const std::function<QString()>& spoiled = {}, int takes = SoundStage::kTakes) {
    for (int n = 1;; ++n) {
        take();
        if (QTest::currentTestFailed())
            return false;
        QString why = stage.unjudgeable(dry);
        if (why.isEmpty() && spoiled)
            why = spoiled();
        if (why.isEmpty())
            return true;
        if (n >= takes) {
            QTest::qSkip(
                qPrintable(QStringLiteral("%1 in each of %2 takes: not judged").arg(why).arg(n)),
                __FILE__, __LINE__);
            return false;
        }
        qWarning("take %d not judged, made again: %s", n, qPrintable(why));
        QTest::qWait(kTakeSettleMs);
    }
}

// A stretch of a recording: sound, or silence (more frames of exact zeros
// in a row, in both channels, than the sources played can hold).
struct Stretch {
    std::size_t from = 0, frames = 0;
    bool silent = false;
    std::size_t end() const { return from + frames; }
};

// A recording (stereo interleaved) cut into stretches of sound and of
// silence; a run of at most `longestQuiet` zero frames (as long as the
// longest run the sources hold: none in a ramp or noise) stays sound.
inline std::vector<Stretch> stretchesOf(const std::vector<double>& v, std::size_t longestQuiet) {
    const std::size_t n = v.size() / 2;
    const auto zero = [&](std::size_t i) { return v[2 * i] == 0.0 && v[2 * i + 1] == 0.0; };
    std::vector<Stretch> out;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && zero(j))
            ++j;
        if (j - i > longestQuiet) {
            out.push_back({i, j - i, true});
            i = j;
            continue;
        }
        while (j < n && !zero(j))
            ++j;
        if (out.empty() || out.back().silent)
            out.push_back({i, 0, false});
        out.back().frames = j - out.back().from;
        i = j;
    }
    return out;
}

// The tracks heard in a recording of tracks played one after another, each
// `frames` long, with silence before, between and after them: where each
// starts, and the silences between them (frames). A track heard shorter or
// longer than it is (cut, or broken by a silence inside it) is told in
// `fault`; the recording may end inside the last track.
struct TracksHeard {
    std::vector<std::size_t> starts;
    std::vector<std::int64_t> gaps;
    QString fault;
};
inline TracksHeard tracksHeard(const std::vector<double>& v, std::int64_t frames,
                               std::size_t longestQuiet) {
    TracksHeard heard;
    const std::vector<Stretch> parts = stretchesOf(v, longestQuiet);
    const auto at = [](std::size_t frame) { return double(frame) / SoundStage::kRate; };
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const Stretch& s = parts[k];
        if (s.silent)
            continue;
        if (!heard.starts.empty()) // stretches of sound have silence between them
            heard.gaps.push_back(std::int64_t(parts[k - 1].frames));
        heard.starts.push_back(s.from);
        const bool last = k + 1 == parts.size();
        if (std::int64_t(s.frames) == frames || (last && std::int64_t(s.frames) < frames))
            continue;
        heard.fault = std::int64_t(s.frames) > frames
                          ? QStringLiteral("track %1 heard for %2 frames of %3, from %4 s")
                                .arg(heard.starts.size())
                                .arg(s.frames)
                                .arg(frames)
                                .arg(at(s.from))
                          : QStringLiteral("track %1 heard for %2 frames of %3 from %4 s, then "
                                           "%5 ms of silence")
                                .arg(heard.starts.size())
                                .arg(s.frames)
                                .arg(frames)
                                .arg(at(s.from))
                                .arg(1000.0 * double(parts[k + 1].frames) / SoundStage::kRate);
        return heard;
    }
    return heard;
}

// How much longer than the quickest a track change may take. A loaded
// machine holds the program back at some changes of a row, never at most
// of them: in the sanitized build, with the machine's cores over-booked
// three times and more, most changes came within a cycle or two more (235
// ms the longest), and one change of a row now and then took far longer
// (665 ms, once). Every change but the longest is held to the first bound,
// the longest to the second.
inline constexpr double kMachineHoldSeconds = 0.3;
inline constexpr double kMachineStallSeconds = 2.0;

// The silences between a row's tracks (`gaps`, in frames) told in
// milliseconds and in the server's cycles.
inline QString joinsText(const SoundStage& stage, const std::vector<std::int64_t>& gaps) {
    const std::int64_t cycle = std::max<std::int64_t>(stage.cycleFrames(), 1);
    QStringList told;
    for (const std::int64_t g : gaps)
        told << QStringLiteral("%1 ms (%2 cycles)")
                    .arg(1000.0 * double(g) / SoundStage::kRate, 0, 'f', 1)
                    .arg(double(g) / double(cycle), 0, 'f', 2);
    return QStringLiteral("between the tracks: %1; a cycle is %2 frames")
        .arg(told.join(QStringLiteral(", ")))
        .arg(stage.cycleFrames());
}

// What is wrong with the silences between a row's tracks (`gaps`, in
// frames) on `stage`; empty when nothing. The quickest change must hold less
// than stage.soonestJoinFrames() (an end taken as heard late makes every
// change of the row a cycle longer); every change but the longest no more
// than that and kMachineHoldSeconds, and the longest no more than that and
// kMachineStallSeconds.
inline QString joinFault(const SoundStage& stage, std::vector<std::int64_t> gaps) {
    if (stage.cycleFrames() <= 0)
        return QStringLiteral("the server's cycle was not read");
    if (gaps.size() < 2)
        return QStringLiteral("fewer than two track changes");
    const QString told = joinsText(stage, gaps);
    std::sort(gaps.begin(), gaps.end());
    const std::int64_t soonest = stage.soonestJoinFrames();
    if (gaps.front() >= soonest)
        return QStringLiteral("no track followed within %1 frames; %2").arg(soonest).arg(told);
    const auto bound = [&](double seconds) {
        return soonest + std::int64_t(seconds * SoundStage::kRate);
    };
    if (gaps[gaps.size() - 2] > bound(kMachineHoldSeconds))
        return QStringLiteral("more than one track followed over %1 ms late; %2")
            .arg(1000 * kMachineHoldSeconds)
            .arg(told);
    if (gaps.back() > bound(kMachineStallSeconds))
        return QStringLiteral("a track followed over %1 s late; %2")
            .arg(kMachineStallSeconds)
            .arg(told);
    return {};
}

} // namespace ql::test
