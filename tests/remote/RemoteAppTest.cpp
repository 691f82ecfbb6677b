// Guards against: a remote that loses or changes its token, keeps a guessable one, offers no
// or the wrong address, a QR code that does not read back, or a phone's command that acts
// wrongly on the player.
// The controller's remote through the real server on loopback, a 100-track catalog on one
// generated file, the simulated device on the manual clock.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimNowPlaying.h"
#include "remote/RemoteServer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "HttpExchange.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sndfile.h>

using namespace ql;
using test::addRows;
using test::currentCase;

namespace {

struct Rig : test::TrackIds<Rig> {
    test::RiggedApp rig{test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}}};
    App& app = rig.app;
    platform::SimNowPlaying* center = new platform::SimNowPlaying;
    // Each dialog shown: message, informative text, buttons from left to right;
    // the last QR code, its port; the button pressed.
    QList<QStringList> dialogs;
    QImage qr;
    quint16 dialogPort = 0;
    int answer = 1;
    QTimer poll;

    explicit Rig(remote::NetworkFacts facts = {{{"wlan0", "192.168.1.20"}}}) {
        L10n::setLanguage("ko");
        rig.platform.nowPlaying.reset(center);
        app.playback.maxQuality = false; // the direct road
        app.remotePort = 0;
        test::fakes(app).tools.networkFacts = [facts] { return facts; };
        poll.callOnTimeout([this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                press(*box);
        });
        test::AudioShape wav{.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, .frames = 5 * 44100};
        const QString path = test::tempFile("remote.wav");
        if (!QFile::exists(path) && !test::writeAudio(path, wav))
            qFatal("cannot write %s", qPrintable(path));
        QList<qint64> ids;
        for (qint64 id = 1; id <= 100; ids << id++) {
            add(id, path, 5);
            app.library.rows.back().artist = "Artist";
            if (id % 10 == 0 && id <= 30) // three rows match "zeb"
                app.library.rows.back().title = QStringLiteral("Zebra %1").arg(id);
        }
        show(ids);
    }
    void press(QMessageBox& box) {
        QList<QAbstractButton*> buttons = box.buttons();
        std::ranges::sort(buttons, {}, [](const QAbstractButton* b) { return b->x(); });
        dialogs << QStringList{box.text(), box.informativeText()};
        for (const QAbstractButton* b : buttons)
            dialogs.last() << b->text();
        const auto* label = box.findChild<QLabel*>("remoteQr");
        qr = label->size() == QSize(220, 220) ? label->pixmap().toImage() : QImage(1, 1, {});
        dialogPort = app.remote->port();
        buttons[answer]->click();
    }
    // Opens the dialog with the tools panel's button; press() answers it.
    void open() {
        poll.start(10);
        const std::unique_ptr<QPushButton> button(app.makeRemoteButton(nullptr));
        button->click();
        poll.stop();
    }
    QString token() const { return UserDefaults().string(keys::kRemoteToken).value_or(""); }
    // The answer to a request with the token, object or list.
    QJsonValue get(const QByteArray& target) {
        const QByteArray query =
            (target.contains('?') ? "&t=" : "?t=") + QUrl::toPercentEncoding(token());
        const QByteArray body = test::getBody(app.remote->port(), target + query);
        return QJsonDocument::fromJson("{\"a\":" + body + "}").object().value("a");
    }
};

// The text zbarimg reads from the image, "" when it reads none.
QString decoded(const QImage& image) {
    const QString file = test::tempFile("qr.png");
    QProcess zbar;
    if (image.save(file))
        zbar.start("zbarimg", {"--raw", "-q", file});
    zbar.waitForFinished(10000);
    return QString::fromUtf8(zbar.readAllStandardOutput()).chopped(1);
}

