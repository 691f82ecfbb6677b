#include "platform/alsa/PcmHolders.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>

#include <unistd.h>

namespace ql::platform::alsa {

namespace {
bool isPid(const QString& name) {
    if (name.isEmpty() || name.size() > 10)
        return false;
    for (const QChar c : name)
        if (!c.isDigit())
            return false;
    return true;
}

QByteArray linkTarget(const QByteArray& path) {
    char buf[512];
    const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
    // A target that fills the buffer may be cut: it is not a PCM node.
    if (n <= 0 || n >= ssize_t(sizeof buf))
        return {};
    return QByteArray(buf, int(n));
}

// Processes come and go while we read, and other users' fd folders are closed
// to us: both simply list nothing.
bool fdFolderHolds(const QDir& fds, const QByteArray& wanted) {
    const QStringList links = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& fd : links)
        if (linkTarget(QFile::encodeName(fds.filePath(fd))) == wanted)
            return true;
    return false;
}
} // namespace

std::vector<int> pcmHolders(const QString& procRoot, const QString& node) {
    std::vector<int> pids;
    const QByteArray wanted = QFile::encodeName(node);
    const QDir root(procRoot);
    const QStringList entries = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (isPid(entry) &&
            fdFolderHolds(QDir(root.filePath(entry + QStringLiteral("/fd"))), wanted))
            pids.push_back(entry.toInt());
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool pidHolds(const QString& procRoot, int pid, const QString& node) {
    if (pid <= 0)
        return false;
    return fdFolderHolds(QDir(procRoot + QStringLiteral("/%1/fd").arg(pid)),
                         QFile::encodeName(node));
}

} // namespace ql::platform::alsa
