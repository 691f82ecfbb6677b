#include "library/LineReader.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace ql {

namespace {
// At least this much is asked of each read: the pipe may hold more than it
// announced by the time the read runs.
constexpr qsizetype kMinRead = qsizetype(64) * 1024;
} // namespace

LineReader::LineReader(int fd, Hooks hooks, qsizetype maxLine)
    : m_fd(fd), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_hooks(std::move(hooks)),
      m_framer(maxLine) {
    // Reads never block: the thread waits in poll(), where a drain or the
    // destructor can reach it.
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

LineReader::~LineReader() {
    m_stop = true;
    const std::uint64_t one = 1;
    if (m_wake >= 0)
        (void)!write(m_wake, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    close(m_fd);
    if (m_wake >= 0)
        close(m_wake);
}

void LineReader::drain() {
    m_draining = true;
    const std::uint64_t one = 1;
    if (m_wake >= 0)
        (void)!write(m_wake, &one, sizeof one);
}

void LineReader::mute() {
    m_muted = true;
}

void LineReader::run() {
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        // Without its eventfd (none could be made) the reader still wakes
        // for a drain or a stop within a second.
        const int ready = poll(fds, m_wake >= 0 ? 2 : 1, m_wake >= 0 ? -1 : 1000);
        if (ready < 0 && errno != EINTR)
            return finish();
        if (m_stop)
            return;
        if (m_draining) {
            // The writer is gone: what it wrote is all in the pipe now.
            readAvailable();
            return finish();
        }
        if (ready > 0 && fds[0].revents != 0 && !readAvailable())
            return finish();
    }
}

bool LineReader::readAvailable() {
    bool open = true;
    for (;;) {
        if (m_framer.pendingBytes() == 0 && m_hooks.spare)
            if (std::optional<QByteArray> spare = m_hooks.spare())
                m_framer.reuse(std::move(*spare));
        int announced = 0;
        if (ioctl(m_fd, FIONREAD, &announced) < 0)
            announced = 0;
        ssize_t got = 0;
        m_framer.appendFrom(std::max<qsizetype>(announced, kMinRead),
                            [this, &got](char* into, qsizetype n) {
                                do
                                    got = ::read(m_fd, into, size_t(n));
                                while (got < 0 && errno == EINTR);
                                return qint64(got);
                            });
        if (got == 0 || (got < 0 && errno != EAGAIN))
            open = false;
        std::vector<Line> lines;
        while (const std::optional<FramedLine> line = m_framer.next())
            lines.push_back(line->tooLong ? Line{{}, true} : Line{m_framer.take(*line), false});
        m_pending = m_framer.pendingBytes();
        if (!lines.empty() && !m_muted && m_hooks.lines)
            m_hooks.lines(std::move(lines));
        if (got <= 0)
            return open;
    }
}

void LineReader::finish() {
    if (!m_muted && m_hooks.ended)
        m_hooks.ended();
}

} // namespace ql