// ---- opening the dialog: token, server, address, QR code --------------------------------------
// Interfaces as "name=ip …": "lo" is loopback, an ip with ':' IPv6, a '!' before the name down.
std::vector<remote::InterfaceAddress> interfaces(const QString& list) {
    std::vector<remote::InterfaceAddress> out;
    for (const QString& item : list.split(' ', Qt::SkipEmptyParts)) {
        const QString name = item.section('=', 0, 0), ip = item.section('=', 1);
        out.push_back({name.mid(name.startsWith('!')), ip, !ip.contains(':'), !name.startsWith('!'),
                       name == "lo"});
    }
    return out;
}
// Lines of /proc/net/route after its head: interface, destination, flags, metric, mask.
QByteArray route(const char* i, const char* dest, const char* flags, int metric,
                 const char* mask = "00000000") {
    return QByteArray(i) + '\t' + dest + "\t0101A8C0\t" + flags + "\t0\t0\t" +
           QByteArray::number(metric) + '\t' + mask + "\t0\n";
}
const QByteArray kUp = route("wlan0", "00000000", "0003", 600);
const char* const kLan = "lo=127.0.0.1 wlan0=192.168.1.20";
const QString kIp = "192.168.1.20", kLong(2400, 'a'); // too long for any QR code

struct LifeCase {
    const char* name;
    QString addresses;
    QByteArray routes;
    QString ip;          // the address offered; "" for none
    QString stored = {}; // the token stored before
    bool portHeld = false;
    int answer = 1; // 0 copy, 1 close, 2 turn off
    bool english = false;
};

// clang-format off
const std::vector<LifeCase> kLife = {
    {"the first opening draws and stores a token", kLan, {}, kIp},
    {"a stored token is used unchanged", kLan, {}, kIp, "AB&cDEFGHIJ"},
    {"turning off stops the server", kLan, {}, kIp, "", false, 2},
    {"a held port: the start fails, the token is kept", kLan, {}, kIp, "", true},
    {"in English; copy the address", kLan, {}, kIp, "", false, 0, true},
    {"an address too long for a QR code leaves an empty area", kLan, {}, kIp, kLong, false, 0},
    {"the default route's interface wins over an earlier 10. address",
     "eth1=10.0.0.5 wlan0=192.168.1.20", kUp, kIp},
    {"the default route wins whatever its prefix", "eth1=10.0.0.5 wlan0=100.64.3.2", kUp,
     "100.64.3.2"},
    {"between two candidates the earlier wins; the whole 172 prefix counts",
     "eth0=172.200.0.9 eth1=192.168.1.20", kUp, "172.200.0.9"},
    {"docker0 is skipped", "docker0=172.17.0.1 eth1=10.9.0.7", {}, "10.9.0.7"},
    {"virtual bridges are skipped even on the default route",
     "br-5e1f=172.18.0.1 virbr0=192.168.122.1 veth9a=10.1.1.1",
     route("virbr0", "00000000", "0003", 0), ""},
    {"only loopback: no dialog, the server runs", "lo=127.0.0.1", kUp, ""},
    {"only addresses outside the three prefixes", "eth0=100.64.0.2 eth1=8.8.4.4", kUp, ""},
    {"a down interface and IPv6 do not count", "!wlan0=192.168.1.20 wlan0=fe80::1 eth1=10.2.0.3",
     kUp,
     "10.2.0.3"},
    {"the default route with the lowest metric wins", "eth0=10.0.0.2 wlan0=192.168.1.20",
     route("eth0", "00000000", "0003", 700) + kUp, kIp},
    {"a route that is down or not default is no default route", "eth0=10.0.0.2 wlan0=192.168.1.20",
     route("wlan0", "00000000", "0002", 0) + route("wlan0", "0001A8C0", "0001", 0, "00FFFFFF") +
         "wlan0 junk\n", "10.0.0.2"},
};
// clang-format on

// A token stored by hand before the start: whether the start replaces it.
struct WeakCase {
    const char* name;
    QString stored;
    bool replaced;
};
const std::vector<WeakCase> kWeak = {
    {"abc is replaced", "abc", true},
    {"nine characters are replaced", "abcdefghj", true},
    {"ten of another alphabet are kept", "ABCDEFGHIJ", false},
};
const QString kAddressChanged =
    "리모컨 주소가 바뀌었습니다. 예전 주소(QR)는 이제 쓸 수 없으니 새 주소로 다시 연결하세요.";

