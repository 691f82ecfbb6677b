// Guards against: (fixture) files written or read differently in each test.
// Whole-file reads and writes for tests that check what the program left on
// disk. Header only.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace ql::test {

// Child processes of this process named `name` (ffmpeg, say) that are
// still running, and given `argument` when one is named: their pids.
inline QList<qint64> childProcesses(const QString& name, const QByteArray& argument = {}) {
    QList<qint64> pids;
    const QByteArray comm = "(" + name.toUtf8() + ")";
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const bool running = fields.value(0) != "Z" && fields.value(0) != "X";
        if (!line.contains(comm) || !running ||
            fields.value(1).toLongLong() != QCoreApplication::applicationPid())
            continue;
        QFile command("/proc/" + entry + "/cmdline");
        if (argument.isEmpty() ||
            (command.open(QIODevice::ReadOnly) && command.readAll().split('\0').contains(argument)))
            pids << entry.toLongLong();
    }
    return pids;
}

// A path in the test's own temporary folder.
inline QString tempFile(const QString& name) {
    return QDir::temp().filePath(name);
}
// Full paths of the files named like `patterns` in the temporary folder and
// in any run folder under the program's work folders (cache, runtime and
// temporary bases, or loose in the temporary folder), where renders and
// decodes write.
inline QStringList ourFilePaths(const QStringList& patterns) {
    QStringList found;
    for (const QString& name : QDir::temp().entryList(patterns, QDir::Files))
        found << QDir::temp().filePath(name);
    QStringList bases{qEnvironmentVariable("XDG_CACHE_HOME") + "/Quavelark/work",
                      qEnvironmentVariable("XDG_RUNTIME_DIR") + "/Quavelark-work",
                      QDir::temp().filePath(QStringLiteral("quavelark-%1-work").arg(::getuid()))};
    // Run folders made loose in the temporary folder, for want of a private base.
    for (const QString& loose : QDir::temp().entryList(
             {QStringLiteral("quavelark-%1-run-*").arg(::getuid())}, QDir::Dirs | QDir::Hidden))
        bases << QDir::temp().filePath(loose);
    for (const QString& base : bases) {
        QDirIterator it(base, patterns, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
    }
    return found;
}
// Their names only.
inline QStringList ourFiles(const QStringList& patterns) {
    QStringList names;
    for (const QString& path : ourFilePaths(patterns))
        names << QFileInfo(path).fileName();
    return names;
}
// The effects render's files left behind.
inline QStringList fxFiles() {
    return ourFiles({"Quavelark-fx-*"});
}
inline void removeFxFiles() {
    for (const QString& path : ourFilePaths({"Quavelark-fx-*"}))
        QFile::remove(path);
}

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Replaces the file's content, making its folder first; false on failure.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A shell script made executable for its owner; false on failure.
inline bool writeExecutable(const QString& path, const QByteArray& body) {
    return writeFile(path, "#!/bin/sh\n" + body) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

} // namespace ql::test
