// Guards against: a stale or mismatched effects render played for a track.
// On the simulated rig: render identity, prefetch cache and changed settings with a stand-in
// renderer; the whole road with the real ffmpeg; the now-playing lines from the probe.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXEdit.h"
#include "effects/FXPanel.h"
#include "effects/PluginCatalog.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "ReadersSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSemaphore>
#include <QThreadPool>

#include <sndfile.h>

using namespace ql;
using test::tempFile;

namespace {

const QString kMarker = QStringLiteral("(before)");
constexpr int kWaitMs = 30000;

QString writeTone(const QString& path, int format, int rate, int channels, double seconds) {
    test::AudioShape shape{format, rate, channels, std::int64_t(seconds * rate)};
    if (!test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}
Track trackAt(qint64 id) {
    return Track{id, tempFile(QStringLiteral("t%1.flac").arg(id)), {}, {}, {}, 50, {}};
}
// `standIn`: a renderer that waits for `go` and writes a 50 s float file.
struct Rig {
    std::shared_ptr<platform::SimSinkControl> sink =
        std::make_shared<platform::SimSinkControl>(platform::SimClock::Manual, 44100 * 2 * 4 * 4);
    test::RiggedApp rig{test::twoOutputs(),
                        platform::SimOutputs{platform::SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    std::optional<QString> signature = QStringLiteral("eq:rock");
    std::vector<RenderSnapshot> renders;
    QSemaphore go{1000};

    explicit Rig(bool standIn = true) {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = false;
        if (standIn) {
            test::fakes(app).analysers.fxSignature = [this] { return signature; };
            test::fakes(app).analysers.renderFX = [this](const RenderSnapshot& s) {
                go.acquire();
                QMetaObject::invokeMethod(app.status, [this, s] { renders.push_back(s); });
                if (s.stop->requested()) // as the render ends when stopped: no file
                    return RenderResult{};
                const QString file = tempFile("Quavelark-fx-" + QUuid::createUuid().toString());
                return RenderResult{writeTone(file, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 8000, 1, 50),
                                    {}};
            };
        }
        app.status->setStringValue(kMarker);
    }
    ~Rig() {
        go.release(1000);
        app.renderQueue->waitForDone();
    }
    void settle() { QVERIFY(test::readersSettled({app.renderQueue.get()})); }
    bool roadOver() {
        return QTest::qWaitFor([this] { return !app.playback.loading; }, kWaitMs);
    }
};

// clang-format off
enum class Meanwhile { Nothing, SamePrefetch, SettingsChange, CachedThenTrack3, Track3WhileRendering };
struct PrefetchCase { const char* name; bool bitPerfect; int upMode; std::optional<QString> signature; bool target; Meanwhile meanwhile; std::optional<QString> identity; int renders; std::optional<qint64> cached; int filesLeft; };
const std::vector<PrefetchCase> prefetchCases{
    {"bit-perfect: nothing rendered", true, 2, "eq:rock", true, Meanwhile::Nothing, std::nullopt, 0, std::nullopt, 0},
    {"effects off, mode 2 with a target: rendered without a chain", false, 2, std::nullopt, true, Meanwhile::Nothing, "-|up2", 1, 2, 1},
    {"effects off, mode 2 without a target: nothing rendered", false, 2, std::nullopt, false, Meanwhile::Nothing, "-|up2", 0, std::nullopt, 0},
    {"effects on, mode 0: the signature", false, 0, "eq:rock", false, Meanwhile::Nothing, "eq:rock", 1, 2, 1},
    {"two prefetches for one key render once", false, 0, "eq:rock", false, Meanwhile::SamePrefetch, "eq:rock", 1, 2, 1},
    {"a settings change during a prefetch deletes its file", false, 0, "eq:rock", false, Meanwhile::SettingsChange, "eq:rock", 1, std::nullopt, 0},
    {"another next track's render replaces the cached one", false, 0, "eq:rock", false, Meanwhile::CachedThenTrack3, "eq:rock", 2, 3, 1},
    {"another next track while rendering: the old render stopped", false, 0, "eq:rock", false, Meanwhile::Track3WhileRendering, "eq:rock", 2, 3, 1},
};

struct DroppedCase { const char* name; QString uri; QString status; };
const std::vector<DroppedCase> droppedCases{
    {"a plug-in that is not installed", "urn:quavelark:gone", "Couldn't load the plug-in: Slot A"},
    {"a plug-in whose channels do not fit", "http://plugin.org.uk/swh-plugins/plate", "Couldn't load the plug-in: Slot A (this plug-in's channel layout is not supported)"},
};

struct ChangeCase { const char* name; bool playing; bool effectsAfter; QString status; bool renders; };
const std::vector<ChangeCase> changeCases{
    {"no current track: only the cache goes", false, true, kMarker, false},
    {"paused at 42 s: rendered again, plays from there", true, true, "🎛 사운드 효과 적용 중… (잠시 소리가 멈췄다 이어집니다)", true},
    {"effects now off: plain playback from 42 s", true, false, "🎛 사운드 효과를 껐습니다.", false},
};

struct LabelCase { const char* name; QString album; QString artist; StreamFacts facts; bool overtaken; QString artistLine; QString formatLine; };
const std::vector<LabelCase> labelCases{
    {"album and artist on two lines", "Album", "Artist", {"flac", 44100, 16, 1, 3}, false, "Album\nArtist", "FLAC | 16/44.1kHz Mono"},
    {"no album or artist: an empty line", "", "", {"mp3", 44100, 0, 2, 3}, false, "", "MP3 | 44.1kHz Stereo"},
    {"an artist alone, without a line break", "", "Artist", {"flac", 96000, 24, 2, 3}, false, "Artist", "FLAC | 24/96kHz Stereo"},
    {"six channels", "", "", {"aac", 48000, 0, 6, 3}, false, "", "AAC | 48kHz 6ch"},
    {"a failed probe leaves the line empty", "Album", "", StreamFacts{}, false, "Album", ""},
    {"no codec or channel count: those parts left out", "", "", {"", 48000, 24, 0, 3}, false, "", "24/48kHz"},
    {"a late answer for the previous track is dropped", "A", "", {"flac", 96000, 24, 2, 3}, true, "B", "MP3 | 48kHz Stereo"},
};
// clang-format on

} // namespace

class FXCacheTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (int id = 1; id <= 3; ++id)
            writeTone(trackAt(id).path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 50);
    }
    void cleanup() { test::removeFxFiles(); }

    void prefetch_data() { test::addRows(prefetchCases); }
    void prefetch() {
        const PrefetchCase& c = test::currentCase(prefetchCases);
        Rig r;
        r.signature = c.signature;
        r.app.playback.bitPerfect = c.bitPerfect;
        r.app.playback.upMode = c.upMode;
        test::fakes(r.app).analysers.upsampleTarget = [&c](double rate, int,
                                                           const std::vector<double>&) {
            return c.target ? std::optional(rate * 2) : std::nullopt;
        };
        choosePreset(r.app.fxPanel->state,
                     c.signature ? QStringLiteral("록") : QStringLiteral("끔"));
        QCOMPARE(r.app.fxNeeded(trackAt(2)), c.renders > 0);
        QCOMPARE(r.app.fxChainActive(), c.identity);
        r.go.acquire(1000); // renders wait
        r.app.prefetchFX(trackAt(2));
        if (c.meanwhile == Meanwhile::SamePrefetch)
            r.app.prefetchFX(trackAt(2));
        if (c.meanwhile == Meanwhile::SettingsChange)
            r.signature = QStringLiteral("eq:jazz");
        if (c.meanwhile == Meanwhile::CachedThenTrack3) {
            r.go.release();
            QVERIFY(QTest::qWaitFor([&] { return r.app.playback.fxCache.has_value(); }, kWaitMs));
            r.app.prefetchFX(trackAt(3));
        }
        if (c.meanwhile == Meanwhile::Track3WhileRendering)
            r.app.prefetchFX(trackAt(3));
        r.go.release(1000);
        r.settle();
        QCOMPARE(int(r.renders.size()), c.renders);
        const auto stopped = std::count_if(r.renders.begin(), r.renders.end(), [](const auto& s) {
            return s.stop->requested() && s.path == trackAt(2).path;
        });
        QCOMPARE(int(stopped), c.meanwhile == Meanwhile::Track3WhileRendering ? 1 : 0);
        if (c.renders) // the chain only with effects on ("-af" only then)
            QCOMPARE(r.renders.front().chain.has_value(), c.signature.has_value());
        QCOMPARE(r.app.playback.fxRendering, std::nullopt);
        QCOMPARE(r.app.playback.fxCache.has_value(), c.cached.has_value());
        if (c.cached)
            QCOMPARE(r.app.playback.fxCache->key, App::fxKey(trackAt(*c.cached), *c.identity));
        QCOMPARE(test::fxFiles().size(), c.filesLeft);
    }

    void fxChanged_data() { test::addRows(changeCases); }
    void fxChanged() {
        const ChangeCase& c = test::currentCase(changeCases);
        Rig r;
        r.app.prefetchFX(trackAt(3));
        r.settle();
        const QString cached = r.app.playback.fxCache->path;
        if (c.playing) {
            r.app.play(trackAt(1));
            QVERIFY(r.roadOver());
            r.app.playback.audio->setCurrentTime(42);
            r.app.toggle();
        }
        const std::size_t rendersBefore = r.renders.size();
        if (!c.effectsAfter)
            r.signature.reset();
        r.app.status->setStringValue(kMarker);

        r.app.fxChanged();
        QCOMPARE(r.app.status->stringValue(), c.status);
        QVERIFY(!QFile::exists(cached));
        QCOMPARE(r.app.playback.fxCache, std::nullopt);
        QVERIFY(r.roadOver());
        r.settle();
        QCOMPARE(r.renders.size() > rendersBefore, c.renders);
        QCOMPARE(r.app.isPlaying(), c.playing);
        if (c.playing)
            QVERIFY(std::abs(r.app.playback.audio->currentTime() - 42) < 0.2);
    }

    // "베이스 부스트" with maximum quality and the real ffmpeg; track 3's
    // ffmpeg stands for a long render that runs until it is ended.
    void renderedPrefetchedAndEndedAtQuit() {
        Rig r(false);
        App& app = r.app;
        app.playback.maxQuality = true;
        choosePreset(app.fxPanel->state, QStringLiteral("베이스 부스트"));
        const QString slow = tempFile(QStringLiteral("slow-fx-ffmpeg.sh"));
        test::writeExecutable(slow, "for out; do :; done\ncase \"$5\" in *slow*) printf partial > "
                                    "\"$out\"; exec sleep 60;; esac\nexec ffmpeg \"$@\"\n");
        test::fakes(app).tools.decodeProgram = [slow] { return slow; };
        std::vector<Track> list;
        for (qint64 id = 1; id <= 3; ++id) {
            const QString path = tempFile(
                QStringLiteral("fx-e2e-%1.flac").arg(id == 3 ? "slow" : QString::number(id)));
            writeTone(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 3);
            list.push_back(Track{id, path, {}, {}, {}, 3, {}});
        }
        app.browser.filtered = app.library.rows = list;

        app.play(list[0]);
        QCOMPARE(app.status->stringValue(), QStringLiteral("🎛 사운드 효과 적용 중…"));
        QVERIFY(r.roadOver());
        QCOMPARE(app.status->stringValue(), QStringLiteral("🎛 사운드 효과 적용됨"));
        r.sink->advance(8192);
        QVERIFY(QTest::qWaitFor([&] { return r.sink->framesWritten() >= 8192; }, kWaitMs));
        const std::vector<double> heard = r.sink->recordedDouble();
        const std::vector<std::int32_t> file = test::readSamples(list[0].path).data;
        QVERIFY(!std::equal(heard.begin(), heard.begin() + 16384, file.begin(),
                            [](double h, std::int32_t f) { return h * 2147483648.0 == f; }));

        QVERIFY(QTest::qWaitFor([&] { return app.playback.fxCache.has_value(); }, kWaitMs));
        const QString cached = app.playback.fxCache->path;
        app.status->setStringValue(kMarker);
        app.play(list[1]); // from the prefetched render, without a message
        QCOMPARE(app.status->stringValue(), kMarker);
        QCOMPARE(app.playback.audio->path(), cached);

        QVERIFY(app.playback.fxRendering.has_value()); // track 3's, running
        QTest::qWait(200);
        QElapsedTimer quitting;
        quitting.start();
        app.applicationWillTerminate();
        app.renderQueue->waitForDone();
        QVERIFY2(quitting.elapsed() < 5000, qPrintable(QString::number(quitting.elapsed())));
        QCOMPARE(test::fxFiles(), QStringList());
    }

    // The real render with a plug-in stage that fails: ffmpeg's result plays,
    // the status line tells why in English, and only the playing file is left.
    void droppedPluginStage_data() { test::addRows(droppedCases); }
    void droppedPluginStage() {
        const DroppedCase& c = test::currentCase(droppedCases);
        Rig r(false);
        L10n::setLanguage("en");
        test::fakes(r.app).analysers.renderFX = [](RenderSnapshot s) {
            s.pluginRenderer = QStringLiteral(QL_LV2_RENDER);
            return renderFXBlocking(s);
        };
        const PluginCodes codes = pluginCodes(c.uri, false);
        r.app.fxPanel->state.enabled = true;
        r.app.fxPanel->state.plugins[0] = {"Slot A", codes.type, codes.sub, codes.man, {}};
        const QString path = tempFile(QStringLiteral("dropped-stage.flac"));
        writeTone(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 1);
        r.app.play(Track{1, path, {}, {}, {}, 1, {}});
        QVERIFY(r.roadOver());
        QCOMPARE(r.app.status->stringValue(), c.status);
        QVERIFY(r.app.isPlaying());
        QCOMPARE(test::fxFiles(), QStringList{QFileInfo(r.app.playback.audio->path()).fileName()});
    }

    void infoLabels_data() { test::addRows(labelCases); }
    void infoLabels() {
        const LabelCase& c = test::currentCase(labelCases);
        Rig r;
        QSemaphore firstMayAnswer;
        test::fakes(r.app).analysers.probeAudio = [&](const QString& path) {
            if (path == "b.flac")
                return StreamFacts{"mp3", 48000, 0, 2, 1};
            firstMayAnswer.acquire();
            return c.facts;
        };
        const Track a{1, "a.flac", "A", c.artist, c.album, 3, {}},
            b{2, "b.flac", "B", {}, "B", 1, {}};
        for (const Track& t : c.overtaken ? std::vector{a, b} : std::vector{a}) {
            r.app.playback.current = t;
            r.app.updateInfoLabels(t);
            QCOMPARE(r.app.views.infoLabel->text(), QString());
        }
        QCOMPARE(r.app.views.artistLabel->text(), c.artistLine); // at once
        if (c.overtaken)
            QVERIFY(QTest::qWaitFor([&] { return !r.app.views.infoLabel->text().isEmpty(); }));
        firstMayAnswer.release();
        QVERIFY(test::readersSettled());
        QCOMPARE(r.app.views.infoLabel->text(), c.formatLine);
    }
};

QL_TEST_MAIN(FXCacheTest)
#include "FXCacheTest.moc"
