#include "downloader/ScriptFile.h"

#include "ui/l10n/L10n.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql {

namespace {

constexpr int kShownLines = 8;
constexpr int kShownWidth = 120;
constexpr qsizetype kHeadBytes = 8192; // enough for the lines shown

QString unreadable() {
    return L10n::tr(QStringLiteral("⚠ flac.py를 읽을 수 없어서 쓰지 않습니다: "));
}
QString tooLarge() {
    return L10n::tr(QStringLiteral("⚠ flac.py가 1 MiB보다 커서 쓰지 않습니다: "));
}

// Why the user's own script may not run, judged on the open file: only a
// regular file of this user, not writable by anyone else and not larger than
// a script is, runs in place of the shipped one.
QString unsafeReason(const struct stat& file) {
    if (!S_ISREG(file.st_mode))
        return L10n::tr(QStringLiteral("⚠ flac.py가 일반 파일이 아니라서 쓰지 않습니다: "));
    if (file.st_uid != ::getuid())
        return L10n::tr(QStringLiteral("⚠ flac.py가 내 파일이 아니라서 쓰지 않습니다: "));
    if (file.st_mode & (S_IWGRP | S_IWOTH))
        return L10n::tr(QStringLiteral("⚠ 다른 사용자가 고칠 수 있는 flac.py는 쓰지 않습니다: "));
    if (file.st_size > ScriptFile::kMaxBytes)
        return tooLarge();
    return {};
}

// Moves a descriptor that took one of the standard streams' numbers (the
// program started without them) above them: a child's own streams would take
// that number, and the script run would be one of them. -1 when it cannot.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// Writes all of `bytes` at the end of `fd`; false on any failure.
bool writeAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.sliced(n);
    }
    return true;
}

} // namespace

ScriptCopy copyBounded(int from, int to, qint64 limit, QCryptographicHash& hash, QByteArray& head) {
    char chunk[64 * 1024];
    qint64 total = 0;
    for (;;) {
        // Never more than one byte past the bound: a file still growing is
        // not read on to its end.
        const qint64 room = limit + 1 - total;
        const ssize_t n = ::read(from, chunk, size_t(qMin<qint64>(qint64(sizeof chunk), room)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ScriptCopy::Failed;
        if (n == 0)
            return ScriptCopy::Whole;
        total += n;
        if (total > limit)
            return ScriptCopy::TooLarge;
        const QByteArrayView bytes(chunk, n);
        if (!writeAll(to, bytes))
            return ScriptCopy::Failed;
        hash.addData(bytes);
        if (head.size() < kHeadBytes)
            head += bytes.first(qMin<qsizetype>(n, kHeadBytes - head.size()));
    }
}

ScriptFile::~ScriptFile() {
    for (const int fd : {m_fd, m_copy})
        if (fd >= 0)
            ::close(fd);
}

bool ScriptFile::open(const QString& path, QString& reason) {
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) {
        if (errno == ENOENT)
            return false;
        reason = errno == ELOOP ? L10n::tr(QStringLiteral("⚠ flac.py가 링크라서 쓰지 않습니다: "))
                                : unreadable();
        return true;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        reason = unreadable();
        return true;
    }
    reason = unsafeReason(info);
    if (reason.isEmpty())
        copyContents(reason);
    return true;
}

// Copies the file into a sealed memory file, hashing the bytes copied. A
// copy that is refused or fails is closed at once: nothing of it stays.
bool ScriptFile::copyContents(QString& reason) {
    m_copy = aboveStandardStreams(::memfd_create("flac.py", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray head;
    const ScriptCopy copied =
        m_copy < 0 ? ScriptCopy::Failed : copyBounded(m_fd, m_copy, kMaxBytes, hash, head);
    // From here on the copy can change no more, through any descriptor.
    if (copied == ScriptCopy::Whole &&
        ::fcntl(m_copy, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) ==
            0) {
        m_sha256 = hash.result().toHex();
        QStringList lines = QString::fromUtf8(head).split(u'\n').mid(0, kShownLines);
        for (QString& line : lines)
            if (line.size() > kShownWidth)
                line = line.left(kShownWidth) + u'…';
        m_firstLines = lines.join(u'\n');
        return true;
    }
    reason = copied == ScriptCopy::TooLarge ? tooLarge() : unreadable();
    if (m_copy >= 0)
        ::close(m_copy);
    m_copy = -1;
    return false;
}

} // namespace ql
