#include "playback/InFlightFiles.h"

namespace ql {

bool InFlightFiles::add(const QString& path) {
    const QMutexLocker lock(&m_mutex);
    if (m_closed)
        return false;
    m_paths.insert(path);
    return true;
}

bool InFlightFiles::take(const QString& path) {
    const QMutexLocker lock(&m_mutex);
    return m_paths.remove(path);
}

QStringList InFlightFiles::close() {
    const QMutexLocker lock(&m_mutex);
    m_closed = true;
    const QStringList paths(m_paths.cbegin(), m_paths.cend());
    m_paths.clear();
    return paths;
}

bool InFlightFiles::isClosed() const {
    const QMutexLocker lock(&m_mutex);
    return m_closed;
}

} // namespace ql
