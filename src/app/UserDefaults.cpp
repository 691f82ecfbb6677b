#include "app/UserDefaults.h"

#include "app/FileStamp.h"
#include "app/FlockHold.h"
#include "app/JSONStore.h"
#include "app/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QLocale>
#include <QLockFile>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ql {

namespace {
std::optional<double> parseReal(const QString& text) {
    bool ok = false;
    const double d = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

// A finite double cut to a whole number, when it fits in 64 bits.
std::optional<qint64> truncated(double d) {
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (!std::isfinite(d) || !(d >= -kLimit && d < kLimit))
        return std::nullopt;
    return qint64(std::trunc(d));
}

bool isText(const QVariant& v) {
    const int id = v.typeId();
    return id == QMetaType::QString || id == QMetaType::QByteArray;
}

bool isWhole(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

bool isReal(const QVariant& v) {
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}
} // namespace

std::optional<bool> UserDefaults::toBool(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isText(v)) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("no"))
            return false;
    }
    if (const auto d = toDouble(v))
        return *d != 0.0;
    return std::nullopt;
}

std::optional<qint64> UserDefaults::toInteger(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (isWhole(v)) {
        if (v.typeId() == QMetaType::ULongLong || v.typeId() == QMetaType::ULong) {
            const qulonglong u = v.toULongLong();
            if (u > qulonglong(std::numeric_limits<qint64>::max()))
                return std::nullopt;
            return qint64(u);
        }
        return v.toLongLong();
    }
    if (isReal(v))
        return truncated(v.toDouble());
    if (isText(v)) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        if (const auto d = parseReal(v.toString()))
            return truncated(*d);
    }
    return std::nullopt;
}

std::optional<double> UserDefaults::toDouble(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    if (isWhole(v))
        return v.toDouble();
    if (isReal(v)) {
        const double d = v.toDouble();
        return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
    }
    if (isText(v))
        return parseReal(v.toString());
    return std::nullopt;
}

std::optional<QString> UserDefaults::toText(const QVariant& v) {
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    // An INI value with an unquoted comma comes back as a list.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    if (v.typeId() == QMetaType::Bool || isWhole(v) || isReal(v))
        return v.toString();
    return std::nullopt;
}

namespace {

// What a value reads back as from an INI file, in a form both sides share:
// the file keeps numbers and booleans as text and a list of one item as
// that item.
QVariant comparable(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return QString();
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList list = v.toList();
        if (list.isEmpty())
            return QString();
        if (list.size() == 1)
            return comparable(list.front());
        QVariantList items;
        for (const QVariant& item : list)
            items << comparable(item);
        return items;
    }
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double:
        return v.toString();
    default:
        return isWhole(v) ? QVariant(v.toString()) : v;
    }
}

// The names of a settings write's scratch files: its own, QSettings' lock
// beside it (".lock") and QSettings' own new copy (".XXXXXX").
const QString kScratchPrefix = QStringLiteral(".Quavelark-settings-");

