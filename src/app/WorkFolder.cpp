#include "app/WorkFolder.h"

#include "app/FlockHold.h"
#include "app/PrivateFolder.h"
#include "app/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql {

namespace {

const QString kLockName = QStringLiteral(".lock");
const QString kMakingLock = QStringLiteral(".lock-new");
const QString kRunPrefix = QStringLiteral("run-");

// A run folder made straight in the shared temporary folder.
QString loosePrefix() {
    return QStringLiteral("quavelark-%1-run-").arg(::getuid());
}

// Opens (making it, mode 0600) the lock file `path`; -1 on failure. Never
// follows a link, and is not inherited by the programs we start: a decoder
// left running after a kill must not keep a dead run's folder alive.
int openLock(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                  0600);
}

enum class Run { Live, Ended, NoLock };

// The state of the lock file `path`: held (its run lives), free (ended) or
// missing. Our own live folders read as live too, as flock locks belong to
// each opening of the file.
Run lockState(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Run::NoLock : Run::Live;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free ? Run::Ended : Run::Live;
}

// Whether `folder`'s run lives. Its lock is made as kMakingLock and renamed
// to kLockName once held (makeRunFolder); a folder with neither was left
// between the two steps, or is being made right now.
Run runState(const QString& folder) {
    const Run run = lockState(folder + u'/' + kLockName);
    return run == Run::NoLock ? lockState(folder + u'/' + kMakingLock) : run;
}

// Removes the run folders named `prefix`* in `parent` whose run has ended.
// A folder without its lock file counts as ended only where the caller
// holds a lock that keeps runs from being made meanwhile.
int clearEnded(const QString& parent, const QString& prefix, bool noLockEnded) {
    int removed = 0;
    const QStringList names = QDir(parent).entryList(
        {prefix + u'*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QString folder = parent + u'/' + name;
        // Only real folders of ours: a link is never followed into.
        if (!isPrivateFolder(folder))
            continue;
        const Run run = runState(folder);
        if (run == Run::Live || (run == Run::NoLock && !noLockEnded))
            continue;
        if (QDir(folder).removeRecursively())
            ++removed;
    }
    return removed;
}

// Makes "<parent>/<prefix>XXXXXX" (mkdtemp: a name no one can foresee, mode
// 0700) with its lock held. The lock file is made and locked under another
// name and then renamed into place, so no clean-up ever finds the ".lock"
// of a live run free, not even one that holds no base lock.
std::optional<std::pair<QString, int>> makeRunFolder(const QString& parent, const QString& prefix) {
    QByteArray pattern = QFile::encodeName(parent + u'/' + prefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    const QString folder = QFile::decodeName(pattern);
    const QByteArray making = QFile::encodeName(folder + u'/' + kMakingLock);
    const int fd = openLock(QFile::decodeName(making));
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(making.constData(), QFile::encodeName(folder + u'/' + kLockName).constData()) !=
            0) {
        if (fd >= 0)
            ::close(fd);
        QDir(folder).removeRecursively();
        return std::nullopt;
    }
    return std::pair{folder, fd};
}

// The base `base`, made when missing; none when it cannot be private or
// could be renamed away under the run (makePrivateFolder): a base in a
// temporary folder others may write without the sticky bit is neither made
// nor used.
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

namespace {

// The folder `path` itself (a link is not followed), or none.
std::optional<struct stat> folderStat(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return st;
}

} // namespace

WorkFolder::WorkFolder(QString base, QString path, int lockFd, int cleared, bool loose)
    : m_base(std::move(base)), m_path(std::move(path)), m_lockFd(lockFd), m_cleared(cleared),
      m_loose(loose) {
    if (const std::optional<struct stat> st = folderStat(m_path)) {
        m_device = st->st_dev;
        m_inode = st->st_ino;
    }
}

WorkFolder::~WorkFolder() {
    if (intact())
        QDir(m_path).removeRecursively();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool WorkFolder::intact() const {
    const std::optional<struct stat> st = folderStat(m_path);
    return st && st->st_dev == m_device && st->st_ino == m_inode;
}

std::unique_ptr<WorkFolder> WorkFolder::open(const QStringList& bases, const QString& shared) {
    // Folders an earlier run made loose go whatever this run finds: the base
    // it could not make then may be usable now.
    const bool loose = holdsOurNames(shared);
    const int looseCleared = loose ? clearEnded(shared, loosePrefix(), false) : 0;
    for (const QString& candidate : bases) {
        const std::optional<QString> base = privateBase(candidate);
        if (!base)
            continue;
        // Held only briefly, so waited for.
        const FlockHold baseLock(openLock(*base + u'/' + kLockName), LOCK_EX);
        if (!baseLock.held())
            continue;
        const int cleared = clearEnded(*base, kRunPrefix, true);
        if (const auto made = makeRunFolder(*base, kRunPrefix))
            return std::unique_ptr<WorkFolder>(
                new WorkFolder(*base, made->first, made->second, cleared + looseCleared, false));
    }
    // No base can be private (a read-only cache, a runtime folder not ours,
    // the temporary base taken by another user or in a folder open to all):
    // a folder of the run's own, straight in the shared folder, under a name
    // no one can foresee.
    if (loose) {
        if (const auto made = makeRunFolder(shared, loosePrefix()))
            return std::unique_ptr<WorkFolder>(
                new WorkFolder(shared, made->first, made->second, looseCleared, true));
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
