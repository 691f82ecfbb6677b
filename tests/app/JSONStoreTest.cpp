// Guards against: stores losing data: damage overwritten, read-only files changed, NaN written.
#include "app/JSONStore.h"
#include "app/Records.h"

#include "TestFiles.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <limits>

using namespace ql;
using test::readFile;
using test::writeFile;

namespace {
using Stats = QHash<QString, PlayStat>;

const QString kName = QStringLiteral("play-stats.json");

// The kept copies of a damaged store, by file name.
QStringList corruptCopies(const QString& dir, const QString& name) {
    const QRegularExpression pattern(QRegularExpression::escape(name) +
                                     QStringLiteral("\\.corrupt-\\d+(-\\d+)?"));
    QStringList found;
    for (const QString& f : QDir(dir).entryList(QDir::Files))
        if (pattern.match(f).hasMatch() && pattern.match(f).capturedLength() == f.size())
            found << f;
    return found;
}
} // namespace

class JSONStoreTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;

private slots:
    void firstSaveCreatesTheFolder() {
        const QString dir = m_tmp.path() + "/first/share/Quavelark";
        JSONStore store(dir);
        QVERIFY(!store.load<Stats>(kName));
        QVERIFY2(!QDir(dir).exists(), "a load must not create the folder");
        const Stats stats{{"/m/a.flac", {2, 1700000000.5}}};
        QVERIFY(store.save(kName, stats));
        QVERIFY(QFile::exists(dir + "/" + kName));
        QCOMPARE(store.load<Stats>(kName).value_or(Stats{}), stats);
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{kName});
        // Every folder the save made is the user's alone; one that was there
        // keeps its mode.
        for (const QString& made : {dir, m_tmp.path() + "/first/share", m_tmp.path() + "/first"})
            QCOMPARE(QFileInfo(made).permissions() & 0x0777,
                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    void emptyObjectLoadsAsAnEmptyDictionary() {
        JSONStore store(m_tmp.path() + "/empty");
        QVERIFY(writeFile(store.filePath(kName), "{}"));
        const auto loaded = store.load<Stats>(kName);
        QVERIFY(loaded.has_value());
        QVERIFY(loaded->isEmpty());
    }

    void damagedStoreIsKeptBeforeTheFirstSave_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("zero bytes") << QByteArray();
        QTest::newRow("one malformed entry")
            << QByteArray("{\"/a\":{\"plays\":4,\"last\":10},\"/b\":{\"plays\":1}}");
    }
    void damagedStoreIsKeptBeforeTheFirstSave() {
        QFETCH(QByteArray, content);
        JSONStore store(m_tmp.path() + "/damaged-" + QTest::currentDataTag());
        QVERIFY(writeFile(store.filePath(kName), content));

        QVERIFY(!store.load<Stats>(kName));
        QCOMPARE(readFile(store.filePath(kName)), content); // a load never touches the file

        const Stats fresh{{"/new.flac", {1, 5}}};
        QVERIFY(store.save(kName, fresh));
        const QStringList copies = corruptCopies(store.dir(), kName);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readFile(store.dir() + "/" + copies[0]), content);
        QCOMPARE(store.load<Stats>(kName).value_or(Stats{}), fresh);

        // Only the first save over the damaged file keeps a copy.
        QVERIFY(store.save(kName, Stats{{"/n2", {2, 6}}}));
        QCOMPARE(corruptCopies(store.dir(), kName).size(), 1);
    }

    void aSecondDamageKeepsASecondCopy() {
        JSONStore store(m_tmp.path() + "/twice");
        QVERIFY(writeFile(store.filePath(kName), "first damage"));
        QVERIFY(!store.load<Stats>(kName));
        QVERIFY(store.save(kName, Stats{}));
        QVERIFY(writeFile(store.filePath(kName), "second damage"));
        QVERIFY(!store.load<Stats>(kName));
        QVERIFY(store.save(kName, Stats{}));
        QStringList contents;
        for (const QString& f : corruptCopies(store.dir(), kName))
            contents << QString::fromLatin1(readFile(store.dir() + "/" + f));
        contents.sort();
        QCOMPARE(contents, (QStringList{"first damage", "second damage"}));
    }

    void anotherStoreOnTheSameFolderAlsoKeepsTheCopy() {
        const QString dir = m_tmp.path() + "/shared";
        QVERIFY(writeFile(dir + "/" + kName, "{oops"));
        QVERIFY(!JSONStore(dir).load<Stats>(kName));
        QVERIFY(JSONStore(dir).save(kName, Stats{}));
        QCOMPARE(corruptCopies(dir, kName).size(), 1);
    }

    // A missing file, one that loaded, and one mended outside the program
    // after a failed load are no damage to keep.
    void noCopyWithoutDamage_data() {
        QTest::addColumn<QByteArray>("before"); // loaded first; "" for no file
        QTest::addColumn<QByteArray>("after");  // then written and loaded; "" for none
        QTest::newRow("missing file") << QByteArray() << QByteArray();
        QTest::newRow("file that loaded")
            << QByteArray("{\"/a\":{\"plays\":1,\"last\":2}}") << QByteArray();
        QTest::newRow("damage mended before the save") << QByteArray("junk") << QByteArray("{}");
    }
    void noCopyWithoutDamage() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        JSONStore store(m_tmp.path() + "/healthy-" + QTest::currentDataTag());
        QDir().mkpath(store.dir());
        for (const QByteArray& content : {before, after}) {
            if (!content.isEmpty()) {
                QVERIFY(writeFile(store.filePath(kName), content));
                store.load<Stats>(kName);
            }
        }
        if (before.isEmpty())
            QVERIFY(!store.load<Stats>(kName));
        QVERIFY(store.save(kName, Stats{{"/a", {1, 1}}}));
        QCOMPARE(corruptCopies(store.dir(), kName), QStringList{});
    }

    void readOnlyFileKeepsItsContent_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("lockFolder"); // the folder read-only, not the file
        QTest::newRow("healthy store") << QByteArray("{\"/a\":{\"plays\":9,\"last\":1}}") << false;
        QTest::newRow("damaged store") << QByteArray("{") << false;
        QTest::newRow("healthy store in a read-only folder")
            << QByteArray("{\"/a\":{\"plays\":9,\"last\":1}}") << true;
    }
    void readOnlyFileKeepsItsContent() {
        QFETCH(QByteArray, content);
        QFETCH(bool, lockFolder);
        JSONStore store(m_tmp.path() + "/readonly-" + QTest::currentDataTag());
        const QString path = store.filePath(kName);
        QVERIFY(writeFile(path, content));
        store.load<Stats>(kName);
        const QString locked = lockFolder ? store.dir() : path;
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup |
                                                  QFile::ReadOther | QFile::ExeOwner));
        QVERIFY(!store.save(kName, Stats{{"/other", {1, 1}}}));
        QString error;
        QVERIFY(!store.writeBytes(kName, "{}", &error));
        QCOMPARE(error, QString("Permission denied"));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readFile(path), content);
        QCOMPARE(corruptCopies(store.dir(), kName), QStringList{});
    }

    void nonFiniteValueWritesNothing_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("over an existing store") << true;
        QTest::newRow("no store yet") << false;
    }
    void nonFiniteValueWritesNothing() {
        QFETCH(bool, existing);
        JSONStore store(m_tmp.path() + "/nan-" + QTest::currentDataTag());
        const QString name = QStringLiteral("loudness.json");
        const QHash<QString, double> good{{"/a", -14.0}};
        if (existing)
            QVERIFY(store.save(name, good));
        const QByteArray before = readFile(store.filePath(name));
        const QHash<QString, double> bad{{"/a", -14.0},
                                         {"/b", std::numeric_limits<double>::quiet_NaN()}};
        JSONStore::takeOutcomes();
        QVERIFY(!store.save(name, bad));
        QCOMPARE(readFile(store.filePath(name)), before);
        // Refused, not silently dropped: the failure reaches the status line.
        const std::vector<JSONStore::WriteOutcome> outcomes = JSONStore::takeOutcomes();
        QCOMPARE(outcomes.size(), size_t(1));
        QVERIFY(!outcomes.front().saved);
        QCOMPARE(outcomes.front().path, QFileInfo(store.filePath(name)).absoluteFilePath());
        if (existing)
            QCOMPARE((store.load<QHash<QString, double>>(name).value_or(QHash<QString, double>{})),
                     good);
    }

    void unreadableFolderFailsTheSave() {
        // A store whose folder is a file cannot be written; nothing claims success.
        QVERIFY(m_tmp.isValid()); // else the path would be at the root of the disk
        const QString blocker = m_tmp.path() + "/blocker";
        QVERIFY(writeFile(blocker, "not a folder"));
        JSONStore store(blocker + "/Quavelark");
        QVERIFY(!store.save(kName, Stats{}));
        QCOMPARE(readFile(blocker), QByteArray("not a folder"));
    }
};

QL_TEST_UNIT(JSONStoreTest)
#include "JSONStoreTest.moc"
