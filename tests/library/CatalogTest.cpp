// Guards against: a catalog view that shows stale, partial or lost tracks.
// Backend replies, written to the App's reply pipe as the backend writes them,
// and the catalog cache.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "FakeBackend.h"
#include "FakeServices.h"
#include "ReplyPipe.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

using namespace ql;
using test::FakeBackend;

Q_DECLARE_METATYPE(std::vector<ql::Track>)

namespace {

Track track(qint64 id, const QString& title, const QString& artist = "가수",
            const QString& art = "", double duration = 180) {
    return Track{id, "/음악/" + QString::number(id) + ".flac", title, artist, "앨범", duration,
                 art};
}

const std::vector<Track> kThree{track(1, "하나"), track(2, "둘"), track(3, "셋")};

QByteArray listLine(const std::vector<Track>& tracks, std::optional<bool> scanning = {},
                    std::optional<QString> error = {}) {
    return FakeBackend::line(Library{tracks, scanning, std::move(error)}).toUtf8();
}

QByteArray errorLine(const QString& error) {
    return FakeBackend::line(Library{{}, {}, error}).toUtf8();
}

// An App that has shown kThree, with a manual message holding the status line
// since the last instant, so a refilter (which shows the count as a held
// message) can be told from its absence.
struct Shown {
    QTemporaryDir storeDir;
    platform::Platform plat;
    std::unique_ptr<App> app;
    std::unique_ptr<test::ReplyPipe> backend;
    QList<Track> artLoads;
    qint64 now = 1'000'000;

    explicit Shown(const std::vector<Track>& shown = kThree) {
        app = std::make_unique<App>(plat, test::fakeServices());
        app->core.store = JSONStore(storeDir.path());
        app->status->setClock([this] { return now; });
        test::fakes(*app).analysers.loadArt = [this](const Track& t) { artLoads << t; };
        backend = std::make_unique<test::ReplyPipe>(*app);
        QVERIFY(backend->send(listLine(shown)));
        now += 10'000;
        app->status->setStringValue("잠시");
    }
    QString cache() const { return app->catalogURL(); }
    void removeCache() const { QFile::remove(cache()); }
    QStringList titles() const {
        QStringList t;
        for (const Track& r : app->library.rows)
            t << r.title;
        return t;
    }
};

} // namespace

class CatalogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage("ko"); }

    // A poll reply against the catalog shown: whether it is a change (cache
    // written, lists rebuilt, count shown as a held message).
    void pollReplies_data() {
        QTest::addColumn<std::vector<Track>>("reply");
        QTest::addColumn<bool>("changed");
        QTest::newRow("the same catalog") << kThree << false;
        QTest::newRow("only one duration differs")
            << std::vector<Track>{kThree[0], track(2, "둘", "가수", "", 181.5), kThree[2]} << false;
        QTest::newRow("two tracks swap places")
            << std::vector<Track>{kThree[1], kThree[0], kThree[2]} << true;
        QTest::newRow("text moved between title and artist, same joined text")
            << std::vector<Track>{kThree[0], kThree[1], track(3, "셋가", "수")} << true;
    }
    void pollReplies() {
        QFETCH(std::vector<Track>, reply);
        QFETCH(bool, changed);
        Shown s;
        s.removeCache();
        QVERIFY(s.backend->send(listLine(reply)));
        QCOMPARE(s.app->library.rows, reply); // durations included
        QCOMPARE(QFile::exists(s.cache()), changed);
        if (changed) {
            QCOMPARE(JsonCodec<std::vector<Track>>::decode(test::readFile(s.cache())), reply);
            QCOMPARE(s.app->browser.filtered, reply);
            QCOMPARE(s.app->status->stringValue(), QString("%1곡 / 전체 %1곡").arg(reply.size()));
        } else {
            QCOMPARE(s.app->status->stringValue(), QString("잠시"));
        }
    }

    void theSameBytesAgainAreNotDecodedAgain() {
        Shown s;
        QVERIFY(s.backend->send(listLine(kThree)));
        QVERIFY(s.app->library.lastReplyRepeated);
        QVERIFY(s.backend->send(listLine(kThree, true)));
        QVERIFY(!s.app->library.lastReplyRepeated);
    }

    // The catalog was changed by someone else (a file taken in) since the
    // backend last sent it: the same bytes again are a change back.
    void aRepeatedReplyStillReplacesRowsChangedMeanwhile() {
        Shown s;
        s.app->library.rows.push_back(track(9, "아홉"));
        s.removeCache();
        QVERIFY(s.backend->send(listLine(kThree)));
        QVERIFY(s.app->library.lastReplyRepeated);
        QCOMPARE(s.app->library.rows, kThree);
        QVERIFY(QFile::exists(s.cache()));
    }

    void theCurrentTrack_data() {
        QTest::addColumn<Track>("entry"); // the reply's entry for id 2
        QTest::addColumn<bool>("refreshed");
        QTest::newRow("title renamed") << track(2, "둘 (live)", "다른 가수") << true;
        QTest::newRow("cover address set") << track(2, "둘", "가수", "https://c/2.jpg") << true;
        QTest::newRow("artist alone renamed") << track(2, "둘", "다른 가수") << false;
        QTest::newRow("album, path and duration changed")
            << Track{2, "/새 폴더/2.flac", "둘", "가수", "다른 앨범", 99, ""} << false;
    }
    void theCurrentTrack() {
        QFETCH(Track, entry);
        QFETCH(bool, refreshed);
        Shown s;
        s.app->playback.current = kThree[1];
        s.app->views.titleLabel->setText("둘");
        s.app->views.artistLabel->setText("가수");
        QVERIFY(s.backend->send(listLine({kThree[0], entry, kThree[2]})));
        const Track shown = refreshed ? entry : kThree[1];
        QCOMPARE(*s.app->playback.current, shown);
        QCOMPARE(s.app->views.titleLabel->text(), shown.title);
        QCOMPARE(s.app->views.artistLabel->text(), shown.artist);
        QCOMPARE(s.artLoads, refreshed ? QList<Track>{entry} : QList<Track>{});
    }

    void aReplyWithoutTheCurrentTrackKeepsIt() {
        Shown s;
        s.app->playback.current = kThree[1];
        QVERIFY(s.backend->send(listLine({kThree[0]})));
        QCOMPARE(*s.app->playback.current, kThree[1]);
        QVERIFY(s.artLoads.isEmpty());
    }

    void theStatusLine_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<qint64>("after"); // ms since the held message
        QTest::addColumn<QString>("status");
        QTest::newRow("the backend's error wins over the tracks")
            << listLine(kThree, true, "음원 파일이 아닙니다: a.txt") << qint64(5000)
            << "음원 파일이 아닙니다: a.txt";
        QTest::newRow("the error is shown even within the hold")
            << errorLine("MusicBrainz에 연결할 수 없습니다.") << qint64(0)
            << "MusicBrainz에 연결할 수 없습니다.";
        QTest::newRow("an empty error is ignored")
            << listLine(kThree, false, "") << qint64(5000) << "3곡 / 전체 3곡";
    }
    void theStatusLine() {
        QFETCH(QByteArray, reply);
        QFETCH(qint64, after);
        QFETCH(QString, status);
        Shown s;
        s.now += after;
        QVERIFY(s.backend->send(reply));
        QCOMPARE(s.app->status->stringValue(), status);
        if (!reply.contains("tracks"))
            QCOMPARE(s.app->library.rows, kThree);
    }

    // A backend message in English: the sentence translated, a file name
    // after it kept as it is.
    void backendMessageInEnglish() {
        L10n::setLanguage("en");
        Shown s;
        QVERIFY(s.backend->send(errorLine("파일을 찾을 수 없습니다: 곡 목록.flac")));
        L10n::setLanguage("ko");
        QCOMPARE(s.app->status->stringValue(), QString("File not found: 곡 목록.flac"));
    }

    void aReadOnlyDataFolder() {
        Shown s;
        const QByteArray before = test::readFile(s.cache());
        QVERIFY(QFile::setPermissions(s.storeDir.path(), QFile::ReadOwner | QFile::ExeOwner));
        s.app->saveCatalog();
        const QString failed =
            "목록 저장 실패: 파일을 쓸 수 없습니다(권한 또는 디스크 공간 부족): " + s.cache();
        QCOMPARE(s.app->status->stringValue(), failed);

        // A reply's refilter count waits for the failure's turn to end; the
        // catalog still changes in memory, the file keeps what it had.
        const std::vector<Track> two{kThree[0], kThree[1]};
        QVERIFY(s.backend->send(listLine(two)));
        QCOMPARE(s.app->status->stringValue(), failed);
        s.now += StatusLabel::kHoldMs;
        s.app->status->showWaiting();
        QCOMPARE(s.app->status->stringValue(), QString("2곡 / 전체 2곡"));
        QCOMPARE(s.app->library.rows, two);
        QFile::setPermissions(s.storeDir.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(test::readFile(s.cache()), before);
    }

    // Replies while the backend is still scanning: a list shorter than the
    // catalog shown is not taken in (the cache, the chosen folder and the
    // stored order stay), and a chosen folder is forgotten only once the
    // scan has finished; until then a reply without it lists every folder.
    void scanningReplies_data() {
        const Track a{4, "/다른/4.flac", "넷", "가수", "앨범", 60, ""};
        const Track b{5, "/다른/5.flac", "다섯", "가수", "앨범", 60, ""};
        const Track c{6, "/다른/6.flac", "여섯", "가수", "앨범", 60, ""};
        QTest::addColumn<std::vector<Track>>("reply");
        QTest::addColumn<bool>("scanning");
        QTest::addColumn<bool>("takenIn");
        QTest::addColumn<bool>("folderKept");
        QTest::newRow("scanning, no tracks yet") << std::vector<Track>{} << true << false << true;
        QTest::newRow("scanning, fewer tracks") << std::vector<Track>{a} << true << false << true;
        QTest::newRow("scanning, as many tracks, none in the folder")
            << std::vector<Track>{a, b, c} << true << true << true;
        QTest::newRow("finished, fewer tracks, none in the folder")
            << std::vector<Track>{a} << false << true << false;
    }
    void scanningReplies() {
        QFETCH(std::vector<Track>, reply);
        QFETCH(bool, scanning);
        QFETCH(bool, takenIn);
        QFETCH(bool, folderKept);
        Shown s;
        QCOMPARE(s.app->browser.folderPaths.size(), 2);
        const QString folder = s.app->browser.folderPaths[1];
        s.app->browser.selectedFolder = folder;
        UserDefaults().set(keys::kSelectedFolder, folder);
        s.app->filter(false);
        const QVariant order = UserDefaults().value(keys::kVisibleTrackOrder);
        s.removeCache();
        s.now += 5000;

        QVERIFY(s.backend->send(listLine(reply, scanning)));
        QCOMPARE(s.app->library.rows, takenIn ? reply : kThree);
        QCOMPARE(QFile::exists(s.cache()), takenIn);
        QCOMPARE(UserDefaults().string(keys::kSelectedFolder).value_or(""),
                 folderKept ? folder : QString());
        QCOMPARE(s.app->browser.selectedFolder, folderKept ? folder : QString());
        // A folder the reply lacks lists as "all folders", as the pop-up says.
        if (takenIn)
            QCOMPARE(s.app->browser.filtered.size(), reply.size());
        if (!takenIn) {
            QCOMPARE(s.app->browser.filtered, kThree);
            QCOMPARE(UserDefaults().value(keys::kVisibleTrackOrder), order);
            QCOMPARE(s.app->status->stringValue(),
                     QString("3곡 / 전체 3곡 · 홈 폴더와 외장 디스크 검색 중…"));
        }
    }

    void restore_data() {
        QTest::addColumn<QByteArray>("file"); // "<none>": no file
        QTest::addColumn<std::vector<Track>>("rows");
        QTest::newRow("a good cache")
            << JsonCodec<std::vector<Track>>::encode(kThree).value_or("") << kThree;
        QTest::newRow("no cache") << QByteArray("<none>") << std::vector<Track>{};
        QTest::newRow("one entry without its album restores nothing")
            << QByteArray(
                   R"([{"id":1,"path":"/a","title":"a","artist":"","album":"","duration":1,"art":""},)"
                   R"({"id":2,"path":"/b","title":"b","artist":"","duration":1,"art":""}])")
            << std::vector<Track>{};
    }
    void restore() {
        QFETCH(QByteArray, file);
        QFETCH(std::vector<Track>, rows);
        QTemporaryDir dir;
        platform::Platform plat;
        App app(plat, test::fakeServices());
        app.core.store = JSONStore(dir.path());
        if (file != "<none>")
            QVERIFY(test::writeFile(app.catalogURL(), file));
        app.restoreCatalog();
        QCOMPARE(app.library.rows, rows);
        QCOMPARE(app.browser.filtered, rows);
        QCOMPARE(app.status->stringValue(),
                 rows.empty() ? QString("음원 불러오는 중…") : QString("3곡 / 전체 3곡"));
        // A damaged cache is not deleted.
        if (file != "<none>")
            QCOMPARE(test::readFile(app.catalogURL()), file);
    }
};

QL_TEST_MAIN(CatalogTest)
#include "CatalogTest.moc"
