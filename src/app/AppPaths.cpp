#include "app/AppPaths.h"

#include <QDir>
#include <QFileInfo>

namespace ql {

QString resourceDir() {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QDir bin = QFileInfo(exe).dir();
    const QString beside = bin.filePath(QStringLiteral("resources"));
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(bin.filePath(QStringLiteral("../share/quavelark")));
}

QString resourcePath(const QString& name) { return resourceDir() + QLatin1Char('/') + name; }

QString appSupportDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Quavelark");
}

} // namespace ql
