// Guards typed reads of stored settings against values no read can use, and settings
// saves against a temporary folder without room.
#include "app/UserDefaults.h"

#include "CaseRows.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QRect>
#include <QScopeGuard>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>

#include <limits>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace ql;

namespace {
// "-" stands for nothing in the expected columns.
template <class T> QString shown(const std::optional<T>& v) {
    if (!v)
        return QStringLiteral("-");
    if constexpr (std::is_same_v<T, QString>)
        return *v;
    else
        return QString::number(*v);
}

// What a stored value reads as under each typed read: the rows a hand-edited
// or damaged settings file can hold (not numbers, out of range, not finite).
struct Conversion {
    const char* name;
    QVariant stored;
    const char* asBool;
    const char* asInteger;
    const char* asDouble;
    const char* asText;
};

const std::vector<Conversion> kConversions{
    {"double NaN", std::numeric_limits<double>::quiet_NaN(), "-", "-", "-", "nan"},
    {"text 12 with blanks", " 12 ", "1", "12", "12", " 12 "},
    {"text with a comma decimal", "1,5", "-", "-", "-", "1,5"},
    {"text inf", "inf", "-", "-", "-", "inf"},
    {"text too big for 64 bits", "1e30", "1", "-", "1e+30", "1e30"},
    {"unsigned above the signed range", QVariant(quint64(1) << 63), "1", "-", "9.22337e+18",
     "9223372036854775808"},
    {"list", QStringList{"a", "b"}, "-", "-", "-", "a,b"},
};

// Values of every kind the program stores, for the settings text.
struct Stored {
    const char* name;
    QVariant value;
};

const std::vector<Stored> kStored{
    {"boolean", true},
    {"whole number", 9000000000LL},
    {"real", 0.37},
    {"text with commas, quotes and a leading @", QString(" @a,\"b\";c=d ")},
    {"Korean text", QString("전체 곡")},
    {"list of ids", QVariantList{qlonglong(5), qlonglong(-7), qlonglong(11)}},
    {"list of one id", QVariantList{qlonglong(5)}},
    {"empty list", QVariantList{}},
    {"list of texts", QStringList{"a,b", "c"}},
    {"bytes, not text", QByteArray("\x00\xff\x80 [x]", 8)},
    {"rectangle", QRect(10, -20, 300, 400)},
    {"size", QSize(640, 480)},
    {"nothing", QVariant()},
    {"empty text", QString()},
    {"list of one empty text", QStringList{QString()}},
    {"real with many digits", 0.1 + 0.2},
    {"false", false},
};

// Keys as the program or a hand edit may spell them, with a text value.
const std::vector<Stored> kKeys{
    {"with spaces", QString("a key with spaces")},    {"in a group", QString("Window/geometry")},
    {"in nested groups", QString("Outer/Inner/key")}, {"Korean", QString("키")},
    {"with = ; and \\", QString("a=b;c\\d")},         {"starting with @", QString("@key")},
};
// A temporary folder no file can be made in (a full /tmp acts the same).
struct BlockedTemp {
    const char* name;
    bool isFile;       // TMPDIR names a plain file
    mode_t folderMode; // else a folder with these permissions
};
const std::vector<BlockedTemp> kBlockedTemps{
    {"TMPDIR is a plain file", true, 0},
    {"TMPDIR is a folder without write permission", false, 0500},
};

// Files a killed settings write leaves beside the settings, and who may still
// be writing: the clean-up at launch removes only what no live write needs.
enum class Writer {
    None,        // nobody writes
    UnderWay,    // a write of ours holds the folder (any process)
    EarlierLive, // an earlier version's write holds QSettings' lock on AbC123
};
struct ScratchCase {
    const char* name;
    QStringList planted;
    Writer writer;
    QStringList kept;
    int removed;
};
const QString kScratch = QStringLiteral(".Quavelark-settings-AbC123.ini");
const QString kOther = QStringLiteral(".Quavelark-settings-DeF456.ini");
const std::vector<ScratchCase> kScratchCases{
    {"a killed write's scratch file goes", {kScratch}, Writer::None, {}, 1},
    {"with QSettings' lock and copy of a write killed a while ago",
     {kScratch, kScratch + ".lock", kScratch + ".Xy12Z3"},
     Writer::None,
     {},
     3},
    {"a write under way keeps every scratch file",
     {kScratch, kOther},
     Writer::UnderWay,
     {kScratch, kOther},
     0},
    {"an earlier version's write under way keeps its own",
     {kScratch, kOther},
     Writer::EarlierLive,
     {kScratch, kScratch + ".lock"},
     1},
    {"the settings and other files stay",
     {"Quavelark.ini", ".Quavelark-settings.ini", "Quavelark-settings-x.ini"},
     Writer::None,
     {"Quavelark-settings-x.ini", "Quavelark.ini", ".Quavelark-settings.ini"},
     0},
};

// Makes `path` look written `seconds` ago.
bool age(const QString& path, int seconds) {
    QFile f(path);
    return f.open(QIODevice::ReadWrite) &&
           f.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                         QFileDevice::FileModificationTime);
}

} // namespace

class UserDefaultsTest : public QObject {
    Q_OBJECT
    // The text settingsText() makes of `values` is what QSettings writes.
    void sameTextAsQSettings(const QMap<QString, QVariant>& values) {
        const std::optional<QByteArray> text = settingsText(values, m_tmp.path());
        QVERIFY(text);
        const QString path = m_tmp.path() + "/qsettings-own.ini";
        QFile::remove(path);
        {
            QSettings own(path, QSettings::IniFormat);
            for (auto it = values.begin(); it != values.end(); ++it)
                own.setValue(it.key(), it.value());
        }
        QCOMPARE(*text, test::readFile(path));
    }

