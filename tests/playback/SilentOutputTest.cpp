// Guards against: a play heard nowhere reported as a success: on the start-up fallback without
// a sound device, nothing told the user that the track playing is silent.
// The launched controller in English on the simulated rig, flagged as the start-up fallback or
// as hardware; 5 s tracks, maximum quality off so that they take the direct road (a file our
// player cannot open, the decode road). Every manual message of the status line is recorded
// as it takes the line.
#include "app/App.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <sndfile.h>

using namespace ql;

namespace {

const QString kNotice =
    QStringLiteral("🔇 No usable sound device: playing silently (simulated output).");

struct Case {
    const char* name;
    bool fallback;     // the platform is the start-up fallback
    QStringList plays; // "wav" (5 s of noise), "wv" (decoded first), "missing"
    QString outcome;   // notices told, then what plays at the end
};
// clang-format off
const std::vector<Case> kCases{
    {"the fallback: told when the first track starts", true, {"wav"},
     "told 1, playing, still on the line"},
    {"not again at the next track", true, {"wav", "wav", "wav"}, "told 1, playing, still on the line"},
    {"a track decoded first: told when it starts", true, {"wv"}, "told 1, playing, still on the line"},
    {"a track that never starts tells nothing; the next that does, once", true,
     {"missing", "wav", "wav"}, "told 1, playing, still on the line"},
    {"a track that never starts: nothing", true, {"missing"}, "told 0, stopped"},
    {"a simulated rig that stands for hardware: nothing", false, {"wav", "wav"}, "told 0, playing"},
};
// clang-format on

QString file(const QString& kind) {
    if (kind == QLatin1String("wav"))
        return test::writeTemp(QStringLiteral("silent-5s.wav"),
                               {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, .frames = 5 * 44100});
    if (kind == QLatin1String("wv")) {
        const QString wv = test::tempFile(QStringLiteral("silent-5s.wv"));
        if (!QFile::exists(wv) && !test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=5", wv}))
            qFatal("cannot write %s", qPrintable(wv));
        return wv;
    }
    return test::tempFile(QStringLiteral("silent-missing.flac"));
}

// Runs the event loop until everything queued so far has run.
void settle() {
    bool reached = false;
    QMetaObject::invokeMethod(
        qApp, [&reached] { reached = true; }, Qt::QueuedConnection);
    QVERIFY(QTest::qWaitFor([&reached] { return reached; }, 20000));
}

} // namespace

class SilentOutputTest : public QObject {
    Q_OBJECT
private slots:
    void notice_data() { test::addRows(kCases); }
    void notice() {
        const Case& c = test::currentCase(kCases);
        test::clearSettings();
        test::storeMaxQualityOff();
        platform::Platform plat = platform::makeSimulatedPlatform();
        plat.noSoundDevice = c.fallback;
        test::LaunchedApp l("en", {}, std::move(plat));
        App& app = *l;
        QStringList shown; // each manual message as it takes the line
        app.status->setClock([&] {
            if (shown.value(shown.size() - 1) != app.status->text())
                shown << app.status->text();
            return qint64(0);
        });
        qint64 id = 0;
        for (const QString& kind : c.plays) {
            app.play(Track{++id, file(kind), QStringLiteral("T%1").arg(id), {}, {}, 5, {}});
            // A start ends on the direct road at once, on the decode road later;
            // a missing file ends when ffmpeg gives up.
            QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, 30000));
            settle();
            app.status->showWaiting(); // the tick's turn for what waits
        }
        QCOMPARE(QStringLiteral("told %1, %2%3")
                     .arg(shown.count(kNotice))
                     .arg(app.isPlaying() ? "playing" : "stopped")
                     .arg(app.status->text() == kNotice ? ", still on the line" : ""),
                 c.outcome);
    }
};

QL_TEST_MAIN(SilentOutputTest)
#include "SilentOutputTest.moc"