// ---- commands and search through the server ----------------------------------------------------
enum class Start { Idle, NoPlayer, Playing };

struct CommandCase {
    const char* name;
    Start start;
    QByteArray target;
    QByteArray expect; // keys of the state to compare; for a list, its count and first entry
    std::optional<double> position = {};
    std::optional<qint64> radioFront = {};
};

// clang-format off
const std::vector<CommandCase> kCommands = {
    {"state with nothing current", Start::Idle, "/s",
     R"({"id":0,"title":"","artist":"","playing":false,"pos":0,"dur":0,"vol":70})"},
    {"vol 150 gives 100", Start::Idle, "/c?c=vol&v=150", R"({"vol":100})"},
    {"vol -5 gives 0", Start::Idle, "/c?c=vol&v=-5", R"({"vol":0})"},
    {"vol nan gives 100", Start::Idle, "/c?c=vol&v=nan", R"({"vol":100})"},
    {"vol +7 is 7", Start::Idle, "/c?c=vol&v=+7", R"({"vol":7})"},
    {"vol 33.9 shows 33", Start::Idle, "/c?c=vol&v=33.9", R"({"vol":33})"},
    {"vol abc changes nothing", Start::Idle, "/c?c=vol&v=abc", R"({"vol":70})"},
    {"vol with a space before changes nothing", Start::Idle, "/c?c=vol&v=%205", R"({"vol":70})"},
    {"vol without v changes nothing", Start::Idle, "/c?c=vol&x=5", R"({"vol":70})"},
    {"seek without a player gives the successor back", Start::NoPlayer, "/c?c=seek&v=3",
     R"({"id":7,"pos":0,"dur":0})", {}, 8},
    {"seek nan leaves the position alone", Start::Playing, "/c?c=seek&v=nan", R"({"id":5})", 1.5},
    {"seek moves the player", Start::Playing, "/c?c=seek&v=2.5", R"({"dur":5})", 2.5},
    {"play an unknown id changes nothing", Start::Idle, "/c?c=play&id=999", R"({"id":0})"},
    {"play a catalog id plays it", Start::Idle, "/c?c=play&id=42",
     R"({"id":42,"title":"T42","artist":"Artist","playing":true})"},
    {"play an id that is not whole", Start::Idle, "/c?c=play&id=42x", R"({"id":0})"},
    {"toggle pauses", Start::Playing, "/c?c=toggle", R"({"id":5,"playing":false})"},
    {"next plays the next visible track", Start::Playing, "/c?c=next", R"({"id":6})"},
    {"radio queues tracks like the playing one", Start::Playing, "/c?c=radio", R"({"id":5})"},
    {"an unknown command answers the state", Start::Playing, "/c?c=dance",
     R"({"id":5,"playing":true})"},
    {"an empty command answers the state", Start::Playing, "/c?c=", R"({"id":5})"},
    {"an empty search: the first 40 rows", Start::Idle, "/l?q=",
     R"({"count":40,"first":{"id":1,"title":"T1","artist":"Artist"}})"},
    {"a query matching 3 rows gives 3", Start::Idle, "/l?q=zeb",
     R"({"count":3,"first":{"id":10,"title":"Zebra 10","artist":"Artist"}})"},
};
// clang-format on

} // namespace

class RemoteAppTest : public QObject {
    Q_OBJECT
private slots:
    void init() { UserDefaults().clear(); }

