// Guards against: lyrics from the wrong source, a stale answer kept, a wrong line lit or sought.
// The lyrics panel offscreen, its web service a fixture on 127.0.0.1, its
// files in the test's home; and on a controller, the button and the seek.
#include "listening/LyricsPanel.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimNowPlaying.h"
#include "ui/ClickableText.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "CaseRows.h"
#include "LocalHttpServer.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

using namespace ql;
using Reply = test::LocalHttpServer::Reply;

namespace {

const QString kNotFound = QStringLiteral("이 곡의 가사를 찾지 못했습니다.");
const QString kNoLyrics = QStringLiteral("이 곡에는 가사가 없습니다(연주곡일 수 있습니다).");

QString stores() {
    return QDir::temp().filePath(QStringLiteral("stores"));
}
QString cacheFile(qint64 id) {
    return stores() + QStringLiteral("/lyrics/%1.json").arg(id);
}
Track track(qint64 id, const QString& title = QStringLiteral("Song"), const QString& artist = {},
            const QString& album = {}, double duration = 200) {
    return Track{
        id, test::tempFile(QStringLiteral("t%1.flac").arg(id)), title, artist, album, duration, {}};
}
QString sidecar(qint64 id) {
    return test::tempFile(QStringLiteral("t%1.lrc").arg(id));
}

// A panel whose service is the fixture, in a fresh stores' folder.
struct Rig {
    test::LocalHttpServer server;
    std::unique_ptr<LyricsPanel> panel;
    explicit Rig(const QList<std::pair<QString, Reply>>& routes = {}) {
        QDir(stores()).removeRecursively();
        for (const QString& f : QDir::temp().entryList({"t*.lrc"}, QDir::System | QDir::Files))
            QFile::remove(test::tempFile(f));
        server.listen();
        for (const auto& [path, reply] : routes)
            server.route(path, reply);
        panel = std::make_unique<LyricsPanel>(stores(), server.url({}));
    }
    QString shown() const { return panel->text->toPlainText(); }
    // The request targets, in order.
    QStringList targets() const {
        QStringList out;
        for (const QByteArray& head : server.requests())
            out << QString::fromUtf8(head.split(' ').value(1));
        return out;
    }
};

Reply json(const QByteArray& body, int status = 200) {
    return Reply{status, body, {}, Reply::Mode::Normal};
}

struct QueryCase {
    const char* name;
    Track track;
    QString get, search;
};

const std::vector<QueryCase> kQueries = {
    {"artist from the title", track(1, "Band - Song (Live)", "", "Best Of", 215.9),
     "/api/get?artist_name=Band&track_name=Song&album_name=Best%20Of&duration=215",
     "/api/search?q=Band%20Song"},
    {"artist keeps the title whole", track(1, "Intro - Take 2", "Band", "", 10),
     "/api/get?artist_name=Band&track_name=Intro%20-%20Take%202&album_name=&duration=10",
     "/api/search?q=Band%20Intro%20-%20Take%202"},
    {"title starting with a bracket", track(1, "(Live) Song", "Band", "", qInf()),
     "/api/get?artist_name=Band&track_name=&album_name=&duration=0", "/api/search?q=Band%20"},
    {"no artist, no separator", track(1, "Song", "", "", 1e300),
     "/api/get?artist_name=&track_name=Song&album_name=&duration=9223372036854775807",
     "/api/search?q=%20Song"},
    {"reserved characters", track(1, "C++", "Simon & Garfunkel", "", -3),
     "/api/get?artist_name=Simon%20%26%20Garfunkel&track_name=C%2B%2B&album_name=&duration=0",
     "/api/search?q=Simon%20%26%20Garfunkel%20C%2B%2B"},
    {"Korean", track(1, "밤편지", "아이유", "", 253.2),
     "/api/get?artist_name=%EC%95%84%EC%9D%B4%EC%9C%A0&track_name=%EB%B0%A4%ED%8E%B8%EC%A7%80"
     "&album_name=&duration=253",
     "/api/search?q=%EC%95%84%EC%9D%B4%EC%9C%A0%20%EB%B0%A4%ED%8E%B8%EC%A7%80"},
};

struct SourceCase {
    const char* name;
    QByteArray cache, lrc; // written when not null
    Reply get, search;
    bool stopBeforeSecond; // the second load runs with the fixture gone
    QString shown;         // after each of two loads
    QByteArray stored;     // the cache file after them (empty: none)
    int requests;          // over both loads
};

const QByteArray kOne = R"({"synced":"[00:01]One","plain":"One"})";
const Reply kOneAnswer = json(R"({"syncedLyrics":"[00:01]One","plainLyrics":"One","id":7})");
// clang-format off
const std::vector<SourceCase> kSources = {
    {"found answer stored, read back offline", {}, {}, kOneAnswer, {}, true, "One\n", kOne, 1},
    {"cache beats sidecar", kOne, "[00:01]Side", {}, {}, false, "One\n", kOne, 0},
    {"sidecar without tags", {}, "just words", {}, {}, false, kNoLyrics, {}, 0},
    {"invalid UTF-8 sidecar goes to the web", {}, "\xff[00:02]x", kOneAnswer, {}, false, "One\n",
     kOne, 1},
    {"cache without plain is unreadable", R"({"synced":"[00:01]Old"})", "[00:01]Side\r\n", {}, {},
     false, "Side\n", R"({"synced":"[00:01]Old"})", 0},
    {"failed look-up stores nothing, asks again", {}, {}, json("{}", 404), json("[]", 500), false,
     kNotFound, {}, 4},
    {"untimed first answer, empty search", {}, {}, json(R"({"plainLyrics":"p"})"), json("[]"),
     false, kNotFound, {}, 4},
    {"untimed search result as plain text", {}, {}, json("{}", 404),
     json(R"([{"plainLyrics":"Words","syncedLyrics":null}])"), false, "Words",
     R"({"synced":"","plain":"Words"})", 2},
};
// clang-format on

// Thirty lines, 5 s apart from 5 s on.
QByteArray thirtyLines() {
    QByteArray lrc = "[ti:Thirty]\n";
    for (int i = 1; i <= 30; ++i)
        lrc += QString::asprintf("[%02d:%02d.00]Line %d\n", 5 * i / 60, 5 * i % 60, i).toUtf8();
    return lrc;
}

// What the panel shows of its highlight: the lit line, the look of a line
// before it, of it and after it, and whether the view scrolled.
QString highlight(const LyricsPanel& p) {
    const auto look = [&p](int line) {
        if (line < 0 || line >= int(p.lines.size()))
            return QStringLiteral("-");
        const QTextCharFormat f =
            p.text->document()->findBlockByNumber(line).begin().fragment().charFormat();
        const QColor c = f.foreground().color();
        const char* colour = c == Theme::accent() ? "accent"
                             : c == Theme::dim()  ? "dim"
                             : c == Theme::sub()  ? "sub"
                                                  : "other";
        return QStringLiteral("%1px%2 %3")
            .arg(f.font().pixelSize())
            .arg(f.font().bold() ? " bold" : "", colour);
    };
    const int a = p.active;
    return QStringLiteral("active %1: %2 / %3 / %4, %5")
        .arg(a)
        .arg(look(a - 1), look(a < 0 ? 0 : a), look(a + 1))
        .arg(p.text->verticalScrollBar()->value() > 0 ? "scrolled" : "top");
}

// A press on the text view at the character position, or below the text.
void press(ClickableText* view, int position) {
    QPoint at(view->viewport()->width() / 2, view->viewport()->height() - 4);
    if (position >= 0) {
        QTextCursor c(view->document());
        c.setPosition(position);
        at = view->cursorRect(c).center();
    }
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class LyricsPanelTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage("ko"); }

