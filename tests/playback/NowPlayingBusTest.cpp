// Now Playing over the real session bus, with playerctl as the client and a
// second bus connection watching the signals, on the launched controller
// playing 10 s WAV files on a simulated device in real time. Each command
// row starts from track 1 playing near its start.
//
// CTest runs this program twice: under a bus of its own (`commands`, then
// `quitOverTheBus`, which ends the event loop), and with the bus address
// pointing where nothing listens (`withoutABus`).
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/mpris/MprisNowPlaying.h"
#include "platform/sim/SimPlatform.h"
#include "ui/SeekSlider.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>

using namespace ql;

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

struct BusRig {
    platform::MprisNowPlaying* mpris = nullptr;
    test::LaunchedApp l{QStringLiteral("ko"), [this](App& app) {
                            app.platform = platform::makeSimulatedPlatform(test::twoOutputs());
                            auto m = std::make_unique<platform::MprisNowPlaying>();
                            mpris = m.get();
                            app.platform.nowPlaying = std::move(m);
                        }};
    App& app = *l.app;

    BusRig() {
        for (qint64 id = 1; id <= 3; ++id)
            app.browser.filtered.push_back(
                Track{id,
                      test::noiseWav(QStringLiteral("ten%1.wav").arg(id), 10),
                      QStringLiteral("T%1").arg(id),
                      QStringLiteral("A"),
                      QStringLiteral("B"),
                      10,
                      {}});
    }
    // Runs playerctl on our player without blocking the event loop, which
    // answers it; its output, trimmed.
    static QString ctl(const QStringList& args) {
        QProcess p;
        QSignalSpy done(&p, &QProcess::finished);
        p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), "quavelark"} + args);
        if (!done.wait(10000))
            return QStringLiteral("<no answer>");
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    // A method of the player interface, called from another connection.
    QDBusMessage call(const QString& method, const QVariantList& args) const {
        QDBusMessage m =
            QDBusMessage::createMethodCall(mpris->serviceName(), kPath, kPlayer, method);
        m.setArguments(args);
        return QDBusConnection::sessionBus().call(m, QDBus::BlockWithGui);
    }
};

constexpr double kAny = -1;
// Playback runs in real time while playerctl starts and answers.
constexpr double kSlack = 0.75;

struct Case {
    const char* name;
    // Acts on the playing rig; returns what it printed or found.
    std::function<QString(BusRig&)> act;
    QString result;
    // The state afterwards: "status title", and the position (seconds,
    // give or take kSlack; kAny: not checked); then the watcher's signals.
    QString after;
    double at;
    QStringList signalsHeard;
};

QString status(BusRig&) {
    return BusRig::ctl({"status"});
}

// clang-format off
const std::vector<Case>& cases() {
    static const std::vector<Case> c{
        {"a started track shows playing, with its title",
         [](BusRig&) { return BusRig::ctl({"metadata", "xesam:title"}); },
         "T1", "Playing T1", 0.5, {}},
        {"play-pause pauses, telling only the status",
         [](BusRig& r) { BusRig::ctl({"play-pause"}); return status(r); },
         "Paused", "Paused T1", kAny, {"PlaybackStatus=Paused"}},
        {"a position moves playback and is announced as a seek",
         [](BusRig&) { return BusRig::ctl({"position", "2"}); },
         "", "Playing T1", 2.5, {"Seeked 2.0"}},
        {"a position for another track is ignored",
         [](BusRig& r) {
             const QDBusMessage m = r.call("SetPosition", {QVariant::fromValue(QDBusObjectPath(
                 "/org/quavelark/track/t2")), qlonglong(5000000)});
             return m.type() == QDBusMessage::ReplyMessage ? QString("answered") : m.errorName();
         },
         "answered", "Playing T1", 0.5, {}},
        {"next shows the next visible track",
         [](BusRig&) { return BusRig::ctl({"next"}); },
         "", "Playing T2", 0.5, {"Metadata=T2 PlaybackStatus=Paused", "PlaybackStatus=Playing"}},
        {"the position advances about a second in a second while playing",
         [](BusRig&) {
             const double from = BusRig::ctl({"position"}).toDouble();
             QTest::qWait(1000);
             return QString::number(qRound(BusRig::ctl({"position"}).toDouble() - from));
         },
         "1", "Playing T1", kAny, {}},
        {"the position stays put while paused",
         [](BusRig& r) {
             r.app.toggle();
             const double from = BusRig::ctl({"position"}).toDouble();
             QTest::qWait(1000);
             return QString::number(qRound(BusRig::ctl({"position"}).toDouble() - from));
         },
         "0", "Paused T1", kAny, {"PlaybackStatus=Paused"}},
        {"stop pauses",
         [](BusRig&) { return BusRig::ctl({"stop"}); },
         "", "Paused T1", kAny, {"PlaybackStatus=Paused"}},
        {"the volume is the slider's, and cannot be set from outside",
         [](BusRig& r) {
             r.app.views.volume->setDoubleValue(35);
             const QString before = BusRig::ctl({"volume"});
             BusRig::ctl({"volume", "0.1"});
             return before + " " + BusRig::ctl({"volume"}) + " " +
                    QString::number(r.app.views.volume->doubleValue());
         },
         "0.350000 0.350000 35", "Playing T1", kAny, {}},
        {"opening an address is refused as not supported",
         [](BusRig& r) { return r.call("OpenUri", {QStringLiteral("file:///x.flac")}).errorName(); },
         "org.freedesktop.DBus.Error.NotSupported", "Playing T1", kAny, {}},
    };
    return c;
}
// clang-format on

