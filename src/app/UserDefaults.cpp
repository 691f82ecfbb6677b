#include "app/UserDefaults.h"

#include <QEvent>
#include <QFuture>
#include <QHash>
#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <limits>
#include <utility>

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

// The run's settings. QSettings asks itself to write at the next turn of the
// event loop after any change; here that request is held back and a timer,
// restarted by every change, writes once the burst is over.
//
// The timer's write runs on a pool thread: QSettings is reentrant, and
// objects on one file share its pending changes, so a second object there
// writes what this one holds while the main thread goes on. A write asked
// for at once (sync(), the quit, the end of the process) first waits for a
// write still running, then writes on the calling thread.
class RunSettings final : public QSettings {
public:
    RunSettings()
        : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quavelark"),
                    QStringLiteral("Quavelark")) {
        m_timer.setSingleShot(true);
        m_timer.setInterval(UserDefaults::kWriteDelayMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { write(true); });
    }
    ~RunSettings() override { write(false); }

    void changed() {
        m_dirty = true;
        m_timer.start();
    }
    // Values set with setLater(), made when read or written.
    QHash<QString, std::function<QVariant()>> later;
    void resolve(const QString& key) {
        if (const auto it = later.find(key); it != later.end()) {
            setValue(key, (*it)());
            later.erase(it);
        }
    }
    void resolveAll() {
        for (auto it = later.begin(); it != later.end(); ++it)
            setValue(it.key(), (*it)());
        later.clear();
    }

    void write(bool inBackground) {
        m_timer.stop();
        m_background.waitForFinished();
        resolveAll();
        const bool dirty = std::exchange(m_dirty, false);
        if (dirty)
            ++m_writes;
        if (dirty && standIn)
            standIn();
        else if (dirty && inBackground)
            m_background = QtConcurrent::run(
                [file = fileName()] { QSettings(file, QSettings::IniFormat).sync(); });
        else
            sync();
    }
    quint64 writes() const { return m_writes; }

    std::function<void()> standIn;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::UpdateRequest)
            return true; // the timer writes
        return QSettings::event(e);
    }

private:
    QTimer m_timer;
    QFuture<void> m_background;
    bool m_dirty = false;
    quint64 m_writes = 0;
};

RunSettings& runSettings() {
    // Made on first use and kept to the end of the process; it writes what
    // is still pending when it goes.
    static RunSettings settings;
    return settings;
}

} // namespace

UserDefaults::UserDefaults() : m_settings(&runSettings()) {}

UserDefaults::UserDefaults(const QString& iniFile)
    : m_own(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)), m_settings(m_own.get()) {}

UserDefaults::~UserDefaults() = default;

void UserDefaults::resolve(QAnyStringView key) const {
    if (!m_own && !runSettings().later.isEmpty())
        runSettings().resolve(key.toString());
}

bool UserDefaults::contains(QAnyStringView key) const {
    resolve(key);
    return m_settings->contains(key);
}

std::optional<bool> UserDefaults::boolIfPresent(QAnyStringView key) const {
    return contains(key) ? toBool(m_settings->value(key)) : std::nullopt;
}

std::optional<qint64> UserDefaults::integerIfPresent(QAnyStringView key) const {
    return contains(key) ? toInteger(m_settings->value(key)) : std::nullopt;
}

std::optional<int> UserDefaults::intIfPresent(QAnyStringView key) const {
    const auto n = integerIfPresent(key);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*n);
}

std::optional<double> UserDefaults::realIfPresent(QAnyStringView key) const {
    return contains(key) ? toDouble(m_settings->value(key)) : std::nullopt;
}

std::optional<QString> UserDefaults::string(QAnyStringView key) const {
    return contains(key) ? toText(m_settings->value(key)) : std::nullopt;
}

QVariant UserDefaults::value(QAnyStringView key) const {
    resolve(key);
    return m_settings->value(key);
}

void UserDefaults::changed() {
    if (!m_own)
        runSettings().changed();
}

void UserDefaults::set(QAnyStringView key, const QVariant& value) {
    if (!m_own)
        runSettings().later.remove(key.toString());
    m_settings->setValue(key, value);
    changed();
}

void UserDefaults::setLater(QAnyStringView key, std::function<QVariant()> make) {
    if (m_own) {
        set(key, make());
        return;
    }
    runSettings().later.insert(key.toString(), std::move(make));
    changed();
}

void UserDefaults::remove(QAnyStringView key) {
    if (!m_own)
        runSettings().later.remove(key.toString());
    m_settings->remove(key);
    changed();
}

void UserDefaults::clear() {
    if (!m_own)
        runSettings().later.clear();
    m_settings->clear();
    changed();
}

void UserDefaults::sync() {
    if (m_own)
        m_own->sync();
    else
        runSettings().write(false);
}

quint64 UserDefaults::fileWrites() {
    return runSettings().writes();
}

void UserDefaults::standInForWrites(std::function<void()> write) {
    runSettings().standIn = std::move(write);
}

QString UserDefaults::fileName() const {
    return m_settings->fileName();
}

} // namespace ql
