#include "SoundServerGraph.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <sndfile.h>

#include <csignal>

#include <unistd.h>

namespace ql::test {

namespace {

constexpr int kStartMs = 60000;

QString wavPath(const QTemporaryDir& dir) {
    return dir.filePath(QStringLiteral("sink.wav"));
}

} // namespace

SoundServerGraph::SoundServerGraph() {
    for (const char* tool : {"pipewire", "wireplumber", "dbus-daemon", "pw-record", "pw-dump"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            m_why = QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
            return;
        }
    if (!m_dir.isValid()) {
        m_why = QStringLiteral("no temporary folder");
        return;
    }
    // The script leads a process group of its own, so it can end all of it.
    m_graph.setChildProcessModifier([] { ::setsid(); });
    m_graph.setProcessChannelMode(QProcess::SeparateChannels);
    m_graph.start(QStringLiteral("/bin/sh"), {QStringLiteral(QL_SOUND_SERVER_GRAPH), m_dir.path()});
    QElapsedTimer t;
    t.start();
    QByteArray out;
    while (!out.contains("ready\n") && m_graph.state() != QProcess::NotRunning &&
           t.elapsed() < kStartMs) {
        m_graph.waitForReadyRead(200);
        out += m_graph.readAllStandardOutput();
    }
    if (!out.contains("ready\n")) {
        m_why = QStringLiteral("pipewire could not be started: %1")
                    .arg(QString::fromLocal8Bit(m_graph.readAllStandardError()).trimmed());
        return;
    }
    m_hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", m_dir.filePath(QStringLiteral("run")).toLocal8Bit());
    qunsetenv("PIPEWIRE_REMOTE");
    m_ok = true;
}

SoundServerGraph::~SoundServerGraph() {
    end(m_recorder, 5000);
    if (m_graph.state() != QProcess::NotRunning) {
        // Closing its input tells the script to end what it started.
        m_graph.closeWriteChannel();
        if (!m_graph.waitForFinished(10000)) {
            const auto pid = pid_t(m_graph.processId());
            if (pid > 0)
                ::kill(-pid, SIGKILL);
            m_graph.waitForFinished(5000);
        }
    }
    if (m_ok) {
        if (m_hadRuntime)
            qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
}

void SoundServerGraph::end(QProcess& p, int ms) {
    if (p.state() == QProcess::NotRunning)
        return;
    // pw-record closes its file on an interrupt.
    ::kill(pid_t(p.processId()), SIGINT);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished(ms);
    }
}

bool SoundServerGraph::startRecording() {
    if (!m_ok)
        return false;
    QFile::remove(wavPath(m_dir));
    m_recorder.start(QStringLiteral("pw-record"),
                     {QStringLiteral("--target"), QStringLiteral("ql-test-sink"),
                      QStringLiteral("-P"), QStringLiteral("{ stream.capture.sink = true }"),
                      QStringLiteral("--format"), QStringLiteral("f32"), QStringLiteral("--rate"),
                      QString::number(kRate), QStringLiteral("--channels"),
                      QString::number(kChannels), wavPath(m_dir)});
    if (!m_recorder.waitForStarted(10000))
        return false;
    // Recording once the stream is linked and samples come (the sink plays
    // silence while nothing else plays).
    constexpr qint64 kSomeSamples = 16384;
    QElapsedTimer t;
    t.start();
    while (QFileInfo(wavPath(m_dir)).size() < kSomeSamples && t.elapsed() < kStartMs &&
           m_recorder.state() == QProcess::Running)
        QThread::msleep(20);
    return m_recorder.state() == QProcess::Running &&
           QFileInfo(wavPath(m_dir)).size() >= kSomeSamples;
}

std::vector<double> SoundServerGraph::stopRecording() {
    end(m_recorder, 5000);
    std::vector<double> out;
    SF_INFO info{};
    SNDFILE* f = sf_open(wavPath(m_dir).toLocal8Bit().constData(), SFM_READ, &info);
    if (!f)
        return out;
    out.resize(std::size_t(info.frames * info.channels));
    out.resize(std::size_t(sf_read_double(f, out.data(), sf_count_t(out.size()))));
    sf_close(f);
    return out;
}

} // namespace ql::test