    void queries_data() { test::addRows(kQueries); }
    void queries() {
        const QueryCase& c = test::currentCase(kQueries);
        Rig r;
        r.panel->toggle();
        r.panel->setTrack(c.track);
        QTRY_COMPARE_WITH_TIMEOUT(r.shown(), kNotFound, ql::test::kOutcomeMs);
        QCOMPARE(r.targets(), QStringList({c.get, c.search}));
    }

    void sources_data() { test::addRows(kSources); }
    void sources() {
        const SourceCase& c = test::currentCase(kSources);
        Rig r({{"/api/get", c.get}, {"/api/search", c.search}});
        if (!c.cache.isNull())
            QVERIFY(test::writeFile(cacheFile(1), c.cache));
        if (!c.lrc.isNull())
            QVERIFY(test::writeFile(sidecar(1), c.lrc));
        r.panel->toggle();
        r.panel->setTrack(track(1));
        QTRY_COMPARE_WITH_TIMEOUT(r.shown(), c.shown, ql::test::kOutcomeMs);
        if (c.stopBeforeSecond)
            r.server.close();
        r.panel->setTrack(track(1));
        QTRY_COMPARE_WITH_TIMEOUT(r.shown(), c.shown, ql::test::kOutcomeMs);
        QCOMPARE(test::readFile(cacheFile(1)), c.stored.isEmpty() ? "<missing>" : c.stored);
        QCOMPARE(r.server.requests().size(), c.requests);
    }

