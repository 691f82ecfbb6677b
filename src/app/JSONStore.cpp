#include "app/JSONStore.h"

#include "app/LogCategories.h"
#include "app/SafeWrite.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QStringList>

#include <cerrno>
#include <utility>

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

// Write outcomes not yet taken by the program, in the order they happened:
// failures, and files saved again after one.
QMutex gFailuresLock;
std::vector<JSONStore::WriteOutcome> gFailures;
// Files whose last write failed: their next good write is an outcome too.
QSet<QString> gFailing;
// Failures already warned of in this run (path and cause): an owner that
// tries again on every change must not repeat the warning each time.
QSet<QString> gWarned;

// `reason`: the cause as the warning gives it, without a path (the
// description, which the status line shows, may name the folder).
void noteFailure(const QString& path, const QString& error, const QString& reason = {}) {
    bool first = false;
    {
        QMutexLocker lock(&gFailuresLock);
        gFailures.push_back({path, error, false});
        gFailing.insert(path);
        const QString cause = path + QLatin1Char('\n') + error;
        first = !gWarned.contains(cause);
        gWarned.insert(cause);
    }
    qCDebug(lcStore, "could not save %s: %s", qUtf8Printable(path), qUtf8Printable(error));
    if (first)
        qCWarning(lcStore, "could not save %s: %s", qUtf8Printable(QFileInfo(path).fileName()),
                  qUtf8Printable(reason.isEmpty() ? error : reason));
}

// A good write: told only when it follows a failure of the same file.
void noteWritten(const QString& path) {
    QMutexLocker lock(&gFailuresLock);
    if (gFailing.remove(path))
        gFailures.push_back({path, {}, true});
}

// Moves a damaged store aside under a name no other file has; the name of
// the copy, or nothing when it could not be moved.
std::optional<QString> keepAside(const QString& path) {
    const QString base =
        path + QStringLiteral(".corrupt-") + QString::number(QDateTime::currentSecsSinceEpoch());
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target)) {
        qCWarning(lcStore, "could not set aside the damaged %s",
                  qUtf8Printable(QFileInfo(path).fileName()));
        return std::nullopt;
    }
    qCWarning(lcStore, "set aside the damaged %s as %s", qUtf8Printable(QFileInfo(path).fileName()),
              qUtf8Printable(QFileInfo(target).fileName()));
    qCDebug(lcStore, "set aside %s as %s", qUtf8Printable(path), qUtf8Printable(target));
    return target;
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

void JSONStore::noteWriteFailure(const QString& name, const QString& error) const {
    noteFailure(QFileInfo(filePath(name)).absoluteFilePath(), error);
}

bool JSONStore::writeBytes(const QString& name, const QByteArray& bytes, QString* error,
                           std::optional<unsigned> mode) const {
    return writePieces(name, wholeContent(bytes), error, mode);
}

bool JSONStore::writePieces(const QString& name, const FilePieces& next, QString* error,
                            std::optional<unsigned> mode) const {
    const QString path = QFileInfo(filePath(name)).absoluteFilePath();
    const auto fail = [error, &path](const QString& description, const QString& reason = {}) {
        if (error)
            *error = description;
        noteFailure(path, description, reason);
        return false;
    };
    if (!makeFoldersPrivate(m_dir))
        return fail(QStringLiteral("Cannot create the folder %1").arg(m_dir),
                    QStringLiteral("cannot create its folder"));
    if (isReadOnly(QFileInfo(m_dir)))
        return fail(qt_error_string(EACCES));
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
    QString description;
    if (!replaceFileChecked(path, next, &description, mode))
        return fail(description);
    noteWritten(path);
    return true;
}

std::vector<JSONStore::SetAside> JSONStore::setAsideDamaged() const {
    std::vector<SetAside> moved;
    const QString folder = QFileInfo(m_dir).absoluteFilePath() + QLatin1Char('/');
    QStringList paths;
    {
        QMutexLocker lock(&gDamagedLock);
        for (const QString& path : std::as_const(gDamaged)) {
            if (path.startsWith(folder) && !path.mid(folder.size()).contains(QLatin1Char('/')))
                paths << path;
        }
    }
    paths.sort();
    for (const QString& path : std::as_const(paths)) {
        if (!QFileInfo::exists(path)) {
            takeDamaged(path);
            continue;
        }
        // Left listed when it cannot be moved: no save may write over it.
        if (const std::optional<QString> copy = keepAside(path)) {
            takeDamaged(path);
            moved.push_back({QFileInfo(path).fileName(), QFileInfo(*copy).fileName()});
        }
    }
    return moved;
}

std::vector<JSONStore::WriteOutcome> JSONStore::takeOutcomes() {
    QMutexLocker lock(&gFailuresLock);
    return std::exchange(gFailures, {});
}

} // namespace ql
