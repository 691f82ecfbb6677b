// Guards against: (fixture) a sound-server test that leaves a server behind or
// records something other than what reached the sink.
// A private PipeWire graph (sound-server-graph.sh) for the tests that play
// through ALSA "default" to a real sound server, and a recorder at its null
// sink. While the graph lives, this process's XDG_RUNTIME_DIR points at it,
// so pipewire-alsa reaches it and nothing else.
//
// Everything the graph starts runs in the script's own process group and is
// ended by pid when the graph is destroyed; when this process dies instead,
// the script sees its standard input close and ends it all the same.
// Header and SoundServerGraph.cpp; link Qt6::Core and sndfile.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
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

    // Records what the null sink plays (its monitor), 48 kHz stereo float.
    bool startRecording();
    // Ends the recording and returns its samples, interleaved, at full scale ±1.
    std::vector<double> stopRecording();

    static constexpr int kRate = 48000;
    static constexpr int kChannels = 2;

private:
    void end(QProcess& p, int ms);

    QTemporaryDir m_dir;
    QProcess m_graph;
    QProcess m_recorder;
    QByteArray m_oldRuntime;
    bool m_hadRuntime = false;
    bool m_ok = false;
    QString m_why;
};

} // namespace ql::test
