#include "library/ToolPaths.h"

#include "app/AppPaths.h"

#include <QFileInfo>

namespace ql {

namespace {

// Appends the folders not already listed, keeping the first occurrence: the
// add-on folders and Debian's share "/usr/local/bin".
void appendUnique(QStringList& list, const QStringList& more) {
    for (const QString& dir : more)
        if (!list.contains(dir))
            list << dir;
}

const QStringList kDebianDirs{QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"),
                              QStringLiteral("/bin")};

// Python framework installs, newest first.
const QStringList kFrameworkVersions{QStringLiteral("3.14"), QStringLiteral("3.13"),
                                     QStringLiteral("3.12"), QStringLiteral("3.11"),
                                     QStringLiteral("3.10"), QStringLiteral("3.9")};

QString join(const QString& dir, const QString& name) {
    return dir + QLatin1Char('/') + name;
}

} // namespace

ToolFolders ToolFolders::withResources(const QString& resources) {
    ToolFolders f;
    f.resources = resources;
    appendUnique(f.toolDirs, {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
                              QStringLiteral("/opt/local/bin")});
    appendUnique(f.toolDirs, kDebianDirs);
    // Where apt puts the programs, and where the setup script installs them.
    f.toolFallbackDir = QStringLiteral("/usr/bin");

    appendUnique(f.pythonDirs,
                 {QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")});
    for (const QString& version : kFrameworkVersions)
        f.pythonDirs << QStringLiteral("/Library/Frameworks/Python.framework/Versions/") + version +
                            QStringLiteral("/bin");
    appendUnique(f.pythonDirs, kDebianDirs);
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