// A lock on the folder itself (flock on a descriptor of the folder, so no
// file of its own is left there): shared by each settings write for as long
// as its scratch files exist, exclusive for the clean-up, which so never
// takes a file a live write needs, whichever process writes. Not held when
// the folder cannot be opened (a write then goes on without it) or, for the
// clean-up, when a write holds it.
int openFolder(const QString& folder) {
    return ::open(QFile::encodeName(folder).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

int clearSettingsScratch(const QString& folder) {
    const FlockHold lock(openFolder(folder), LOCK_EX | LOCK_NB);
    if (!lock.held())
        return 0; // a write is under way (or the folder is not there)
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({kScratchPrefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System);
    // A write of an earlier version of the program takes no folder lock; one
    // still running holds QSettings' lock on its scratch file ("<file>.lock",
    // held by a live process, or at most a minute old), and its files stay.
    QSet<QString> live;
    for (const QString& name : names) {
        if (!name.endsWith(QLatin1String(".lock")))
            continue;
        QLockFile qsettingsLock(dir.filePath(name));
        qsettingsLock.setStaleLockTime(60 * 1000);
        if (!qsettingsLock.tryLock(0))
            live.insert(name.chopped(5)); // the scratch file it guards
    }
    int removed = 0;
    for (const QString& name : names) {
        const bool kept = std::any_of(live.begin(), live.end(), [&name](const QString& scratch) {
            return name.startsWith(scratch);
        });
        if (kept)
            continue;
        // A stale lock is gone already: QLockFile took it over and let go.
        QFile::remove(dir.filePath(name));
        if (!QFileInfo::exists(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

std::optional<QByteArray> settingsText(const QMap<QString, QVariant>& values,
                                       const QString& scratchFolder, QString* error) {
    const auto fail = [error](const QString& description) -> std::optional<QByteArray> {
        if (error)
            *error = description;
        return std::nullopt;
    };
    // QSettings makes the text, in a scratch file of our own: its own write
    // can come out short without saying so, so the text counts only when it
    // reads back as every value given. Hidden, private (0600) and removed at
    // the end like the stores' own scratch files; what a killed write leaves
    // goes at the next start (clearSettingsScratch), never while we write.
    const FlockHold writing(openFolder(scratchFolder), LOCK_SH);
    QTemporaryFile scratch(scratchFolder + u'/' + kScratchPrefix + QStringLiteral("XXXXXX.ini"));
    if (!scratch.open())
        return fail(scratch.errorString());
    scratch.close();
    {
        QSettings out(scratch.fileName(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            out.setValue(it.key(), it.value());
        out.sync();
        if (out.status() != QSettings::NoError)
            return fail(QStringLiteral("The settings text could not be written"));
    }
    const QSettings back(scratch.fileName(), QSettings::IniFormat);
    bool whole = back.status() == QSettings::NoError && back.allKeys().size() == values.size();
    for (auto it = values.begin(); whole && it != values.end(); ++it)
        whole =
            back.contains(it.key()) && comparable(back.value(it.key())) == comparable(it.value());
    if (!whole)
        return fail(QStringLiteral("The settings text came out incomplete (no room left?)"));
    QFile file(scratch.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    return bytes;
}

namespace {

// The run's settings, held in memory: read from the file once, at the first
// use, and written whole through the checked path (never by QSettings' own
// sync, which can leave a short file in place of a good one).
//
// A timer, restarted by every change, writes once a burst is over, on a pool
// thread (the values are copied for it). A write asked for at once (sync(),
// the quit, the end of the process) first waits for a write still running,
// then writes on the calling thread. A failed write keeps the values dirty,
// so the next change or sync() tries again.
class RunSettings final : public QObject {
public:
    RunSettings() {
        const QSettings file(QSettings::IniFormat, QSettings::UserScope,
                             QStringLiteral("Quavelark"), QStringLiteral("Quavelark"));
        m_path = file.fileName();
        for (const QString& key : file.allKeys())
            values.insert(key, file.value(key));
        // A file that is there but does not read is kept aside, and told,
        // before the first write over it.
        if (file.status() != QSettings::NoError)
            store().noteLoaded(QFileInfo(m_path).fileName(), false);
        m_seen = fileStamp(m_path);
        m_timer.setSingleShot(true);
        m_timer.setInterval(UserDefaults::kWriteDelayMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { write(true); });
    }
    ~RunSettings() override { write(false); }

    JSONStore store() const { return JSONStore(QFileInfo(m_path).path()); }
    const QString& path() const { return m_path; }

    // A change of `key` (none: every key, as clear() does).
    void changed(const std::optional<QString>& key) {
        if (key)
            m_touched.insert(*key);
        else
            m_cleared = true;
        m_dirty = true;
        m_timer.start();
    }
    QMap<QString, QVariant> values;
    // Values set with setLater(), made when read or written.
    QHash<QString, std::function<QVariant()>> later;
    void resolve(const QString& key) {
        if (const auto it = later.find(key); it != later.end()) {
            values.insert(key, (*it)());
            later.erase(it);
        }
    }
    void resolveAll() {
        for (auto it = later.begin(); it != later.end(); ++it)
            values.insert(it.key(), (*it)());
        later.clear();
    }

    bool write(bool inBackground) {
        m_timer.stop();
        m_background.waitForFinished();
        resolveAll();
        // A write that failed is tried again with the next one; its keys
        // stay this run's own, so a file another program wrote meanwhile
        // does not take their place.
        const bool failedBefore = m_failed.fetchAndStoreRelaxed(0) != 0;
        if (failedBefore) {
            m_touched.unite(m_writing);
            m_cleared = m_cleared || m_writingCleared;
        }
        takeInOutsideChanges();
        if (!std::exchange(m_dirty, false) && !failedBefore)
            return true;
        ++m_writes;
        m_writing = std::exchange(m_touched, {});
        m_writingCleared = std::exchange(m_cleared, false);
        if (standIn) {
            standIn();
            return true;
        }
        const auto run = [this, values = values, store = store(),
                          name = QFileInfo(m_path).fileName()] {
            QString error;
            const QString folder = QFileInfo(m_path).path();
            std::optional<QByteArray> text;
            if (makeFoldersPrivate(folder))
                text = settingsText(values, folder, &error);
            else
                error = QStringLiteral("Cannot create the folder %1").arg(folder);
            if (!text)
                store.noteWriteFailure(name, error);
            if (!text || !store.writeBytes(name, *text, nullptr, 0600)) {
                m_failed.storeRelaxed(1);
                return;
            }
            const QMutexLocker lock(&m_seenLock);
            m_seen = fileStamp(m_path);
        };
        if (inBackground) {
            m_background = QtConcurrent::run(run);
            return true;
        }
        run();
        return m_failed.loadRelaxed() == 0;
    }
    quint64 writes() const { return m_writes; }

    std::function<void()> standIn;

private:
    // A file another program changed since it was last read or written
    // is taken in: its keys, except those this run changed since its last
    // write, which keep this run's values.
    void takeInOutsideChanges() {
        // A file replaced by another program (a hand edit, a test) reads
        // differently.
        const FileStamp now = fileStamp(m_path);
        {
            const QMutexLocker lock(&m_seenLock);
            if (!now.exists() || now == m_seen)
                return;
        }
        const QSettings file(m_path, QSettings::IniFormat);
        if (file.status() != QSettings::NoError)
            return;
        if (!m_cleared) {
            QMap<QString, QVariant> merged;
            for (const QString& key : file.allKeys())
                merged.insert(key, file.value(key));
            for (const QString& key : std::as_const(m_touched)) {
                if (values.contains(key))
                    merged.insert(key, values.value(key));
                else
                    merged.remove(key);
            }
            values = merged;
        }
        const QMutexLocker lock(&m_seenLock);
        m_seen = now;
    }

    QString m_path;
    QSet<QString> m_touched; // keys changed since the last write
    bool m_cleared = false;
    QSet<QString> m_writing; // m_touched of the last write, until it is known to have held
    bool m_writingCleared = false;
    QMutex m_seenLock;
    FileStamp m_seen; // when last read or written
    QTimer m_timer;
    QFuture<void> m_background;
    bool m_dirty = false;
    QAtomicInt m_failed{0};
    quint64 m_writes = 0;
};

RunSettings& runSettings() {
    // Made on first use and kept to the end of the process; it writes what
    // is still pending when it goes.
    static RunSettings settings;
    return settings;
}

} // namespace

UserDefaults::UserDefaults() {}

UserDefaults::UserDefaults(const QString& iniFile)
    : m_own(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

UserDefaults::~UserDefaults() = default;

void UserDefaults::resolve(QAnyStringView key) const {
    if (!m_own && !runSettings().later.isEmpty())
        runSettings().resolve(key.toString());
}

bool UserDefaults::contains(QAnyStringView key) const {
    resolve(key);
    return m_own ? m_own->contains(key) : runSettings().values.contains(key.toString());
}

std::optional<bool> UserDefaults::boolIfPresent(QAnyStringView key) const {
    return contains(key) ? toBool(value(key)) : std::nullopt;
}

std::optional<qint64> UserDefaults::integerIfPresent(QAnyStringView key) const {
    return contains(key) ? toInteger(value(key)) : std::nullopt;
}

std::optional<int> UserDefaults::intIfPresent(QAnyStringView key) const {
    const auto n = integerIfPresent(key);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*n);
}

std::optional<double> UserDefaults::realIfPresent(QAnyStringView key) const {
    return contains(key) ? toDouble(value(key)) : std::nullopt;
}

std::optional<QString> UserDefaults::string(QAnyStringView key) const {
    return contains(key) ? toText(value(key)) : std::nullopt;
}

QVariant UserDefaults::value(QAnyStringView key) const {
    resolve(key);
    return m_own ? m_own->value(key) : runSettings().values.value(key.toString());
}

void UserDefaults::changed(const std::optional<QString>& key) {
    if (!m_own)
        runSettings().changed(key);
}

void UserDefaults::set(QAnyStringView key, const QVariant& value) {
    if (m_own) {
        m_own->setValue(key, value);
        return;
    }
    runSettings().later.remove(key.toString());
    runSettings().values.insert(key.toString(), value);
    changed(key.toString());
}

void UserDefaults::setLater(QAnyStringView key, std::function<QVariant()> make) {
    if (m_own) {
        set(key, make());
        return;
    }
    runSettings().later.insert(key.toString(), std::move(make));
    changed(key.toString());
}

void UserDefaults::remove(QAnyStringView key) {
    if (m_own) {
        m_own->remove(key);
        return;
    }
    runSettings().later.remove(key.toString());
    runSettings().values.remove(key.toString());
    changed(key.toString());
}

void UserDefaults::clear() {
    if (m_own) {
        m_own->clear();
        return;
    }
    runSettings().later.clear();
    runSettings().values.clear();
    changed(std::nullopt);
}

bool UserDefaults::sync() {
    if (m_own) {
        m_own->sync();
        return m_own->status() == QSettings::NoError;
    }
    return runSettings().write(false);
}

quint64 UserDefaults::fileWrites() {
    return runSettings().writes();
}

void UserDefaults::standInForWrites(std::function<void()> write) {
    runSettings().standIn = std::move(write);
}

QString UserDefaults::fileName() const {
    return m_own ? m_own->fileName() : runSettings().path();
}

} // namespace ql
