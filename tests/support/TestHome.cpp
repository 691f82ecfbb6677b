// Guards against: (fixture) a test touching the real user's files.
#include "TestHome.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdlib>

namespace ql::test {

TestHome::TestHome() : m_dir(QDir::tempPath() + QStringLiteral("/ql-test-XXXXXX")) {
    // Without its folder (a full disk) the home would be "/home", the system's
    // own folders: stop before any test writes there.
    if (!m_dir.isValid())
        qFatal("cannot make the test home in %s", qPrintable(QDir::tempPath()));
    const QString root = m_dir.path();
    const auto set = [&root](const char* name, const char* sub) {
        const QString p = root + QLatin1Char('/') + QLatin1String(sub);
        QDir().mkpath(p);
        qputenv(name, QFile::encodeName(p));
    };
    set("HOME", "home");
    set("XDG_CONFIG_HOME", "home/.config");
    set("XDG_DATA_HOME", "home/.local/share");
    set("XDG_CACHE_HOME", "home/.cache");
    set("XDG_RUNTIME_DIR", "run");
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    set("TMPDIR", "tmp");
    QStandardPaths::setTestModeEnabled(true);
}

TestHome::~TestHome() = default;

QString TestHome::path() const { return m_dir.path(); }

QString TestHome::buildDir() {
    const QByteArray dir = qgetenv("QL_BUILD_DIR");
    return dir.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(dir);
}

} // namespace ql::test
