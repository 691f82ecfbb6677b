// Guards against: (fixture) work-folder tests that each fake a machine without
// a private folder in their own way.
// An environment where no work base can be made private: the cache is a
// file, the runtime folder is open to others, and the temporary base is there
// already, open to others (as when another user made it). With `openTemp` the
// temporary folder itself is open to others without the sticky bit (mode
// `tempMode`: to all, or to its group), so that no run folder can be made
// anywhere. Undone by the destructor. Header only.
#pragma once

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace ql::test {

struct NoPrivateBase {
    explicit NoPrivateBase(bool openTemp = false, mode_t tempMode = 0777) {
        if (openTemp) {
            struct stat st {};
            ok = ok && ::stat(QFile::encodeName(QDir::tempPath()).constData(), &st) == 0 &&
                 ::chmod(QFile::encodeName(QDir::tempPath()).constData(), tempMode) == 0;
            if (ok)
                m_tempMode = st.st_mode & 07777;
        }
    }
    ~NoPrivateBase() {
        if (m_tempMode)
            ::chmod(QFile::encodeName(QDir::tempPath()).constData(), *m_tempMode);
        for (const auto& [name, value] : m_saved)
            value ? qputenv(name, *value) : qunsetenv(name);
        QFile::remove(blocker);
        QDir(runtime).removeRecursively();
        QDir(tmpBase).removeRecursively();
    }
    NoPrivateBase(const NoPrivateBase&) = delete;
    NoPrivateBase& operator=(const NoPrivateBase&) = delete;

    // For a program started with it.
    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("XDG_CACHE_HOME", blocker);
        e.insert("XDG_RUNTIME_DIR", runtime);
        return e;
    }
    // For this process, until the destructor.
    void applyHere() {
        for (const char* name : {"XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                           ? std::optional(qgetenv(name))
                                           : std::nullopt);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(blocker));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }

    QString blocker = QDir::temp().filePath("cache-file");
    QString runtime = QDir::temp().filePath("runtime-open");
    QString tmpBase = QDir::temp().filePath(QStringLiteral("quavelark-%1-work").arg(::getuid()));
    bool ok = writeFile(blocker, "a file") && QDir().mkpath(runtime) &&
              ::chmod(QFile::encodeName(runtime).constData(), 0755) == 0 &&
              QDir().mkpath(tmpBase) && ::chmod(QFile::encodeName(tmpBase).constData(), 0755) == 0;

private:
    std::optional<mode_t> m_tempMode;
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

} // namespace ql::test
