#include "platform/HomeLock.h"

#include "app/SafeWrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ql::platform {

HomeLock::HomeLock(const QString& dataFolder)
    : m_path(dataFolder + QStringLiteral("/instance.lock")) {
    retry();
}

HomeLock::~HomeLock() {
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

bool HomeLock::retry() {
    if (m_fd >= 0)
        return true;
    m_taken = false;
    if (!makeFoldersPrivate(QFileInfo(m_path).path())) {
        m_why = QStringLiteral("cannot make the folder %1").arg(QFileInfo(m_path).path());
        return false;
    }
    const int fd =
        ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_why = QStringLiteral("cannot open %1: %2").arg(m_path, qt_error_string(errno));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        m_taken = err == EWOULDBLOCK;
        m_why = err == EWOULDBLOCK
                    ? QStringLiteral("another Quavelark is running with the same home folder "
                                     "(it holds %1) and could not be reached")
                          .arg(m_path)
                    : QStringLiteral("cannot lock %1: %2").arg(m_path, qt_error_string(err));
        return false;
    }
    m_fd = fd;
    m_why.clear();
    return true;
}

} // namespace ql::platform