    // A service that drips a byte every 5 s never ends its answers: the look-up
    // still gives up as a failed one, keeps nothing, and the next load asks anew.
    void drippingService() {
        const Reply drip{200, {}, {}, Reply::Mode::Drip};
        Rig r({{"/api/get", drip}, {"/api/search", drip}});
        r.panel->toggle();
        r.panel->setTrack(track(1));
        QTRY_COMPARE_WITH_TIMEOUT(r.shown(), kNotFound, 20'000);
        QCOMPARE(r.server.requests().size(), 2);
        QVERIFY(!QFile::exists(cacheFile(1)));
        r.panel->setTrack(track(1));
        QTRY_COMPARE_WITH_TIMEOUT(r.server.requests().size(), 3, ql::test::kOutcomeMs);
        QCOMPARE(r.shown(), QStringLiteral("가사 찾는 중…"));
    }

    // An answer for a track the panel has left neither shows nor is stored.
    void staleAnswer() {
        Rig r({{"/api/get", json(R"({"syncedLyrics":"[00:01]Web","plainLyrics":""})")}});
        QVERIFY(test::writeFile(sidecar(2), "[00:01]Side"));
        r.panel->toggle();
        r.panel->setTrack(track(1));
        r.panel->setTrack(track(2));
        QTRY_COMPARE_WITH_TIMEOUT(r.server.requests().size(), 1, ql::test::kOutcomeMs);
        QTest::qWait(300);
        QCOMPARE(r.shown(), QStringLiteral("Side\n"));
        QVERIFY(!QFile::exists(cacheFile(1)));
    }

    // A pipe named like a sidecar would block the window forever if read.
    void pipeSidecar() {
        Rig r;
        QCOMPARE(QProcess::execute("mkfifo", {sidecar(1)}), 0);
        r.panel->toggle();
        r.panel->setTrack(track(1));
        QTRY_COMPARE_WITH_TIMEOUT(r.shown(), kNotFound, ql::test::kOutcomeMs);
        QCOMPARE(r.server.requests().size(), 2);
    }

    void following_data() {
        QTest::addColumn<QList<double>>("positions");
        QTest::addColumn<QString>("seen");
        QTest::newRow("before the first line")
            << QList<double>{0, 4.8} << "active -1: - / 15px sub / 15px sub, top";
        QTest::newRow("9.9 s lights the 10 s line")
            << QList<double>{9.9} << "active 1: 15px dim / 20px bold accent / 15px sub, top";
        QTest::newRow("9.8 s keeps the line before")
            << QList<double>{9.9, 9.8} << "active 0: - / 20px bold accent / 15px sub, top";
        QTest::newRow("a seek back restyles the lines between")
            << QList<double>{149.9, 9.9}
            << "active 1: 15px dim / 20px bold accent / 15px sub, scrolled";
        QTest::newRow("a late line scrolls into view")
            << QList<double>{149.9} << "active 29: 15px dim / 20px bold accent / -, scrolled";
    }
    void following() {
        QFETCH(QList<double>, positions);
        QFETCH(QString, seen);
        Rig r;
        QVERIFY(test::writeFile(sidecar(1), thirtyLines()));
        r.panel->toggle();
        r.panel->setTrack(track(1));
        for (double p : positions)
            r.panel->update(p);
        QCOMPARE(highlight(*r.panel), seen);
    }

    void clicks_data() {
        QTest::addColumn<QByteArray>("lrc");
        QTest::addColumn<int>("position"); // -1: below the text
        QTest::addColumn<QList<double>>("sought");
        const QByteArray three = "[00:05]A\n[00:10]Bee\n[00:15]C\n";
        QTest::newRow("inside a line") << three << 3 << QList<double>{10};
        QTest::newRow("on its line break") << three << 5 << QList<double>{10};
        QTest::newRow("below the last line") << three << -1 << QList<double>{15};
        QTest::newRow("on a message") << QByteArray("words") << 2 << QList<double>{};
        QTest::newRow("on plain text") << QByteArray() << 2 << QList<double>{};
    }
    void clicks() {
        QFETCH(QByteArray, lrc);
        QFETCH(int, position);
        QFETCH(QList<double>, sought);
        Rig r;
        QList<double> seeks;
        r.panel->onSeek = [&seeks](double t) { seeks << t; };
        r.panel->toggle();
        if (lrc.isNull())
            r.panel->apply(LyricsData{{}, "Plain words"});
        else
            r.panel->apply(LyricsData{QString::fromUtf8(lrc), {}});
        press(r.panel->text, position);
        QCOMPARE(seeks, sought);
    }

    // Steps: a digit follows that track, "show"/"hide" toggle the panel.
    void showing_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("seen"); // loads so far, then the title
        QTest::newRow("no track ever played") << "show"
                                              << "0 가사";
        QTest::newRow("shown again for the loaded track") << "1 show hide show"
                                                          << "1 가사 · T1";
        QTest::newRow("track changed while hidden") << "1 show hide 2 show"
                                                    << "2 가사 · T2";
        QTest::newRow("same track while shown") << "show 1 1"
                                                << "2 가사 · T1";
    }
    void showing() {
        QFETCH(QString, steps);
        QFETCH(QString, seen);
        Rig r;
        for (const QString& s : steps.split(u' ')) {
            if (s == "show" || s == "hide")
                r.panel->toggle();
            else
                r.panel->setTrack(track(s.toInt(), QStringLiteral("T") + s));
        }
        QCOMPARE(QString::number(r.panel->generation) + u' ' + r.panel->window->windowTitle(),
                 seen);
    }

