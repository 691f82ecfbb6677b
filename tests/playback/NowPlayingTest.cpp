// Guards against: media commands lost, doubled or sent to the wrong track; stale Now Playing;
// a property write from the desktop accepted and dropped.
// Now Playing and the media commands on the launched controller, with three
// visible tracks. `commands`: the simulated backend records each publication
// and sends the commands; the clock stands still; the files last 5 s, the
// catalog lists 9 s; a track start publishes as it begins and as it plays.
// `busCommands`, `quitOverTheBus`: the session bus (CTest gives them their
// own), playerctl and a watching connection; 10 s files in real time.
// `withoutABus` runs with a bus address where nothing listens.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/mpris/MprisNowPlaying.h"
#include "platform/sim/SimNowPlaying.h"
#include "platform/sim/SimPlatform.h"
#include "ui/SeekSlider.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "OpenSettled.h"
#include "SimRigs.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtMath>

#include <sndfile.h>

#include <atomic>

using namespace ql;

namespace {

template <typename Center> struct Rig {
    Center* center = nullptr;
    test::LaunchedApp l;
    App& app;
    QElapsedTimer made; // started before any track plays

    Rig(platform::SimClock clock, double seconds, double listed)
        : l(QStringLiteral("ko"),
            [this, clock](App& a) {
                test::storeMaxQualityOff();
                a.platform = platform::makeSimulatedPlatform(test::twoOutputs(), {clock, {}});
                auto c = std::make_unique<Center>();
                center = c.get();
                a.platform.nowPlaying = std::move(c);
            }),
          app(*l.app) {
        made.start();
        const test::AudioShape noise{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                                     std::int64_t(seconds * 44100)};
        std::vector<Track> shown;
        for (qint64 id = 1; id <= 3; ++id) {
            const QString file =
                QDir::temp().filePath(QStringLiteral("%1s-%2.wav").arg(seconds).arg(id));
            if (!test::writeAudio(file, noise))
                qFatal("cannot write %s", qPrintable(file));
            shown.push_back(Track{id, file, QStringLiteral("T%1").arg(id), "A", "B", listed});
        }
        app.browser.filtered = shown;
    }
    const Track& track(qint64 id) const { return app.browser.filtered[std::size_t(id - 1)]; }
};

using SimRig = Rig<platform::SimNowPlaying>;
using BusRig = Rig<platform::MprisNowPlaying>;

// What the desktop and the window show: the publications since `from` (the
// last in full), then the controller's state.
QString outcome(const SimRig& r, std::size_t from) {
    const auto& pubs = r.center->publications;
    const PlaybackState& p = r.app.playback;
    const auto state = [](bool playing) { return QString(playing ? "playing" : "paused"); };
    QString out = QStringLiteral("%1 new").arg(pubs.size() - from);
    if (pubs.size() > from && pubs.back().info) {
        const platform::NowPlayingInfo& i = *pubs.back().info;
        out += QStringLiteral(", T%1 %2 s at %3 rate %4 %5")
                   .arg(QString::number(i.trackId), QString::number(i.duration),
                        QString::number(i.elapsed, 'f', 1), QString::number(i.rate),
                        state(pubs.back().status == platform::PlaybackStatus::Playing));
    }
    out += QStringLiteral("; current %1").arg(p.current ? p.current->id : 0);
    if (p.audio)
        out +=
            QStringLiteral(" %1 at %2")
                .arg(state(p.audio->isPlaying()), QString::number(p.audio->currentTime(), 'f', 1));
    if (!r.app.listening.radioQueue.isEmpty())
        out += QStringLiteral(", radio %1").arg(r.app.listening.radioQueue.front());
    return out + (r.app.window->isMinimized() ? ", minimised" : "");
}

struct SimCase {
    const char* name;
    std::function<void(SimRig&)> before;
    std::function<void(SimRig&)> command;
    QString outcome;
};

void playFirst(SimRig& r) {
    QVERIFY(test::playTaken(r.app, r.track(1)));
}
// Track 2 made current by a request whose road is still preparing it.
void decodeSecond(SimRig& r) {
    r.app.playback.current = r.track(2);
    r.app.playback.loading = true;
}
// Track 2 current, nothing loaded and nothing being prepared (a road failed).
void failedSecond(SimRig& r) {
    r.app.playback.current = r.track(2);
}

// clang-format off
const std::vector<SimCase>& simCases() {
    static const std::vector<SimCase> c{
        {"publish without a current track writes nothing",
         {}, [](SimRig& r) { r.app.publish(); }, "0 new; current 0"},
        {"a track still decoding: the catalog's duration, nothing elapsed, playing as asked",
         decodeSecond, [](SimRig& r) { r.app.publish(); },
         "1 new, T2 9 s at 0.0 rate 0 playing; current 2"},
        {"a track whose road failed: the catalog's duration, nothing elapsed, paused",
         failedSecond, [](SimRig& r) { r.app.publish(); },
         "1 new, T2 9 s at 0.0 rate 0 paused; current 2"},
        {"a playing track: the player's duration and rate 1, also at double speed",
         [](SimRig& r) { r.app.playback.playRate = 2.0; playFirst(r); },
         [](SimRig& r) { r.app.publish(); QCOMPARE(r.center->commands.speed(), 2.0); },
         "1 new, T1 5 s at 0.0 rate 1 playing; current 1 playing at 0.0"},
        {"a play command while playing changes nothing",
         playFirst, [](SimRig& r) { r.center->commands.play(); }, "0 new; current 1 playing at 0.0"},
        {"a pause command while paused changes nothing",
         [](SimRig& r) { playFirst(r); r.app.toggle(); },
         [](SimRig& r) { r.center->commands.pause(); }, "0 new; current 1 paused at 0.0"},
        {"a play command with nothing loaded starts the current track",
         failedSecond, [](SimRig& r) { r.center->commands.play(); },
         "2 new, T2 5 s at 0.0 rate 1 playing; current 2 playing at 0.0"},
        {"a play command with nothing current starts the first visible track",
         {}, [](SimRig& r) { r.center->commands.play(); },
         "2 new, T1 5 s at 0.0 rate 1 playing; current 1 playing at 0.0"},
        {"a position command with nothing loaded only republishes",
         failedSecond, [](SimRig& r) { r.center->commands.changePosition(3); },
         "1 new, T2 9 s at 0.0 rate 0 paused; current 2"},
        {"a position command gives the armed successor back to the radio and moves",
         [](SimRig& r) {
             playFirst(r);
             auto next = platform::AudioPlayer::open(*r.app.platform.outputs, r.track(3).path);
             next.player->play();
             r.app.playback.prepared = PreparedNext{PreparedNext::Kind::Scheduled, r.track(3), std::move(next.player), true};
         },
         [](SimRig& r) { r.center->commands.changePosition(3); },
         "1 new, T1 5 s at 3.0 rate 1 playing; current 1 playing at 3.0, radio 3"},
        {"raise shows a minimised window",
         [](SimRig& r) { r.app.window->showMinimized(); },
         [](SimRig& r) { r.center->commands.raise(); }, "0 new; current 0"},
    };
    return c;
}
// clang-format on

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// Runs playerctl on our player without blocking the event loop, which answers
// it; its output, trimmed.
QString ctl(const QStringList& args) {
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), "quavelark"} + args);
    return done.wait(10000) ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : "<none>";
}

