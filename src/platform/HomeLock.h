// One program per home: an exclusive lock (flock) on "instance.lock" in the
// data folder, held while the object lives. The single-instance socket
// (SingleInstance.h) is keyed on the runtime folder, which two sessions of
// one user need not share; the lock is keyed on the files both would write.
// The descriptor is not inherited by child processes, so a backend left
// behind never keeps the home taken. Main thread; no event loop needed.
#pragma once

#include <QString>

namespace ql::platform {

class HomeLock final {
public:
    // Makes the folder (0700) when it is missing and tries the lock once,
    // without waiting.
    explicit HomeLock(const QString& dataFolder);
    ~HomeLock();
    HomeLock(const HomeLock&) = delete;
    HomeLock& operator=(const HomeLock&) = delete;

    bool held() const { return m_fd >= 0; }
    // Another process holds the lock. A lock that cannot be had for any
    // other reason (a folder that cannot be made, a file system without
    // flock) is not taken: the program then runs without it.
    bool taken() const { return m_taken; }
    // Tries again (another start may have just let go).
    bool retry();
    // Why the lock is not held, for standard error.
    const QString& why() const { return m_why; }
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
    bool m_taken = false;
    QString m_why;
};

} // namespace ql::platform
