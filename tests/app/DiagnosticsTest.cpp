// Guards against: a failure that leaves nothing to read, a normal run that
// prints, a path at the default level, a line written by the feeder thread.
// The program's log lines as a maintainer reads them on standard error: with
// the debug lines asked for, each event leaves a line in its subsystem's
// category; at the default levels a normal play prints nothing.
#include "app/App.h"
#include "app/ControllerLogCategories.h"
#include "app/JSONStore.h"
#include "app/LogCategories.h"
#include "app/Records.h"
#include "app/UserDefaults.h"
#include "platform/LogCategories.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/OutputEngine.h"
#include "remote/RemoteServer.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LogLines.h"
#include "OpenSettled.h"
#include "PlayInTime.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>

#include <sndfile.h>

#include <functional>

using namespace ql;
using namespace ql::platform;
using test::LogLine;
using test::LogLines;
using test::playInTime;

namespace {

using Stats = QHash<QString, PlayStat>;
constexpr int kRate = 44100;
const QString kDebugOn = QStringLiteral("quavelark.*.debug=true");

// Two tracks of five seconds on the manual clock of Analog B, the default
// device (nothing plays unless the test lets the device play it), and a
// third whose file is not audio.
struct Stage : test::TrackIds<Stage> {
    std::shared_ptr<SimSinkControl> analogB = std::make_shared<SimSinkControl>(SimClock::Manual);
    test::RiggedApp rig{test::twoOutputs(),
                        SimOutputs{SimClock::Manual, {{test::kAnalogB, analogB}}}};
    App& app = rig.app;

    Stage() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.maxQuality = false; // the direct road
        for (qint64 id = 1; id <= 2; ++id) {
            const QString name = QStringLiteral("log%1.wav").arg(id);
            add(id, test::writeTemp(name, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2, 5 * kRate}),
                5);
        }
        const QString junk = QDir::tempPath() + "/log3.flac";
        if (!test::writeFile(junk, "not audio at all"))
            qFatal("cannot write %s", qPrintable(junk));
        add(3, junk, 5);
        show({1, 2});
    }
    bool play(qint64 id) { return test::playTaken(app, track(id)) && app.isPlaying(); }
};

// A folder of the test's home that cannot be written.
QString readOnlyFolder(const QString& name) {
    const QString dir = QDir::homePath() + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    return dir;
}

// A line the event leaves: its category, level and a part of its text.
struct Expected {
    const char* category;
    QtMsgType type;
    QString holds;
};

struct EventCase {
    const char* name;
    std::function<void(Stage&)> act;
    std::vector<Expected> lines;
};

// clang-format off
const std::vector<EventCase> eventCases{
    {"a play: the request, its road, the device", [](Stage& s) { QVERIFY(s.play(1)); },
     {{"quavelark.playback", QtDebugMsg, "play track 1 "},
      {"quavelark.playback", QtDebugMsg, "track 1 plays on the direct road"},
      {"quavelark.audio", QtDebugMsg, "“Analog B” opened at 44100 Hz, 32-bit float, 2 channels"}}},
    {"a file our player cannot open: the decode road, and why it failed",
     [](Stage& s) { s.app.play(s.track(3)); },
     {{"quavelark.playback", QtDebugMsg, "track 3: our player does not open it"},
      {"quavelark.playback", QtDebugMsg, "track 3 takes the decode road"},
      {"quavelark.playback", QtWarningMsg, "track 3 did not play: the decoder failed"}}},
    {"a pause", [](Stage& s) { QVERIFY(s.play(1)); s.app.toggle(); QVERIFY(!s.app.isPlaying()); },
     {{"quavelark.playback", QtDebugMsg, "pause track 1 at"}}},
    // Found by the feeder, told by the upkeep on the main thread.
    {"the device is lost while playing",
     [](Stage& s) {
         QVERIFY(s.play(1));
         QVERIFY(s.rig.hw().unplug(test::kAnalogB));
         s.analogB->advance(kRate); // room for the write that finds it gone
     },
     {{"quavelark.audio", QtWarningMsg, "lost"},
      {"quavelark.playback", QtWarningMsg, "playback stopped by an error"}}},
    // The device is handed more than the engine has queued: it finds its
    // queue empty while the track runs.
    {"the device runs dry while playing",
     [](Stage& s) {
         QVERIFY(s.play(1));
         QTRY_VERIFY_WITH_TIMEOUT(s.analogB->queuedFrames() > 0, ql::test::kOutcomeMs);
         s.analogB->advance(2 * kRate);
     },
     {{"quavelark.audio", QtWarningMsg, "ran dry while playing"}}},
    {"a store write fails",
     [](Stage&) {
         const QString dir = readOnlyFolder("read-only");
         QVERIFY(!JSONStore(dir).writeBytes(stores::kPlayStats, "{}"));
     },
     {{"quavelark.store", QtWarningMsg, "could not save play-stats.json: "}}},
    {"a damaged store is set aside",
     [](Stage&) {
         const QString dir = QDir::homePath() + "/damaged";
         QVERIFY(test::writeFile(dir + "/" + stores::kPlayStats, "{ not json"));
         const JSONStore store(dir);
         QVERIFY(!store.load<Stats>(stores::kPlayStats));
         QCOMPARE(store.setAsideDamaged().size(), std::size_t(1));
     },
     {{"quavelark.store", QtWarningMsg,
       "set aside the damaged play-stats.json as play-stats.json.corrupt-"}}},
    {"the library backend ends",
     [](Stage& s) {
         const QString script = QDir::homePath() + "/ends.sh";
         QVERIFY(test::writeFile(script, "exit 3\n"));
         test::fakes(s.app).tools.backendCommand = [script] { return QStringList{"/bin/sh", script}; };
         s.app.startBackend();
     },
     {{"quavelark.backend", QtWarningMsg, "the library backend ended with exit code 3"}}},
    // Never with the token, which is the key to the player.
    {"the remote server cannot listen",
     [](Stage&) {
         QTcpServer other;
         QVERIFY(other.listen(QHostAddress::LocalHost));
         remote::RemoteServer server("secret-token", other.serverPort(), QHostAddress::LocalHost);
         QVERIFY(!server.start().isEmpty());
     },
     {{"quavelark.remote", QtWarningMsg, "could not listen on port"}}},
};
// clang-format on

