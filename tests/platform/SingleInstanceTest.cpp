// Guards against: two instances running at once, or the instance socket in a shared folder.
#include "platform/SingleInstance.h"

#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace ql;
using platform::SingleInstance;

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    // What is at the socket's name decides whether we may take it over; file
    // names go only to, and come only from, our own user ("foreign": a peer
    // whose user check fails).
    void takingTheSocket_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("listens");
        QTest::newRow("nothing") << "nothing" << true;
        QTest::newRow("a stale socket file is replaced") << "stale" << true;
        QTest::newRow("our own live instance keeps it") << "own" << false;
        QTest::newRow("another user's socket is refused and replaced") << "foreign" << true;
        QTest::newRow("another user's client hands nothing over") << "foreign client" << true;
    }
    void takingTheSocket() {
        QFETCH(QString, before);
        QFETCH(bool, listens);
        QTemporaryDir dir;
        const QString name = dir.filePath("instance");
        QStringList oldGot, got;
        SingleInstance old(name), ours(name), client(name);
        old.onOpenFiles = [&oldGot](const QStringList& f) { oldGot << f; };
        ours.onOpenFiles = [&got](const QStringList& f) { got << f; };
        if (before == "stale")
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        if (before == "own" || before == "foreign")
            QVERIFY(old.listen());
        int refused = 0; // peers the distrusting instance looked at
        const auto distrust = [&refused](qint64) { return ++refused, false; };
        if (before.startsWith("foreign"))
            ours.trustsPeer = distrust;
        QCOMPARE(ours.handOver({"/m/secret.flac"}, 500), before == "own");
        QCOMPARE(ours.listen(), listens);
        if (before == "foreign")
            ours.trustsPeer = nullptr;

        // The instances share this thread: a hand-over only reaches the
        // kernel's queue, and the listener reads it once the event loop runs.
        const int refusedBefore = refused;
        QCOMPARE(client.handOver({"/m/a.flac"}, 2000), true);
        if (before == "own")
            QTRY_COMPARE(oldGot, (QStringList{"/m/secret.flac", "/m/a.flac"}));
        else if (before == "foreign client")
            QTRY_COMPARE(refused, refusedBefore + 1); // the client looked at, and let go
        else
            QTRY_COMPARE(got, QStringList{"/m/a.flac"});
        // Nothing else arrives: the other listener no longer has the name,
        // ours does not listen, or it dropped the client when it looked.
        if (before != "own")
            QCOMPARE(oldGot, QStringList{});
        if (before == "own" || before == "foreign client")
            QCOMPARE(got, QStringList{});
    }

    // Without a runtime folder the socket goes into a private folder of ours;
    // one that others may enter is not used.
    void theFallbackFolderIsPrivate() {
        qunsetenv("XDG_RUNTIME_DIR");
        const QString name = SingleInstance::defaultName();
        QVERIFY(name.startsWith(QDir::tempPath() + "/quavelark-"));
        const QString folder = QFileInfo(name).path();
        QCOMPARE(QFile::permissions(folder) & 0x0077, QFile::Permissions());
        QVERIFY(QFile::setPermissions(folder, QFile::Permissions(0x7777)));
        QCOMPARE(SingleInstance::defaultName(), QString());
    }

    // A temporary folder others (its group included) may write without the
    // sticky bit gets no folder of ours: another user could rename it away
    // and put theirs, with a socket of theirs, in its place.
    void noFallbackFolderWhereOthersMayRenameIt_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("made");
        QTest::newRow("open to all: none") << 0777 << false;
        QTest::newRow("open to its group: none") << 0770 << false;
        QTest::newRow("open to its group, read by all: none") << 0775 << false;
        QTest::newRow("sticky and open to all: made") << 01777 << true;
        QTest::newRow("read by all, written by us only: made") << 0755 << true;
    }
    void noFallbackFolderWhereOthersMayRenameIt() {
        QFETCH(int, mode);
        QFETCH(bool, made);
        qunsetenv("XDG_RUNTIME_DIR");
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(root.path()));
        QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), mode_t(mode)) == 0);
        const QString name = SingleInstance::defaultName();
        QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0700) == 0);
        qputenv("TMPDIR", oldTmp);
        const QString ours = QStringLiteral("quavelark-%1").arg(::getuid());
        QCOMPARE(name, made ? root.path() + u'/' + ours + QStringLiteral("/instance") : QString());
        QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 made ? QStringList{ours} : QStringList{});
    }
};

QL_TEST_MAIN_CORE(SingleInstanceTest)
#include "SingleInstanceTest.moc"