// playerctl's exit: "exit 0" on success, "exit N" on failure.
QString ctlExit(const QStringList& args) {
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), "quavelark"} + args);
    if (!done.wait(10000))
        return QStringLiteral("<none>");
    return QStringLiteral("exit %1").arg(p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                : -1);
}

// A player method called from another connection: the error's name, or "".
QString call(BusRig& r, const QString& method, const QVariantList& args) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(r.center->serviceName(), kPath, kPlayer, method);
    m.setArguments(args);
    return QDBusConnection::sessionBus().call(m, QDBus::BlockWithGui).errorName();
}

// A player property read, and written, from another connection: its value,
// or the error's name.
QString property(BusRig& r, const QString& name) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        r.center->serviceName(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
    m.setArguments({kPlayer, name});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::BlockWithGui);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reply.errorName();
    return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
}
QString setProperty(BusRig& r, const QString& name, const QVariant& value) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        r.center->serviceName(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Set");
    m.setArguments({kPlayer, name, QVariant::fromValue(QDBusVariant(value))});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::BlockWithGui);
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QStringLiteral("set");
}

// Returns once every signal the player sent before now has reached the
// watching connection's slots: the bus passes on one sender's messages in
// order, so the player's answer to a property read made from there follows
// them (and follows any command it had queued), and the read waits in an
// event loop that delivers them first.
void settle(BusRig& r) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        r.center->serviceName(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
    m.setArguments({kPlayer, QStringLiteral("PlaybackStatus")});
    QDBusConnection(QStringLiteral("watcher")).call(m, QDBus::BlockWithGui);
}

