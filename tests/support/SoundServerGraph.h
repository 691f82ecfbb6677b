// Guards against: (fixture) a sound-server test that leaves a server behind or
// records something other than what reached the sink.
// A private PipeWire graph (sound-server-graph.sh) for the tests that play
// through ALSA "default" to a real sound server, and a recorder at its null
// sink: a thread of this process reading the FIFO the server's own tap
// writes every cycle of the sink to (see the script), so a recorder that
// is scheduled late loses nothing unless it falls a whole FIFO behind, and
// that it reports (lostSome) rather than pass it off as the player's. While the graph lives, this
// process's XDG_RUNTIME_DIR points at it, so pipewire-alsa reaches it and nothing else.
//
// Everything the graph starts runs in the script's own process group and is
// ended by pid when the graph is destroyed; when this process dies instead,
// the script sees its standard input close and ends it all the same.
// Header and SoundServerGraph.cpp; link Qt6::Core.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ql::test {

class SoundServerGraph {
public:
    SoundServerGraph();
    ~SoundServerGraph();
    SoundServerGraph(const SoundServerGraph&) = delete;
    SoundServerGraph& operator=(const SoundServerGraph&) = delete;

    // False, with the reason in why(), when the graph could not be started.
    bool ok() const { return m_ok; }
    QString why() const { return m_why; }

    // Records what the null sink plays, 48 kHz stereo float, from the
    // next cycle of the sink on (silence while nothing plays).
    bool startRecording();
    // Ends the recording (after what the tap still delays) and returns its
    // samples, interleaved, at full scale ±1.
    std::vector<double> stopRecording();
    // The recorder let the FIFO fill since startRecording: the server may
    // have dropped cycles of the sink from the recording.
    bool lostSome() const { return m_full.load(); }
    // The graph's cycle, in frames, while the recording ran from its frame
    // `from` on: the tap writes each cycle of the sink whole, so every read
    // holds whole cycles (a reader that was late takes several at once).
    // 0 when no read ended after `from`.
    std::int64_t cycleFrames(std::int64_t from);

    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

private:
    void readTap(int fd);
    void endTap();

    QTemporaryDir m_dir;
    QProcess m_graph;
    std::thread m_reader;
    std::atomic<bool> m_stop{false}, m_full{false};
    std::atomic<std::int64_t> m_samples{0};
    std::mutex m_mutex;
    std::vector<float> m_recorded;        // under m_mutex
    std::vector<std::int64_t> m_readEnds; // under m_mutex
    QByteArray m_oldRuntime;
    bool m_hadRuntime = false;
    bool m_ok = false;
    QString m_why;
};

} // namespace ql::test