    // The prefix is translated, the title kept as stored, pass after pass.
    void englishTitle() {
        L10n::setLanguage("en");
        Rig r;
        Translator::translateWindow(r.panel->window.get());
        const QString before = r.panel->window->windowTitle();
        r.panel->toggle();
        r.panel->setTrack(track(1, QStringLiteral("가사 밤편지")));
        for (int i = 0; i < 3; ++i)
            Translator::translateWindow(r.panel->window.get());
        L10n::setLanguage("ko");
        QCOMPARE(before + " | " + r.panel->window->windowTitle(), "Lyrics | Lyrics · 가사 밤편지");
    }

    // The controller's side: the button, the action, and a press that seeks.
    void controller() {
        Rig r;
        UserDefaults().set(keys::kLyricsBaseURL, r.server.url({}).toString());
        test::RiggedApp a(test::twoOutputs());
        auto center = std::make_unique<platform::SimNowPlaying>();
        platform::SimNowPlaying* published = center.get();
        a.platform.nowPlaying = std::move(center);
        a.app.installLyricsSeek();
        QPushButton* button = a.app.makeLyricsButton();
        a.app.playback.current = track(7);
        button->click();
        QTRY_COMPARE_WITH_TIMEOUT(a.app.lyricsPanel->text->toPlainText(), kNotFound,
                                  ql::test::kOutcomeMs);
        QCOMPARE(r.targets().size(), 2); // the setting's service was asked
        a.app.playback.prepared =
            PreparedNext{PreparedNext::Kind::Scheduled, track(8), nullptr, true};
        a.app.lyricsPanel->apply(LyricsData{"[00:00.25]A\n[00:00.75]B", {}});
        press(a.app.lyricsPanel->text, 2); // no player yet
        a.app.playback.audio = test::openPlayer(a, "lyrics.wav");
        press(a.app.lyricsPanel->text, 2);
        const double at = a.app.playback.audio->currentTime();
        PlayerFacts facts{1, 0.7, false}; // paused after the seek: the tick leaves it
        test::fakes(a.app).clock.player = [&facts] { return facts; };
        a.app.meterTick();
        const int paused = a.app.lyricsPanel->active;
        facts.playing = true;
        a.app.meterTick();
        button->click();
        QCOMPARE(QString("%1 pub, radio %2, at %3, lit %4 then %5, shown %6")
                     .arg(published->publications.size())
                     .arg(a.app.listening.radioQueue.value(0))
                     .arg(at)
                     .arg(paused)
                     .arg(a.app.lyricsPanel->active)
                     .arg(a.app.lyricsPanel->visible()),
                 "2 pub, radio 8, at 0.75, lit -2 then 1, shown 0");
        delete button;
    }
};

QL_TEST_MAIN(LyricsPanelTest)
#include "LyricsPanelTest.moc"