// playerctl's position, read between two of the player's own: a round trip
// to playerctl takes its time on a busy machine, and the player moves on
// meanwhile, so what it says is judged against both. While a track plays
// playerctl adds to the position it read the time since it read it (less
// than its round trip), and the player's own clock moves in steps of what
// the device has played: the told position may pass the later of the two
// by that much.
struct Told {
    double before = 0, told = 0, after = 0, roundTrip = 0;
    // A position crosses the bus in whole microseconds.
    bool inStep() const { return told >= before - 1e-6 && told <= after + roundTrip + 1e-6; }
    QString text() const {
        return inStep() ? QStringLiteral("told")
                        : QStringLiteral("told %1 while the player went from %2 to %3 (%4 s)")
                              .arg(told)
                              .arg(before)
                              .arg(after)
                              .arg(roundTrip);
    }
};
Told told(BusRig& r) {
    Told t;
    QElapsedTimer trip;
    t.before = r.app.audioCurrentTime().value_or(-1);
    trip.start();
    t.told = ctl({"position"}).toDouble();
    t.roundTrip = double(trip.nsecsElapsed()) / 1e9;
    t.after = r.app.audioCurrentTime().value_or(-1);
    return t;
}

// Whether the player went on from the place `from` it was put at, before
// `since` started, no faster than the time since and did not move
// elsewhere: "on course", else where it is. (A place read from the player
// would not do as `from`: its clock moves in steps of what the device has
// played, so a read may lag the time by one.)
QString course(BusRig& r, double from, const QElapsedTimer& since) {
    const double at = r.app.audioCurrentTime().value_or(-1);
    const double most = from + double(since.elapsed()) / 1000;
    return at >= from - 1e-3 && at <= most + 1e-3
               ? QStringLiteral("on course")
               : QStringLiteral("at %1 s, not between %2 and %3 s").arg(at).arg(from).arg(most);
}

// What the position does over a second: "moves" or "stays", each of the two
// reads in step with the player (so the change told is the player's own).
QString drift(BusRig& r) {
    const Told a = told(r);
    QTest::qWait(1000); // the stretch the position is watched over
    const Told b = told(r);
    const double change = b.told - a.told;
    const bool moves = b.before - a.after > 0.5;
    QString seen = moves ? QStringLiteral("moves") : QStringLiteral("stays");
    if (!moves && (b.after != a.before || change != 0))
        seen += QStringLiteral(" (the player went from %1 to %2, told %3 to %4)")
                    .arg(a.before)
                    .arg(b.after)
                    .arg(a.told)
                    .arg(b.told);
    if (!a.inStep() || !b.inStep())
        seen += ", " + a.text() + ", " + b.text();
    return seen + ", told";
}

struct BusCase {
    const char* name;
    // Acts on the rig, track 1 playing; returns what it printed or found,
    // to which the status and title that follow are added.
    std::function<QString(BusRig&)> act;
    QString seen;
    QStringList signalsHeard;
};