const Track& firstTrack(BusRig& r) {
    return r.app.browser.filtered.front();
}

} // namespace

class NowPlayingBusTest : public QObject {
    Q_OBJECT
public:
    QStringList heard; // what the watching connection received, in order

public slots:
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&) {
        QStringList parts;
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            QString value = it.value().toString();
            if (it.key() == QLatin1String("Metadata")) {
                const auto m = qdbus_cast<QVariantMap>(it.value().value<QDBusArgument>());
                value = m.isEmpty() ? QStringLiteral("{}") : m.value("xesam:title").toString();
            }
            parts << it.key() + '=' + value;
        }
        heard << parts.join(' ');
    }
    void seeked(qlonglong position) {
        heard << QStringLiteral("Seeked %1").arg(double(position) / 1e6, 0, 'f', 1);
    }
    void ownerChanged(const QString& name, const QString&, const QString& owner) {
        if (name.startsWith(QLatin1String("org.mpris.MediaPlayer2.quavelark")) && owner.isEmpty())
            heard << QStringLiteral("name gone");
    }

private:
    QDBusConnection watcher{QStringLiteral("")};
    void watch() {
        watcher = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
        watcher.connect({}, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged", this,
                        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
        watcher.connect({}, kPath, kPlayer, "Seeked", this, SLOT(seeked(qlonglong)));
        watcher.connect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "NameOwnerChanged", this, SLOT(ownerChanged(QString, QString, QString)));
    }

private slots:
    void initTestCase() {
        UserDefaults().clear();
        if (!QDBusConnection::sessionBus().isConnected())
            return;
        watch();
    }

    void commands_data() { test::addRows(cases()); }
    void commands() {
        const Case& c = test::currentCase(cases());
        BusRig r;
        QVERIFY(!r.mpris->serviceName().isEmpty());
        r.app.play(firstTrack(r));
        QTRY_COMPARE(BusRig::ctl({"status"}), QStringLiteral("Playing"));
        QTest::qWait(200);
        heard.clear();

        QCOMPARE(c.act(r), c.result);
        QTest::qWait(300); // the queued command and its signals
        QCOMPARE(BusRig::ctl({"status"}) + ' ' + BusRig::ctl({"metadata", "xesam:title"}), c.after);
        if (c.at != kAny) {
            const double at = BusRig::ctl({"position"}).toDouble();
            QVERIFY2(std::abs(at - c.at) < kSlack, qPrintable(QString::number(at)));
        }
        QCOMPARE(heard, c.signalsHeard);
    }

    void withoutABus() {
        static QStringList said;
        said.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { said << text; });
        {
            BusRig r;
            r.app.play(firstTrack(r));
            QTRY_VERIFY(r.app.isPlaying());
            QCOMPARE(r.mpris->serviceName(), QString());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(r.app.core.terminated);
        }
        qInstallMessageHandler(previous);
        const QRegularExpression aboutTheBus(QStringLiteral("bus|mpris"),
                                             QRegularExpression::CaseInsensitiveOption);
        QCOMPARE(said.filter(aboutTheBus), QStringList{});
    }

    // Last: it ends the event loop.
    void quitOverTheBus() {
        const QString m4a = QDir::temp().filePath(QStringLiteral("tone.m4a"));
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-c:a", "aac", m4a}));
        const QStringList ours{QStringLiteral("Quavelark-*")};
        auto r = std::make_unique<BusRig>();
        r->app.play(Track{9, m4a, QStringLiteral("Tone"), {}, {}, 3, {}});
        QTRY_VERIFY_WITH_TIMEOUT(r->app.isPlaying(), 30000);
        QCOMPARE(QDir::temp().entryList(ours, QDir::Files).size(), 1);
        heard.clear();

        watcher.asyncCall(QDBusMessage::createMethodCall(
            r->mpris->serviceName(), kPath, QStringLiteral("org.mpris.MediaPlayer2"), "Quit"));
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(r->app.core.terminated);
        r.reset();
        QTRY_VERIFY(heard.contains(QStringLiteral("name gone")));
        QCOMPARE(heard.mid(heard.size() - 2),
                 QStringList({"Metadata={} PlaybackStatus=Stopped", "name gone"}));
        QCOMPARE(QDir::temp().entryList(ours, QDir::Files), QStringList{});
    }
};

QL_TEST_MAIN(NowPlayingBusTest)
#include "NowPlayingBusTest.moc"