    QTemporaryDir m_tmp;

private slots:
    void conversions_data() { test::addRows(kConversions); }
    void conversions() {
        const Conversion& c = test::currentCase(kConversions);
        QCOMPARE(shown(UserDefaults::toBool(c.stored)), QString(c.asBool));
        QCOMPARE(shown(UserDefaults::toInteger(c.stored)), QString(c.asInteger));
        QCOMPARE(shown(UserDefaults::toDouble(c.stored)), QString(c.asDouble));
        QCOMPARE(shown(UserDefaults::toText(c.stored)), QString(c.asText));
    }

    // The text the run's settings are written with is QSettings' own INI
    // text, byte for byte, so files read as before in both directions.
    void settingsTextIsQSettingsText_data() { test::addRows(kStored); }
    void settingsTextIsQSettingsText() {
        const Stored& row = test::currentCase(kStored);
        const QMap<QString, QVariant> values{{"a", row.value}, {"lang", "ko"}};
        sameTextAsQSettings(values);
    }

    // Keys of every spelling come out as QSettings itself writes them.
    void settingsTextKeysAreQSettingsKeys_data() { test::addRows(kKeys); }
    void settingsTextKeysAreQSettingsKeys() {
        const Stored& row = test::currentCase(kKeys);
        const QMap<QString, QVariant> values{
            {row.value.toString(), "v"}, {"General/x", 1}, {"lang", "ko"}};
        sameTextAsQSettings(values);
    }

    // The settings are saved with no room in the temporary folder, as long
    // as their own folder has room, and leave no scratch file behind.
    void savesWithoutTheTemporaryFolder_data() { test::addRows(kBlockedTemps); }
    void savesWithoutTheTemporaryFolder() {
        const BlockedTemp& row = test::currentCase(kBlockedTemps);
        const QString blocked = m_tmp.filePath(QString("blocked-%1").arg(row.isFile));
        if (row.isFile) {
            QVERIFY(test::writeFile(blocked, "not a folder"));
        } else {
            QVERIFY(QDir().mkpath(blocked));
            QVERIFY(QFile::setPermissions(blocked, QFileDevice::Permissions(0x5500)));
        }
        const QString token = QString("token-%1").arg(row.name).remove(' ');
        const QByteArray tmpdir = qgetenv("TMPDIR");
        bool saved = false;
        {
            const auto restore = qScopeGuard([&] { qputenv("TMPDIR", tmpdir); });
            qputenv("TMPDIR", blocked.toUtf8());
            UserDefaults defaults;
            defaults.set(keys::kRemoteToken, token);
            saved = defaults.sync();
        }
        QVERIFY(saved);
        const QString file = UserDefaults().fileName();
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(keys::kRemoteToken).toString(), token);
        QCOMPARE(QDir(QFileInfo(file).path())
                     .entryList({".Quavelark-settings*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void killedWritesAreClearedAtLaunch_data() { test::addRows(kScratchCases); }
    void killedWritesAreClearedAtLaunch() {
        const ScratchCase& c = test::currentCase(kScratchCases);
        const QString folder = m_tmp.filePath(QString("scratch-%1").arg(QTest::currentDataTag()));
        for (const QString& name : c.planted)
            QVERIFY(test::writeFile(folder + '/' + name, "remoteToken=secret\n"));
        if (c.planted.contains(kScratch + ".lock"))
            QVERIFY(age(folder + '/' + kScratch + ".lock", 120));
        int held = -1;
        std::optional<QLockFile> earlier;
        if (c.writer == Writer::UnderWay) {
            held = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
            QVERIFY(held >= 0 && ::flock(held, LOCK_SH) == 0);
        } else if (c.writer == Writer::EarlierLive) {
            earlier.emplace(folder + '/' + kScratch + ".lock");
            QVERIFY(earlier->tryLock(0));
        }
        const int removed = clearSettingsScratch(folder);
        if (held >= 0)
            ::close(held);
        QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        QStringList kept = c.kept;
        kept.sort();
        QCOMPARE(left, kept);
        QCOMPARE(removed, c.removed);
    }

    // A settings file as another program (or a hand edit) leaves it: every
    // value is text.
    void readsAFileWrittenElsewhere() {
        QVERIFY(m_tmp.isValid()); // else the path would be at the root of the disk
        const QString path = m_tmp.path() + "/written-elsewhere.conf";
        QVERIFY(test::writeFile(path, "[General]\n"
                                      "gapless=false\n"
                                      "smartMode=9000000000\n"
                                      "outputUID=\"hw:CARD=PCH,DEV=0\"\n"
                                      "lang=hw:CARD=PCH,DEV=1\n"
                                      "empty=\n"));
        UserDefaults d(path);
        QCOMPARE(d.boolIfPresent("gapless"), std::optional<bool>(false));
        QCOMPARE(d.integerIfPresent("smartMode"), std::optional<qint64>(9000000000));
        QCOMPARE(d.intIfPresent("smartMode"), std::nullopt); // beyond an int: not convertible
        // A comma, quoted or not, does not make the value a list.
        QCOMPARE(d.string("outputUID"), std::optional<QString>("hw:CARD=PCH,DEV=0"));
        QCOMPARE(d.string("lang"), std::optional<QString>("hw:CARD=PCH,DEV=1"));
        QVERIFY(d.contains("empty"));
        QCOMPARE(d.boolIfPresent("empty"), std::nullopt);
        QCOMPARE(d.boolean("empty"), false);
        QCOMPARE(d.boolIfPresent("absent"), std::nullopt);
    }
};

QL_TEST_UNIT(UserDefaultsTest)
#include "UserDefaultsTest.moc"