    void opening_data() { addRows(kLife); }
    void opening() {
        const LifeCase& c = currentCase(kLife);
        if (!c.stored.isEmpty())
            UserDefaults().set(keys::kRemoteToken, c.stored);
        const QByteArray head = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n";
        Rig r({interfaces(c.addresses), remote::defaultRouteInterface(head + c.routes)});
        r.answer = c.answer;
        QTcpServer holder, probe;
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        r.app.remotePort = c.portHeld ? holder.serverPort() : (holder.close(), 0);
        L10n::setLanguage(c.english ? "en" : "ko");
        r.open();

        const QString token = r.token();
        QVERIFY(c.stored.isEmpty() ? token.contains(QRegularExpression("^[a-hj-km-np-z2-9]{10}$"))
                                   : token == c.stored);
        const bool dialog = !c.portHeld && !c.ip.isEmpty(), running = !c.portHeld && c.answer != 2;
        QCOMPARE(r.dialogs.size(), qsizetype(dialog));
        QCOMPARE(bool(r.app.remote), running);
        // Qt's English description never reaches the Korean status line.
        const QString failed =
            c.portHeld && !probe.listen(QHostAddress::Any, holder.serverPort())
                ? QString(
                      c.english
                          ? "Failed to start the remote server: The port is in use by "
                            "another program (%1)"
                          : "리모컨 서버 시작 실패: 다른 프로그램이 이 포트를 쓰고 있습니다 (%1)")
                      .arg(holder.serverPort())
                : "";
        const QString noAddress = "Wi-Fi 주소를 찾지 못했습니다. 네트워크 연결을 확인하세요.";
        QCOMPARE(r.app.status->stringValue(), c.portHeld ? failed
                                              : !dialog  ? noAddress
                                              : running  ? "음원 불러오는 중…"
                                                         : "리모컨 서버를 껐습니다.");
        if (running)
            QCOMPARE(r.get("/s").toObject().value("vol").toInt(), 70);
        if (!dialog)
            return;
        const QString address =
            QString("http://%1:%2/?t=%3").arg(c.ip).arg(r.dialogPort).arg(token);
        QCOMPARE(r.dialogs[0][1].section('\n', 1, 1), address);
        QCOMPARE(r.qr.isNull(), c.stored == kLong); // then an empty 220 x 220 area
        QCOMPARE(r.qr.isNull() ? address : decoded(r.qr.width() == 220 ? r.qr : QImage()), address);
        if (c.answer == 0)
            QCOMPARE(QGuiApplication::clipboard()->text(), address);
        if (c.english)
            QCOMPARE(
                r.dialogs[0],
                QStringList({"📱 Phone remote",
                             "Connect your phone to the same Wi-Fi as this computer and scan the "
                             "QR with the "
                             "camera.\n" +
                                 address +
                                 "\n\nOnly devices that know the token in the address can "
                                 "control it, and only playback, search and volume are possible.",
                             "Copy address", "Close", "Turn off remote server"}));
        QVERIFY(running || test::exchange(r.dialogPort, {"GET /s\r\n"}).isEmpty());

        // The next opening, and a new controller, show the same token.
        Rig again(test::fakes(r.app).tools.networkFacts());
        for (Rig* x : {&r, &again}) {
            x->answer = 1;
            x->open();
            QVERIFY(x->app.remote && x->dialogs.last()[1].contains("/?t=" + token + "\n"));
        }
        QStringList steps;
        test::fakes(r.app).observer.trace = [&](const QString& step, const QStringList&) {
            steps << step;
        };
        r.app.applicationWillTerminate();
        QVERIFY(steps.indexOf("saveExtras") < steps.indexOf("stopRemote"));
        QCOMPARE(steps.indexOf("stopRemote") + 1, steps.indexOf("stopFetcher"));
        QVERIFY(test::exchange(r.app.remote->port(), {"GET /s\r\n"}).isEmpty());
    }