// clang-format off
const std::vector<BusCase>& busCases() {
    static const std::vector<BusCase> c{
        {"a started track shows playing, with its title",
         [](BusRig& r) { return course(r, 0, r.made) + ", " + told(r).text(); },
         "on course, told: Playing T1", {}},
        {"play-pause pauses, telling only the status",
         [](BusRig&) { return ctl({"play-pause"}); }, ": Paused T1", {"PlaybackStatus=Paused"}},
        {"a position moves playback and is announced as a seek",
         [](BusRig& r) {
             QElapsedTimer since;
             since.start();
             ctl({"position", "6"});
             settle(r);
             return course(r, 6, since) + ", " + told(r).text();
         },
         "on course, told: Playing T1", {"Seeked 6.0"}},
        {"a position for another track is ignored",
         [](BusRig& r) {
             const double from = r.app.audioCurrentTime().value_or(-1);
             const QString error = call(r, "SetPosition", {QVariant::fromValue(QDBusObjectPath(
                 "/org/quavelark/track/t2")), qlonglong(9000000)});
             settle(r);
             const double at = r.app.audioCurrentTime().value_or(-1);
             return error + (at >= from && at < 9 ? QStringLiteral("on course")
                                                 : QStringLiteral("from %1 s to %2 s").arg(from).arg(at)) +
                    ", " + told(r).text();
         },
         "on course, told: Playing T1", {}},
        {"next shows the next visible track, playing throughout",
         [](BusRig&) { return ctl({"next"}); },
         ": Playing T2", {"Metadata=T2"}},
        {"the position advances with the player while playing",
         drift, "moves, told: Playing T1", {}},
        {"the position stays put while paused",
         [](BusRig& r) { r.app.toggle(); return drift(r); }, "stays, told: Paused T1", {"PlaybackStatus=Paused"}},
        {"stop pauses", [](BusRig&) { return ctl({"stop"}); }, ": Paused T1", {"PlaybackStatus=Paused"}},
        {"the volume is the slider's; a write from outside fails and changes nothing",
         [](BusRig& r) {
             r.app.views.volume->setDoubleValue(35);
             const QString before = ctl({"volume"});
             const QString written = ctlExit({"volume", "0.5"});
             return before + ' ' + (written.startsWith("exit ") && written != "exit 0" ? QString("refused") : written) + ' ' +
                    ctl({"volume"}) + ' ' + QString::number(r.app.views.volume->doubleValue());
         },
         "0.350000 refused 0.350000 35: Playing T1", {}},
        {"the rate is the speed; a write from outside is refused as read-only and changes nothing",
         [](BusRig& r) {
             r.app.playback.playRate = 1.5;
             return property(r, "Rate") + ' ' + setProperty(r, "Rate", 1.0) + ' ' +
                    property(r, "Rate") + ' ' + QString::number(r.app.playback.playRate) + ' ' +
                    property(r, "MinimumRate") + '-' + property(r, "MaximumRate");
         },
         "1.5 org.freedesktop.DBus.Error.PropertyReadOnly 1.5 1.5 0.5-2: Playing T1", {}},
    };
    return c;
}

struct RenderStatusCase {
    const char* name;
    bool renders; // else the render fails
    QString seen; // status and title while it renders, then the status
    QStringList statusesHeard;
};
const std::vector<RenderStatusCase> renderStatusCases{
    {"a render that plays", true, "Playing T2, then Playing", {}},
    {"a render that fails", false, "Playing T2, then Paused", {"PlaybackStatus=Paused"}},
};
// clang-format on

} // namespace

class NowPlayingTest : public QObject {
    Q_OBJECT
public:
    QStringList heard; // what the watching connection received, in order
    QDBusConnection watcher{QString()};

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

private slots:
    void initTestCase() {
        UserDefaults().clear();
        watcher = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
        watcher.connect({}, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged", this,
                        SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
        watcher.connect({}, kPath, kPlayer, "Seeked", this, SLOT(seeked(qlonglong)));
        watcher.connect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "NameOwnerChanged", this, SLOT(ownerChanged(QString, QString, QString)));
    }