// Every category, each on for warnings and off for debug lines by default.
const std::vector<std::pair<const char*, const QLoggingCategory& (*)()>> kCategories{
    {"quavelark.store", &lcStore},         {"quavelark.audio", &platform::lcAudio},
    {"quavelark.alsa", &platform::lcAlsa}, {"quavelark.playback", &lcPlayback},
    {"quavelark.library", &lcLibrary},     {"quavelark.backend", &lcBackend},
    {"quavelark.remote", &lcRemote},
};

} // namespace

class DiagnosticsTest : public QObject {
    Q_OBJECT
private slots:
    void eachEventLeavesALine_data() { test::addRows(eventCases); }
    void eachEventLeavesALine() {
        const EventCase& c = test::currentCase(eventCases);
        const LogLines log(kDebugOn);
        {
            Stage s;
            c.act(s);
            if (QTest::currentTestFailed())
                return;
            for (const Expected& e : c.lines)
                QTRY_VERIFY2_WITH_TIMEOUT(LogLines::has(e.category, e.type, e.holds),
                                          qPrintable(e.holds + LogLines::dump()), 15000);
        }
        // A warning names a file, never where it is (the test's home holds
        // every file here); and the feeder, which must never block, wrote none.
        const QString home = QFileInfo(QDir::homePath()).path();
        for (const LogLine& l : LogLines::ours()) {
            QVERIFY2(l.type == QtDebugMsg || !l.text.contains(home), qPrintable(l.text));
            QVERIFY2(l.thread != "ql-feeder", qPrintable(l.text));
            QVERIFY2(!l.text.contains("secret-token"), qPrintable(l.text));
        }
    }

    // A save that fails the same way again (its owner tries on every change)
    // is warned of once; the debug line tells each try and the full path.
    void aRepeatedStoreFailureIsWarnedOfOnce() {
        const LogLines log(kDebugOn);
        const QString dir = readOnlyFolder("read-only-twice");
        for (int i = 0; i < 3; ++i)
            QVERIFY(!JSONStore(dir).writeBytes(stores::kLoudness, "{}"));
        int warnings = 0, debugLines = 0;
        for (const LogLine& l : LogLines::ours()) {
            warnings += l.type == QtWarningMsg && l.text.contains("loudness.json");
            debugLines += l.type == QtDebugMsg && l.text.contains(dir + "/loudness.json");
        }
        QCOMPARE(warnings, 1);
        QCOMPARE(debugLines, 3);
    }

    // At the default levels a play, a pause, a resume and the step to the
    // next track at the end print nothing, the upkeep's looks included.
    void aNormalPlayPrintsNothingByDefault() {
        const LogLines log{QString()};
        for (const auto& [name, category] : kCategories) {
            QCOMPARE(category().categoryName(), name);
            QVERIFY2(category().isWarningEnabled() && !category().isDebugEnabled(), name);
        }
        Stage s;
        QVERIFY(s.play(1));
        playInTime(*s.analogB, kRate);
        QTRY_VERIFY_WITH_TIMEOUT(s.app.playback.audio->currentTime() > 0.5, ql::test::kOutcomeMs);
        s.app.toggle();
        QVERIFY(!s.app.isPlaying());
        s.app.toggle();
        QVERIFY(s.app.isPlaying());
        playInTime(*s.analogB, 5 * kRate);
        QTRY_COMPARE_WITH_TIMEOUT(s.currentId(), std::optional<qint64>(2), 15000);
        playInTime(*s.analogB, kRate / 2);
        QTest::qWait(3 * OutputEngine::kUpkeepMs);
        QVERIFY2(LogLines::ours().isEmpty(), qPrintable(LogLines::dump()));
    }
};

QL_TEST_MAIN(DiagnosticsTest)
#include "DiagnosticsTest.moc"
