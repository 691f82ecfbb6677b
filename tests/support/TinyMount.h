// Guards against: (fixture) a full disk faked where the kernel would say otherwise.
// A file system with next to no room, mounted on a folder for the life of the
// object: a tmpfs of `kib` KiB, so that a program writing there meets
// "No space left on device" from the kernel, as on a user's full disk. Only
// root may mount; elsewhere `skip` says why and nothing is mounted. Header
// only.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ql::test {

class TinyMount {
public:
    TinyMount(const QString& path, int kib) : m_path(path) {
        if (::geteuid() != 0) {
            skip = QStringLiteral("mounting a small file system needs root");
            return;
        }
        // Made as the program makes it (0700), so that a later test finds
        // it as the program left it.
        QDir().mkpath(QFileInfo(path).path());
        m_made = ::mkdir(QFile::encodeName(path).constData(), 0700) == 0;
        const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0700";
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0,
                    options.constData()) != 0) {
            skip = QStringLiteral("cannot mount a tmpfs: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
    }
    ~TinyMount() {
        // Detached: a file still open there does not keep it.
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
        if (m_made)
            QDir(m_path).removeRecursively();
    }
    TinyMount(const TinyMount&) = delete;
    TinyMount& operator=(const TinyMount&) = delete;

    QString skip;

private:
    QString m_path;
    bool m_made = false;
    bool m_mounted = false;
};

} // namespace ql::test
