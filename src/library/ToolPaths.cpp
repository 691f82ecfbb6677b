#include "library/ToolPaths.h"

#include "app/AppPaths.h"

#include <QFileInfo>

namespace ql {

namespace {

// The system's folders for programs, in the order of its search path.
const QStringList kSystemDirs{QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"),
                              QStringLiteral("/bin")};

QString join(const QString& dir, const QString& name) {
    return dir + QLatin1Char('/') + name;
}

} // namespace

ToolFolders ToolFolders::withResources(const QString& resources) {
    ToolFolders f;
    f.resources = resources;
    f.toolDirs = kSystemDirs;
    // Where apt puts the programs, and where the setup script installs them.
    f.toolFallbackDir = QStringLiteral("/usr/bin");
    f.pythonDirs = kSystemDirs;
    return f;
}

ToolFolders ToolFolders::standard() {
    return withResources(resourceDir());
}

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString toolPath(const QString& name, const ToolFolders& folders) {
    if (!folders.resources.isEmpty()) {
        const QString bundled = join(folders.resources, QStringLiteral("bin/") + name);
        if (isExecutableFile(bundled))
            return bundled;
    }
    for (const QString& dir : folders.toolDirs) {
        const QString candidate = join(dir, name);
        if (isExecutableFile(candidate))
            return candidate;
    }
    return join(folders.toolFallbackDir, name);
}

std::optional<QString> pythonPath(const ToolFolders& folders) {
    if (!folders.resources.isEmpty()) {
        for (const char* rel : {"python/bin/python3.12", "python/bin/python3"}) {
            const QString bundled = join(folders.resources, QString::fromLatin1(rel));
            if (isExecutableFile(bundled))
                return bundled;
        }
    }
    for (const QString& dir : folders.pythonDirs) {
        const QString candidate = join(dir, QStringLiteral("python3"));
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

QStringList missingTools(const ToolFolders& folders, const PythonCheck& backendRuns) {
    QStringList missing;
    const std::optional<QString> python = pythonPath(folders);
    if (!python || (backendRuns && !backendRuns(*python)))
        missing << QStringLiteral("Python 3");
    // The last answer of toolPath() is untested, so test what it returns.
    const bool ffmpeg = isExecutableFile(toolPath(QStringLiteral("ffmpeg"), folders));
    if (!ffmpeg || !isExecutableFile(toolPath(QStringLiteral("ffprobe"), folders)))
        missing << QStringLiteral("FFmpeg");
    return missing;
}

} // namespace ql
