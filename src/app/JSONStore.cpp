#include "app/JSONStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

#include <cerrno>

namespace ql {

namespace {
// Absolute paths of store files that exist but did not load in this process.
QMutex gDamagedLock;
QSet<QString> gDamaged;

void setDamaged(const QString& path, bool damaged) {
    QMutexLocker lock(&gDamagedLock);
    if (damaged)
        gDamaged.insert(path);
    else
        gDamaged.remove(path);
}

bool takeDamaged(const QString& path) {
    QMutexLocker lock(&gDamagedLock);
    return gDamaged.remove(path);
}

// Moves a damaged store aside under a name no other file has.
bool keepAside(const QString& path) {
    const QString base =
        path + QStringLiteral(".corrupt-") + QString::number(QDateTime::currentSecsSinceEpoch());
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    return QFile::rename(path, target);
}

// Write permission by the file's mode bits: access(2) says yes to root even
// for a read-only file, which would let the atomic move replace it.
bool isReadOnly(const QFileInfo& info) {
    return !info.permission(QFile::WriteOwner) || !info.isWritable();
}
} // namespace

JSONStore::JSONStore(QString dir) : m_dir(std::move(dir)) {}

QString JSONStore::filePath(const QString& name) const {
    return m_dir + QLatin1Char('/') + name;
}

std::optional<QByteArray> JSONStore::readBytes(const QString& name) const {
    QFile file(filePath(name));
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        noteLoaded(name, false);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        noteLoaded(name, false);
        return std::nullopt;
    }
    return bytes;
}

void JSONStore::noteLoaded(const QString& name, bool decoded) const {
    setDamaged(QFileInfo(filePath(name)).absoluteFilePath(), !decoded);
}

bool JSONStore::writeBytes(const QString& name, const QByteArray& bytes, QString* error) const {
    const auto fail = [error](const QString& description) {
        if (error)
            *error = description;
        return false;
    };
    if (!QDir().mkpath(m_dir))
        return fail(QStringLiteral("Cannot create the folder %1").arg(m_dir));
    if (isReadOnly(QFileInfo(m_dir)))
        return fail(qt_error_string(EACCES));
    const QString path = QFileInfo(filePath(name)).absoluteFilePath();
    const QFileInfo existing(path);
    const bool damaged = takeDamaged(path);
    if (existing.exists()) {
        // A damaged file stays listed until it is safely moved aside, so no
        // later save can write over it either.
        if (isReadOnly(existing) || (damaged && !keepAside(path))) {
            if (damaged)
                setDamaged(path, true);
            return fail(qt_error_string(EACCES));
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString description = file.errorString();
        file.cancelWriting();
        return fail(description);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace ql
