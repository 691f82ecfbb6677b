#include "SoundServerGraph.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <cstring>
#include <numeric>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace ql::test {

namespace {

constexpr int kStartMs = 60000;
// The FIFO's size: about 2.7 s of the sink, more than a loaded machine
// keeps the reader from running.
constexpr int kFifoBytes = 1 << 20;
// What the tap's loopback and pipe still hold of the sink when a
// recording ends: a few cycles.
constexpr int kTapLingerMs = 250;

QString fifoPath(const QTemporaryDir& dir) {
    return dir.filePath(QStringLiteral("sink.fifo"));
}

} // namespace

SoundServerGraph::SoundServerGraph() {
    for (const char* tool : {"pipewire", "wireplumber", "dbus-daemon", "pw-link", "pw-dump"})
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
    endTap();
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

void SoundServerGraph::endTap() {
    if (!m_reader.joinable())
        return;
    m_stop.store(true);
    m_reader.join();
}

void SoundServerGraph::readTap(int fd) {
    pthread_setname_np(pthread_self(), "ql-test-tap");
    std::vector<char> buffer(kFifoBytes);
    std::size_t partial = 0; // bytes of a sample not complete yet
    while (!m_stop.load()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer.data() + partial, buffer.size() - partial);
        if (n <= 0)
            continue;
        // A read that takes the whole FIFO found it full: the server may
        // have dropped what did not fit.
        if (n >= kFifoBytes - 8192)
            m_full.store(true);
        const std::size_t bytes = partial + std::size_t(n);
        const std::size_t whole = bytes / sizeof(float);
        {
            std::lock_guard lock(m_mutex);
            const std::size_t at = m_recorded.size();
            m_recorded.resize(at + whole);
            std::memcpy(m_recorded.data() + at, buffer.data(), whole * sizeof(float));
            m_readEnds.push_back(std::int64_t(m_recorded.size()) / kChannels);
        }
        m_samples.fetch_add(std::int64_t(whole));
        partial = bytes - whole * sizeof(float);
        std::memmove(buffer.data(), buffer.data() + whole * sizeof(float), partial);
    }
    ::close(fd);
}

bool SoundServerGraph::startRecording() {
    if (!m_ok)
        return false;
    endTap();
    const int fd = ::open(fifoPath(m_dir).toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETPIPE_SZ, kFifoBytes);
    // What the tap wrote while nobody read (as much as fitted) is old.
    char discard[65536];
    while (::read(fd, discard, sizeof discard) > 0) {
    }
    {
        std::lock_guard lock(m_mutex);
        m_recorded.clear();
        m_recorded.reserve(std::size_t(kRate * kChannels * 60));
        m_readEnds.clear();
        m_readEnds.reserve(std::size_t(kRate * 60 / 64));
    }
    m_samples.store(0);
    m_full.store(false);
    m_stop.store(false);
    m_reader = std::thread([this, fd] { readTap(fd); });
    // Recording once the sink's cycles come (it runs while the tap is linked).
    QElapsedTimer t;
    t.start();
    while (m_samples.load() < kRate / 10 && t.elapsed() < kStartMs)
        QThread::msleep(10);
    return m_samples.load() >= kRate / 10;
}

std::vector<double> SoundServerGraph::stopRecording() {
    if (m_reader.joinable())
        QThread::msleep(kTapLingerMs);
    endTap();
    std::lock_guard lock(m_mutex);
    std::vector<double> out(m_recorded.begin(), m_recorded.end());
    m_recorded.clear();
    return out;
}

std::int64_t SoundServerGraph::cycleFrames(std::int64_t from) {
    std::lock_guard lock(m_mutex);
    std::int64_t cycle = 0;
    for (std::size_t k = 1; k < m_readEnds.size(); ++k)
        if (m_readEnds[k - 1] >= from)
            cycle = std::gcd(cycle, m_readEnds[k] - m_readEnds[k - 1]);
    return cycle;
}

} // namespace ql::test