    // A weak stored token is replaced at the start, before any server uses it;
    // the status line and the next dialog say the old address is gone, and the
    // old token is refused.
    void weakStoredToken_data() { addRows(kWeak); }
    void weakStoredToken() {
        const WeakCase& c = currentCase(kWeak);
        UserDefaults().set(keys::kRemoteToken, c.stored);
        Rig r;
        r.app.status->setClock([] { return qint64(0); }); // the line's turns stand still
        r.app.loadExtras();
        const QString token = r.token();
        QCOMPARE(token != c.stored, c.replaced);
        if (c.replaced) {
            QVERIFY(token.contains(QRegularExpression("^[a-hj-km-np-z2-9]{10}$")));
            r.app.status->showWaiting(); // the tick's turn
            QCOMPARE(r.app.status->stringValue(), kAddressChanged);
            // Neither the list's count when the catalog comes nor a track
            // starting replaces it.
            r.app.filter(false);
            r.app.status->setStringValue("음원 여는 중…");
            QCOMPARE(r.app.status->stringValue(), kAddressChanged);
        }
        r.open();
        QCOMPARE(r.dialogs.size(), 1);
        const QString info = r.dialogs[0][1];
        QVERIFY(info.contains("/?t=" + token + "\n"));
        QCOMPARE(info.endsWith("\n\n" + kAddressChanged), c.replaced);
        const QByteArray old = "GET /s?t=" + QUrl::toPercentEncoding(c.stored) + "\r\n";
        QCOMPARE(test::exchange(r.app.remote->port(), {old}).left(12),
                 c.replaced ? "HTTP/1.1 403" : "HTTP/1.1 200");
        QCOMPARE(r.get("/s").toObject().value("vol").toInt(), 70);
        // Said once: the next opening shows the address alone.
        r.open();
        QVERIFY(!r.dialogs.last()[1].contains(kAddressChanged));
        QCOMPARE(r.token(), token);
    }

    void commands_data() { addRows(kCommands); }
    void commands() {
        const CommandCase& c = currentCase(kCommands);
        Rig r;
        r.open();
        QVERIFY(r.app.remote);
        if (c.start == Start::Playing) {
            r.app.play(r.track(5));
            QTRY_VERIFY_WITH_TIMEOUT(r.app.isPlaying(), ql::test::kOutcomeMs);
            r.app.setAudioTime(1.5);
        } else if (c.start == Start::NoPlayer) {
            r.app.playback.current = r.track(7);
            auto player = platform::AudioPlayer::open(*r.rig.platform.outputs, r.track(8).path);
            r.app.playback.prepared = PreparedNext{PreparedNext::Kind::Scheduled, r.track(8),
                                                   std::move(player.player), true};
        }
        const std::size_t published = r.center->publications.size();
        const QJsonValue answer = r.get(c.target);
        const QJsonObject expect = QJsonDocument::fromJson(c.expect).object();
        if (answer.isArray()) {
            QCOMPARE(answer.toArray().size(), expect["count"].toInt());
            QCOMPARE(answer.toArray().first().toObject(), expect["first"].toObject());
            return;
        }
        const QJsonObject state = answer.toObject();
        QCOMPARE(state.keys(),
                 QStringList({"artist", "dur", "id", "playing", "pos", "title", "vol"}));
        for (auto it = expect.begin(); it != expect.end(); ++it)
            QVERIFY2(state[it.key()] == it.value(), qPrintable(it.key()));
        if (c.position)
            QVERIFY(std::abs(*r.app.audioCurrentTime() - *c.position) < 0.15);
        if (c.radioFront) {
            QCOMPARE(r.app.listening.radioQueue.value(0), *c.radioFront);
            QVERIFY(!r.app.playback.prepared);
        }
        QCOMPARE(r.app.listening.radioQueue.isEmpty(),
                 !c.target.endsWith("radio") && !c.radioFront);
        if (c.target.contains("seek"))
            QCOMPARE(r.center->publications.size(), published + 1);
    }

    // The server outlives its controller: answers carry nothing.
    void controllerGone() {
        auto r = std::make_unique<Rig>();
        r->open();
        const std::unique_ptr<remote::RemoteServer> server = std::move(r->app.remote);
        const QByteArray query = "?c=next&t=" + r->token().toUtf8();
        r.reset();
        for (const QByteArray path : {"/s", "/c", "/l"})
            QCOMPARE(test::getBody(server->port(), path + query), path == "/l" ? "[]" : "{}");
    }
};

QL_TEST_MAIN(RemoteAppTest)
#include "RemoteAppTest.moc"
