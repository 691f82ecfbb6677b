#include "platform/audio/PcmStream.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ql::platform {

namespace {

constexpr std::size_t kPipeRead = 64 * 1024;
constexpr int kFrameBytes = int(sizeof(float)) * PcmStream::kChannels;

QString describe(const QString& what) {
    return QStringLiteral("Cannot play the stream: %1").arg(what);
}

} // namespace

QStringList PcmStream::arguments(const QUrl& address) {
    return {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
            QStringLiteral("error"), QStringLiteral("-protocol_whitelist"),
            QStringLiteral("http,https,tls,tcp"),
            // Microseconds a network read or write may stall.
            QStringLiteral("-rw_timeout"), QStringLiteral("15000000"), QStringLiteral("-i"),
            address.toString(QUrl::FullyEncoded), QStringLiteral("-vn"), QStringLiteral("-f"),
            QStringLiteral("f32le"), QStringLiteral("-ar"), QString::number(int(kRate)),
            QStringLiteral("-ac"), QString::number(kChannels), QStringLiteral("pipe:1")};
}

PcmStream::Opened PcmStream::start(const QString& ffmpeg, const QUrl& address) {
    Opened r;
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        r.error = describe(QStringLiteral("only http and https addresses are played."));
        return r;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        r.error = describe(QString::fromLocal8Bit(std::strerror(errno)));
        return r;
    }
    const QByteArray program = QFile::encodeName(ffmpeg);
    std::vector<QByteArray> args{program};
    for (const QString& a : arguments(address))
        args.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The program ignores SIGPIPE; the child must not, so that it ends when
    // its reader is gone.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, mask;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&mask);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pipeFds[1]);
    if (failed != 0) {
        ::close(pipeFds[0]);
        r.error = describe(
            QStringLiteral("%1: %2").arg(ffmpeg, QString::fromLocal8Bit(std::strerror(failed))));
        return r;
    }
    r.stream.reset(new PcmStream(pid, pipeFds[0], address.toString()));
    return r;
}

PcmStream::PcmStream(pid_t pid, int fd, QString address)
    : m_pid(pid), m_fd(fd), m_address(std::move(address)) {
    m_capacity = std::int64_t(std::llround(kHistorySeconds * kRate));
    m_history.assign(std::size_t(m_capacity) * kChannels, 0.0f);
    m_bytes.assign(kPipeRead, 0);
}

PcmStream::~PcmStream() {
    end();
    ::close(m_fd);
}

void PcmStream::end() {
    std::lock_guard lock(m_childMutex);
    if (m_reaped)
        return;
    // Not reaped yet, so the id is still the child's (a zombie at worst).
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
}

bool PcmStream::fill() {
    if (m_ended)
        return false;
    ssize_t n = 0;
    do
        n = ::read(m_fd, m_bytes.data() + m_partial, m_bytes.size() - m_partial);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
        if (n < 0)
            m_error = describe(QString::fromLocal8Bit(std::strerror(errno)));
        m_ended = true;
        return false;
    }
    const std::size_t bytes = m_partial + std::size_t(n);
    const std::size_t frames = bytes / kFrameBytes;
    for (std::size_t f = 0; f < frames; ++f) {
        float* slot = m_history.data() + std::size_t(m_have % m_capacity) * kChannels;
        std::memcpy(slot, m_bytes.data() + f * kFrameBytes, kFrameBytes);
        ++m_have;
    }
    m_partial = bytes - frames * kFrameBytes;
    std::memmove(m_bytes.data(), m_bytes.data() + frames * kFrameBytes, m_partial);
    return true;
}

std::int64_t PcmStream::read(double* out, std::int64_t frames) {
    std::int64_t got = 0;
    while (got < frames) {
        if (m_position < m_have) {
            const std::int64_t n = std::min(m_have - m_position, frames - got);
            for (std::int64_t i = 0; i < n; ++i) {
                const float* slot =
                    m_history.data() + std::size_t((m_position + i) % m_capacity) * kChannels;
                for (int c = 0; c < kChannels; ++c)
                    out[(got + i) * kChannels + c] = double(slot[c]);
            }
            got += n;
            m_position += n;
            continue;
        }
        if (!fill())
            break;
    }
    if (got == 0 && !m_error.isEmpty())
        return -1;
    return got;
}

bool PcmStream::seek(std::int64_t frame) {
    frame = std::max<std::int64_t>(frame, 0);
    if (frame < m_have - m_capacity) {
        m_error = describe(QStringLiteral("the stream cannot go back that far."));
        return false;
    }
    while (frame > m_have && fill()) {
    }
    m_position = std::min(frame, m_have);
    return true;
}

} // namespace ql::platform
