#include "platform/SingleInstance.h"

#include "TestHome.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

using namespace ql;
using platform::SingleInstance;

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    // What is at the socket's name before we listen decides whether we may
    // take it over; files reach us only from our own user.
    void takingTheSocket_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("listens");
        QTest::addColumn<bool>("oldKeepsIt");
        QTest::newRow("nothing") << "nothing" << true << false;
        QTest::newRow("a stale socket file is replaced") << "stale" << true << false;
        QTest::newRow("our own live instance keeps it") << "own" << false << true;
        QTest::newRow("another user's socket is refused and replaced")
            << "foreign" << true << false;
    }
    void takingTheSocket() {
        QFETCH(QString, before);
        QFETCH(bool, listens);
        QFETCH(bool, oldKeepsIt);
        QTemporaryDir dir;
        const QString name = dir.filePath("instance");
        QStringList oldGot;
        SingleInstance old(name);
        if (before == "stale")
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        if (before == "own" || before == "foreign") {
            QVERIFY(old.listen());
            old.onOpenFiles = [&oldGot](const QStringList& f) { oldGot << f; };
        }

        SingleInstance ours(name);
        QStringList got;
        ours.onOpenFiles = [&got](const QStringList& f) { got << f; };
        if (before == "foreign")
            ours.trustsPeer = [](qint64) { return false; };
        QCOMPARE(ours.handOver({"/m/secret.flac"}, 500), before == "own");
        QCOMPARE(ours.listen(), listens);
        ours.trustsPeer = nullptr;

        SingleInstance client(name);
        QVERIFY(client.handOver({"/m/a.flac"}, 2000));
        QTRY_COMPARE(oldKeepsIt ? oldGot.size() : got.size(), oldKeepsIt ? 2 : 1);
        QVERIFY(!oldGot.contains("/m/secret.flac") || before == "own");
    }

    void aPeerWeDoNotTrustHandsNothingOver() {
        QTemporaryDir dir;
        SingleInstance ours(dir.filePath("instance"));
        int calls = 0;
        ours.onOpenFiles = [&calls](const QStringList&) { ++calls; };
        ours.onReopen = [&calls] { ++calls; };
        ours.trustsPeer = [](qint64) { return false; };
        QVERIFY(ours.listen());
        QLocalSocket peer;
        peer.connectToServer(dir.filePath("instance"));
        QVERIFY(peer.waitForConnected(2000));
        peer.write("[\"/m/a.flac\"]\n");
        QVERIFY(peer.waitForBytesWritten(2000));
        QTRY_COMPARE(peer.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(calls, 0);
    }

    // Without a runtime folder the socket goes into a private folder of ours.
    void theFallbackFolderIsPrivate() {
        qunsetenv("XDG_RUNTIME_DIR");
        const QString name = SingleInstance::defaultName();
        QVERIFY(name.startsWith(QDir::tempPath() + "/quavelark-"));
        QFileInfo folder(QFileInfo(name).path());
        QCOMPARE(folder.permissions() & (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                         QFile::ExeOther | QFile::WriteOther | QFile::WriteGroup),
                 QFile::Permissions());
        // A folder others may enter is not used.
        QVERIFY(QFile::setPermissions(folder.filePath(), QFile::Permissions(0x7777)));
        QCOMPARE(SingleInstance::defaultName(), QString());
    }
};

QL_TEST_MAIN_CORE(SingleInstanceTest)
#include "SingleInstanceTest.moc"
