#include "app/FileStamp.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace ql {

qint64 FileStamp::modifiedMs() const {
    // Whole milliseconds before the moment, also before 1970.
    constexpr qint64 kNsPerMs = 1000000;
    return modifiedNs / kNsPerMs - (modifiedNs % kNsPerMs < 0 ? 1 : 0);
}

FileStamp fileStamp(const QString& path, const QString& currentDir) {
    if (path.isEmpty())
        return {};
    const QString absolute = QDir(currentDir).absoluteFilePath(path);
    struct stat st {};
    if (::stat(QFile::encodeName(absolute).constData(), &st) != 0)
        return {};
    return fileStamp(st);
}

FileStamp fileStamp(const struct stat& st) {
    constexpr qint64 kNsPerSecond = 1000000000;
    FileStamp stamp;
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * kNsPerSecond + qint64(st.st_mtim.tv_nsec);
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * kNsPerSecond + qint64(st.st_ctim.tv_nsec);
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    return stamp;
}

} // namespace ql
