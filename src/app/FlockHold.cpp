#include "app/FlockHold.h"

#include <cerrno>

#include <sys/file.h>
#include <unistd.h>

namespace ql {

FlockHold::FlockHold(int fd, int operation) : m_fd(fd) {
    if (m_fd < 0)
        return;
    int done;
    while ((done = ::flock(m_fd, operation)) != 0 && errno == EINTR) {
    }
    if (done != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

FlockHold::~FlockHold() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace ql
