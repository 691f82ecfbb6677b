// Guards against: a catalog read on the worker that shows or saves the wrong
// catalog — an older reply overtaking a newer one, a reply compared with a
// catalog the window no longer shows, a quit that leaves an older cache, a
// failed write that goes unreported.
#include "app/App.h"
#include "app/JsonCodec.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableModel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "TestHome.h"

#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace ql;

namespace {

std::vector<Track> catalog(const QString& title, int count = 3) {
    std::vector<Track> rows;
    for (int i = 1; i <= count; ++i)
        rows.push_back(Track{i, "/음악/" + QString::number(i) + ".flac",
                             title + " " + QString::number(i), "가수", "앨범", 180, ""});
    return rows;
}

QByteArray listLine(const std::vector<Track>& tracks) {
    return *JsonCodec<Library>::encode(Library{tracks, false, {}}) + '\n';
}

enum Case { NewerReply, ImportMeanwhile, QuitWhileWriting, WriteFails };

} // namespace

Q_DECLARE_METATYPE(Case)

class CatalogWorkerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage("ko"); }

    void replies_data() {
        QTest::addColumn<Case>("step");
        QTest::addColumn<QString>("shown"); // the first title of the catalog at the end
        QTest::newRow("a newer reply while the first is read") << NewerReply << "셋째 1";
        QTest::newRow("an import while a reply is read") << ImportMeanwhile << "둘째 1";
        QTest::newRow("quit while the cache is written") << QuitWhileWriting << "둘째 1";
        QTest::newRow("the cache cannot be written") << WriteFails << "둘째 1";
    }
    void replies() {
        QFETCH(Case, step);
        QFETCH(QString, shown);
        QTemporaryDir storeDir;
        platform::Platform plat;
        App app(plat, test::fakeServices());
        app.core.store = JSONStore(storeDir.path());
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
        app.runCatalogInBackground();
        QStringList resets; // the first title of each list the table showed
        connect(app.views.tableModel, &QAbstractItemModel::modelReset, this, [&] {
            resets << (app.browser.filtered.empty() ? QString() : app.browser.filtered[0].title);
        });
        const auto firstTitle = [&] {
            return app.library.rows.empty() ? QString() : app.library.rows[0].title;
        };
        app.receive(listLine(catalog("첫째")));
        QTRY_COMPARE(firstTitle(), QString("첫째 1"));

        // The worker holds the next reply back until the test lets it go.
        QSemaphore go;
        std::atomic<int> started = 0;
        app.catalogWork().replyStarts = [&] {
            if (started++ == 0)
                go.acquire();
        };
        const int big = step == QuitWhileWriting ? 40000 : 3;
        app.receive(listLine(catalog("둘째", big)));
        QTRY_COMPARE(started.load(), 1);
        if (step == NewerReply)
            app.receive(listLine(catalog("셋째")));
        if (step == ImportMeanwhile) {
            app.library.rows = catalog("가져옴", 4);
            app.catalogReplaced();
        }
        if (step == WriteFails)
            QFile::setPermissions(storeDir.path(), QFile::ReadOwner | QFile::ExeOwner);
        go.release();

        if (step == ImportMeanwhile) {
            // The reply was compared with the catalog it replaced: dropped.
            QTRY_COMPARE(app.catalogWork().finish(5000), true);
            QCoreApplication::processEvents();
            QCOMPARE(firstTitle(), QString("가져옴 1"));
            // The next poll brings it again, now compared with the import.
            app.receive(listLine(catalog("둘째")));
        }
        QTRY_COMPARE(firstTitle(), shown);
        // The reply read while a newer one waited was never shown.
        QCOMPARE(resets.filter("둘째").isEmpty(), step == NewerReply);

        if (step == WriteFails) {
            QTRY_VERIFY(app.status->stringValue().startsWith("목록 저장 실패: "));
            QFile::setPermissions(storeDir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            return;
        }
        if (step == QuitWhileWriting)
            app.applicationWillTerminate();
        else
            QVERIFY(app.catalogWork().finish(5000));
        // The cache holds exactly the catalog shown last.
        QFile file(app.catalogURL());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(JsonCodec<std::vector<Track>>::decode(file.readAll()), app.library.rows);
    }
};

QL_TEST_MAIN(CatalogWorkerTest)
#include "CatalogWorkerTest.moc"
