// Guards against: (fixture) files written or read differently in each test.
// Whole-file reads and writes for tests that check what the program left on
// disk. Header only.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ql::test {

// A path in the test's own temporary folder.
inline QString tempFile(const QString& name) {
    return QDir::temp().filePath(name);
}
// The effects render's files left in the temporary folder.
inline QStringList fxFiles() {
    return QDir::temp().entryList({"Quavelark-fx-*"}, QDir::Files);
}
inline void removeFxFiles() {
    for (const QString& name : fxFiles())
        QFile::remove(tempFile(name));
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
