// Effects from the panel to the device: a three-track list with "베이스
// 부스트" on, maximum quality on and bit-perfect off, the real ffmpeg, and
// the simulated device recording what it plays. The first track is rendered
// and sounds different from its file, the second starts from the prefetched
// render, and a quit during a prefetch ends its ffmpeg and leaves no file.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXEdit.h"
#include "effects/FXPanel.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThreadPool>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::tempFile;

namespace {
constexpr int kWaitMs = 30000;
const QString kMarker = QStringLiteral("(before)");

QStringList fxFiles() {
    return QDir::temp().entryList({QStringLiteral("Quavelark-fx-*")}, QDir::Files);
}
} // namespace

class FXEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void renderedPrefetchedAndEndedAtQuit() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        auto sink = std::make_shared<SimSinkControl>(SimClock::Manual, 44100 * 2 * 4 * 4);
        test::RiggedApp rig{test::twoOutputs(),
                            SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
        App& app = rig.app;
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = true;
        app.playback.bitPerfect = false;
        choosePreset(app.fxPanel->state, QStringLiteral("베이스 부스트"));
        QVERIFY(app.fxPanel->signature());
        // Track 3 stands for a long render: its ffmpeg leaves a partial file
        // and runs until it is ended.
        const QString slow = tempFile(QStringLiteral("slow-fx-ffmpeg.sh"));
        QVERIFY(test::writeExecutable(slow, "for out; do :; done\n"
                                            "case \"$5\" in *slow*) printf partial > \"$out\"; "
                                            "exec sleep 60;; esac\nexec ffmpeg \"$@\"\n"));
        app.seams.decodeProgram = [slow] { return slow; };

        std::vector<Track> list;
        for (qint64 id = 1; id <= 3; ++id) {
            test::AudioShape shape;
            shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
            shape.frames = 3 * 44100;
            shape.seed = unsigned(id);
            const QString path =
                tempFile(id == 3 ? "fx-e2e-slow.flac" : QStringLiteral("fx-e2e-%1.flac").arg(id));
            QVERIFY(test::writeAudio(path, shape));
            list.push_back(Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 3, {}});
        }
        app.library.rows = list;
        app.browser.filtered = list;

        // Track 1: rendered, then played; it sounds different from its file.
        app.play(list[0]);
        QCOMPARE(app.status->stringValue(), QStringLiteral("🎛 사운드 효과 적용 중…"));
        QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, kWaitMs));
        QCOMPARE(app.status->stringValue(), QStringLiteral("🎛 사운드 효과 적용됨"));
        QVERIFY(app.isPlaying());
        sink->advance(8192);
        QVERIFY(QTest::qWaitFor([&] { return sink->framesWritten() >= 8192; }, kWaitMs));
        const std::vector<double> heard = sink->recordedDouble();
        const test::Samples source = test::readSamples(list[0].path);
        double difference = 0;
        for (std::size_t i = 0; i < 8192 * 2 && i < heard.size(); ++i)
            difference += std::abs(heard[i] - source.data[i] / 2147483648.0);
        QVERIFY2(difference > 1.0, qPrintable(QString::number(difference)));

        // Track 2: from the prefetched render, without a render message.
        QVERIFY(QTest::qWaitFor([&] { return app.playback.fxCache.has_value(); }, kWaitMs));
        const QString cached = app.playback.fxCache->path;
        app.status->setStringValue(kMarker);
        app.play(list[1]);
        QCOMPARE(app.status->stringValue(), kMarker);
        QVERIFY(app.isPlaying());
        QCOMPARE(app.playback.audio->path(), cached);

        // Track 3's prefetch is running now: the quit ends it at once.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !fxFiles().filter("Quavelark-fx-").isEmpty() &&
                       app.playback.fxRendering.has_value();
            },
            kWaitMs));
        QTest::qWait(200);
        QElapsedTimer quitting;
        quitting.start();
        app.applicationWillTerminate();
        app.renderQueue->waitForDone();
        QVERIFY2(quitting.elapsed() < 5000, qPrintable(QString::number(quitting.elapsed())));
        QCoreApplication::processEvents();
        QCOMPARE(fxFiles(), QStringList());
    }
};

QL_TEST_MAIN(FXEndToEndTest)
#include "FXEndToEndTest.moc"
