#include "app/WorkFolder.h"

#include "app/PrivateFolder.h"
#include "app/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql {

namespace {

const QString kLockName = QStringLiteral(".lock");
const QString kRunPrefix = QStringLiteral("run-");

// Opens (making it, mode 0600) the lock file `path`; -1 on failure. Never
// follows a link, and is not inherited by the programs we start: a decoder
// left running after a kill must not keep a dead run's folder alive.
int openLock(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                  0600);
}

// Holds the base folder's lock for its lifetime (blocking: held only briefly).
class BaseLock {
public:
    explicit BaseLock(const QString& base) : m_fd(openLock(base + u'/' + kLockName)) {
        if (m_fd < 0)
            return;
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~BaseLock() {
        if (m_fd >= 0)
            ::close(m_fd); // frees the lock
    }
    BaseLock(const BaseLock&) = delete;
    BaseLock& operator=(const BaseLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// True when `folder` belongs to a run that has ended: its lock file is
// missing or can be locked. Our own live folders read as live too, as flock
// locks belong to each opening of the file.
bool runEnded(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder + u'/' + kLockName).constData(),
                          O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

int clearLocked(const QString& base) {
    int removed = 0;
    const QStringList names = QDir(base).entryList(
        {kRunPrefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QString folder = base + u'/' + name;
        // Only real folders of ours: a link is never followed into.
        if (!isPrivateFolder(folder) || !runEnded(folder))
            continue;
        if (QDir(folder).removeRecursively())
            ++removed;
    }
    return removed;
}

std::optional<QString> privateBase(const QString& base) {
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        return std::nullopt;
    if (!makeFoldersPrivate(QFileInfo(base).path()))
        return std::nullopt;
    return makePrivateFolder(base);
}

} // namespace

QStringList workFolderBases() {
    QStringList bases;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache)) {
        const QString home = qEnvironmentVariable("HOME");
        cache = QDir::isAbsolutePath(home) ? home + QStringLiteral("/.cache") : QString();
    }
    if (!cache.isEmpty())
        bases << cache + QStringLiteral("/Quavelark/work");
    if (const std::optional<QString> runtime = privateRuntimeFolder())
        bases << *runtime + QStringLiteral("/Quavelark-work");
    const QString tmp = QDir::tempPath();
    if (QDir::isAbsolutePath(tmp))
        bases << tmp + QStringLiteral("/quavelark-%1-work").arg(::getuid());
    return bases;
}

WorkFolder::WorkFolder(QString base, QString path, int lockFd, int cleared)
    : m_base(std::move(base)), m_path(std::move(path)), m_lockFd(lockFd), m_cleared(cleared) {}

WorkFolder::~WorkFolder() {
    QDir(m_path).removeRecursively();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::unique_ptr<WorkFolder> WorkFolder::open(const QStringList& bases) {
    for (const QString& candidate : bases) {
        const std::optional<QString> base = privateBase(candidate);
        if (!base)
            continue;
        const BaseLock baseLock(*base);
        if (!baseLock.held())
            continue;
        const int cleared = clearLocked(*base);
        QByteArray pattern =
            QFile::encodeName(*base + u'/' + kRunPrefix + QStringLiteral("XXXXXX"));
        if (!::mkdtemp(pattern.data())) // mode 0700
            continue;
        const QString folder = QFile::decodeName(pattern);
        const int fd = openLock(folder + u'/' + kLockName);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (fd >= 0)
                ::close(fd);
            QDir(folder).removeRecursively();
            continue;
        }
        return std::unique_ptr<WorkFolder>(new WorkFolder(*base, folder, fd, cleared));
    }
    return nullptr;
}

bool reserveFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace ql
