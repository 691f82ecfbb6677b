#include "app/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace ql {

bool isPrivateFolder(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

std::optional<QString> privateRuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime))
        return runtime;
    return std::nullopt;
}

bool holdsOurNames(const QString& folder) {
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // A member of the folder's group may rename our names away as well as
    // anyone: a folder writable by the group counts as one open to all.
    const bool owned = st.st_uid == ::getuid() || st.st_uid == 0;
    return owned && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0);
}

std::optional<QString> makePrivateFolder(const QString& path) {
    if (path.isEmpty() || !holdsOurNames(QFileInfo(QDir::cleanPath(path)).absolutePath()))
        return std::nullopt;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    if (!isPrivateFolder(path))
        return std::nullopt;
    return path;
}

} // namespace ql