    void commands_data() { test::addRows(simCases()); }
    void commands() {
        const SimCase& c = test::currentCase(simCases());
        SimRig r(platform::SimClock::Manual, 5, 9);
        if (c.before)
            c.before(r);
        const std::size_t from = r.center->publications.size();
        c.command(r);
        QCoreApplication::processEvents(); // the commands' queued work
        QVERIFY(test::waitRoadTaken(r.app));
        QCOMPARE(outcome(r, from), c.outcome);
    }

    // A track whose player finds at its first read that only the decode road
    // plays it (an MP3 whose length cannot be trusted) is still reported as
    // playing between its player's end and the hand-over to that road.
    void aTrackHandedToTheDecodeRoadShowsPlaying() {
        SimRig r(platform::SimClock::RealTime, 5, 9);
        const QString mp3 = QDir::temp().filePath(QStringLiteral("no-length.mp3"));
        QVERIFY(test::writeMp3(mp3, true, true, false));
        QVERIFY(test::playTaken(r.app, Track{4, mp3, QStringLiteral("T4"), "A", "B", 19.6, {}}));
        QVERIFY(r.app.playback.audio); // the direct road, as far as it knows
        // The end is reported through the event loop, which does not run here.
        QElapsedTimer waited;
        waited.start();
        while (r.app.isPlaying() && waited.elapsed() < 30000)
            QThread::msleep(1);
        QVERIFY(!r.app.isPlaying());
        QVERIFY(!r.app.playback.loading); // not handed over yet
        r.app.publish();
        QCOMPARE(r.center->publications.back().status, platform::PlaybackStatus::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(r.app.isPlaying() && r.app.playback.cacheURL, 30000);
        r.app.publish();
        QCOMPARE(r.center->publications.back().status, platform::PlaybackStatus::Playing);
    }

    // A track that has played to its end is still reported as playing until
    // its end is handled and the next track starts: a publication in between
    // (a tick's, on a busy machine) told the desktop it was paused.
    void aTrackAtItsEndShowsPlayingUntilItsEndIsHandled() {
        SimRig r(platform::SimClock::RealTime, 2, 2);
        r.app.play(r.track(1));
        QTRY_VERIFY_WITH_TIMEOUT(r.app.isPlaying(), 30000);
        QCOMPARE(r.app.playback.current->id, 1);
        // The end is reported through the event loop, which does not run here.
        QElapsedTimer waited;
        waited.start();
        while (r.app.isPlaying() && waited.elapsed() < 30000)
            QThread::msleep(1);
        QVERIFY(!r.app.isPlaying());
        QCOMPARE(r.app.playback.current->id, 1); // its end not handled yet
        r.app.publish();
        QCOMPARE(r.center->publications.back().status, platform::PlaybackStatus::Playing);
        QTRY_VERIFY_WITH_TIMEOUT(r.app.playback.current->id == 2 && r.app.isPlaying(), 30000);
        QCOMPARE(r.center->publications.back().status, platform::PlaybackStatus::Playing);
    }

    void busCommands_data() { test::addRows(busCases()); }
    void busCommands() {
        const BusCase& c = test::currentCase(busCases());
        BusRig r(platform::SimClock::RealTime, 10, 10);
        QVERIFY(test::playTaken(r.app, r.track(1)));
        QTRY_COMPARE_WITH_TIMEOUT(ctl({"status"}), QStringLiteral("Playing"), ql::test::kOutcomeMs);
        settle(r); // the start's own signals
        heard.clear();
        const QString seen = c.act(r) + ": ";
        settle(r); // the queued command and its signals
        QCOMPARE(seen + ctl({"status"}) + ' ' + ctl({"metadata", "xesam:title"}), c.seen);
        QCOMPARE(heard, c.signalsHeard);
    }

    // A track asked for is reported as playing while its render runs, and
    // as paused once the render has failed.
    void aTrackBeingRenderedShowsPlaying_data() { test::addRows(renderStatusCases); }
    void aTrackBeingRenderedShowsPlaying() {
        const RenderStatusCase& c = test::currentCase(renderStatusCases);
        BusRig r(platform::SimClock::RealTime, 10, 10);
        QVERIFY(test::playTaken(r.app, r.track(1)));
        QTRY_COMPARE_WITH_TIMEOUT(ctl({"status"}), QStringLiteral("Playing"), ql::test::kOutcomeMs);
        settle(r); // the start's own signals
        QSemaphore go;
        std::atomic<int> made = 0;
        test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
        test::fakes(r.app).analysers.renderFX = [&go, &c, &made](const RenderSnapshot& s) {
            go.acquire();
            if (!c.renders)
                return RenderResult{};
            const QString render = QDir::temp().filePath(QStringLiteral("np-render-%1-%2.caf")
                                                             .arg(++made)
                                                             .arg(QFileInfo(s.path).baseName()));
            const test::AudioShape noise{SF_FORMAT_CAF | SF_FORMAT_FLOAT, 44100, 2, 44100 * 3};
            return test::writeAudio(render, noise) ? RenderResult{render, {}} : RenderResult{};
        };
        heard.clear();
        r.app.play(r.track(2));
        QVERIFY(r.app.playback.loading);
        const QString during = ctl({"status"}) + ' ' + ctl({"metadata", "xesam:title"});
        go.release(2); // the track's render and the look-ahead's of track 3
        QTRY_VERIFY_WITH_TIMEOUT(!r.app.playback.loading, 10000);
        settle(r); // the signals of the end of the road
        QCOMPARE(during + ", then " + ctl({"status"}), c.seen);
        QStringList statuses; // the changes of status announced since the request
        for (const QString& line : std::as_const(heard))
            statuses << line.split(u' ').filter(QStringLiteral("PlaybackStatus="));
        QCOMPARE(statuses, c.statusesHeard);
    }

    void withoutABus() {
        static QStringList said;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { said << text; });
        {
            BusRig r(platform::SimClock::RealTime, 10, 10);
            QVERIFY(test::playTaken(r.app, r.track(1)));
            QTRY_VERIFY_WITH_TIMEOUT(r.app.isPlaying(), ql::test::kOutcomeMs);
            QCOMPARE(r.center->serviceName(), QString());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCOMPARE(QApplication::exec(), 0);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(
            said.filter(QRegularExpression("bus|mpris", QRegularExpression::CaseInsensitiveOption)),
            QStringList{});
    }

    // Last: it ends the event loop.
    void quitOverTheBus() {
        // WavPack: a file our player cannot open, so the decode road leaves a file in flight.
        const QString wv = QDir::temp().filePath(QStringLiteral("tone.wv"));
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=3", wv}));
        const QStringList ours{QStringLiteral("Quavelark-*")};
        auto r = std::make_unique<BusRig>(platform::SimClock::RealTime, 10, 10);
        r->app.play(Track{9, wv, QStringLiteral("Tone"), {}, {}, 3, {}});
        QTRY_VERIFY_WITH_TIMEOUT(r->app.isPlaying(), 30000);
        // The decode; the cover's file ("Quavelark-art-*.jpg") may come and
        // go beside it while the track starts.
        QCOMPARE(test::ourFiles({QStringLiteral("Quavelark-*.caf")}).size(), 1);
        heard.clear(); // and a playing track's signals may still arrive
        watcher.asyncCall(QDBusMessage::createMethodCall(
            r->center->serviceName(), kPath, QStringLiteral("org.mpris.MediaPlayer2"), "Quit"));
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(r->app.core.terminated);
        r.reset();
        QTRY_VERIFY(heard.contains(QStringLiteral("name gone")));
        QCOMPARE(heard.mid(heard.size() - 2),
                 QStringList({"Metadata={} PlaybackStatus=Stopped", "name gone"}));
        QCOMPARE(test::ourFiles(ours), QStringList{});
    }
};

QL_TEST_MAIN(NowPlayingTest)
#include "NowPlayingTest.moc"
