#include "app/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql {

namespace {
// Writes all of `bytes` to `fd`; the errno of the first failure, else 0. A
// write cut short (the limit reached mid-way) is followed by another, which
// then reports why.
int writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        left -= n;
    }
    return 0;
}

// The rename is on the disk only once the folder is; a failure here leaves
// the new file in place all the same, so it is not reported.
void syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
} // namespace

bool replaceFileChecked(const QString& path, const QByteArray& bytes, QString* error,
                        std::optional<unsigned> mode) {
    return replaceFileChecked(path, wholeContent(bytes), error, mode);
}

FilePieces wholeContent(const QByteArray& bytes) {
    return [bytes, given = false](QByteArray& piece) mutable {
        if (!std::exchange(given, true))
            piece = bytes;
        return true;
    };
}

bool replaceFileChecked(const QString& path, const FilePieces& next, QString* error,
                        std::optional<unsigned> mode) {
    const auto fail = [error](const QString& description) {
        if (error)
            *error = description;
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const int fd = file.handle();
    int err = fd < 0 ? EBADF : 0;
    if (!err && mode && ::fchmod(fd, mode_t(*mode)) != 0)
        err = errno;
    QByteArray piece;
    while (!err) {
        piece.clear();
        if (!next(piece))
            err = ECANCELED;
        else if (piece.isEmpty())
            break;
        else
            err = writeAll(fd, piece);
    }
    // A file system may only find out at this point that it has no room.
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (err) {
        file.cancelWriting();
        return fail(qt_error_string(err));
    }
    if (!file.commit())
        return fail(file.errorString());
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

bool makeFoldersPrivate(const QString& path) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !makeFoldersPrivate(parent))
        return false;
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return QFileInfo(clean).isDir();
}

} // namespace ql
