// The render identity, the prefetch cache and the reaction to changed
// settings, with a stand-in renderer on the simulated rig: what gets
// rendered with which chain, what the cache holds, which files are left and
// what the status line and the player do.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QSemaphore>
#include <QThreadPool>

#include <sndfile.h>

using namespace ql;
using test::tempFile;

namespace {

const QString kMarker = QStringLiteral("(before)");
constexpr int kWaitMs = 30000;

// A float CAF of 50 s, 8 kHz mono, as a renderer leaves one.
QString floatCaf(const QString& name) {
    test::AudioShape shape;
    shape.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    shape.rate = 8000;
    shape.channels = 1;
    shape.frames = 50 * 8000;
    const QString path = tempFile(name);
    if (!test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

Track trackAt(qint64 id) {
    return Track{id, tempFile(QStringLiteral("t%1.flac").arg(id)), {}, {}, {}, 50, {}};
}

struct Rig {
    std::shared_ptr<platform::SimSinkControl> sink =
        std::make_shared<platform::SimSinkControl>(platform::SimClock::Manual);
    test::RiggedApp rig{test::twoOutputs(),
                        platform::SimOutputs{platform::SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    std::optional<QString> signature = QStringLiteral("eq:rock");
    std::vector<RenderSnapshot> renders; // as the renderer saw them
    QSemaphore go{1000};                 // the renderer waits for one per render

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = false;
        app.seams.fxSignature = [this] { return signature; };
        app.seams.renderFX = [this](const RenderSnapshot& s) {
            go.acquire();
            QMetaObject::invokeMethod(app.status, [this, s] { renders.push_back(s); });
            static int n = 0;
            return RenderResult{floatCaf(QStringLiteral("Quavelark-fx-test-%1.caf").arg(++n)), {}};
        };
        app.status->setStringValue(kMarker);
    }
    ~Rig() {
        go.release(1000);
        app.renderQueue->waitForDone();
    }
    void settle() {
        app.renderQueue->waitForDone();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

QStringList fxFiles() {
    return QDir::temp().entryList({QStringLiteral("Quavelark-fx-*")}, QDir::Files);
}

// ---- identity ----
struct IdentityCase {
    const char* name;
    bool bitPerfect;
    int upMode;
    std::optional<QString> signature;
    bool target; // the upsampling stand-in gives one
    bool needed;
    std::optional<QString> identity;
};

// clang-format off
const std::vector<IdentityCase>& identityCases() {
    static const std::vector<IdentityCase> cases{
        {"bit-perfect: nothing to render", true, 2, "eq:rock", true, false, std::nullopt},
        {"effects off, mode 2 with a target", false, 2, std::nullopt, true, true, "-|up2"},
        {"effects off, mode 2 without a target", false, 2, std::nullopt, false, false, "-|up2"},
        {"effects on, mode 0: the signature", false, 0, "eq:rock", false, true, "eq:rock"},
        {"nothing on", false, 0, std::nullopt, true, false, std::nullopt},
    };
    return cases;
}
// clang-format on

// ---- the prefetch cache ----
enum class Scenario { TwoForOneKey, SettingsChangeMidway, AnotherNextTrack, BitPerfect };
struct PrefetchCase {
    const char* name;
    Scenario scenario;
    int renders;
    std::optional<qint64> cachedTrack;
    int filesLeft;
};

const std::vector<PrefetchCase>& prefetchCases() {
    static const std::vector<PrefetchCase> cases{
        {"two prefetches for one key render once", Scenario::TwoForOneKey, 1, 2, 1},
        {"a settings change during a prefetch deletes its file", Scenario::SettingsChangeMidway, 1,
         std::nullopt, 0},
        {"a prefetch of another next track replaces the cached one", Scenario::AnotherNextTrack, 2,
         3, 1},
        {"bit-perfect prefetches nothing", Scenario::BitPerfect, 0, std::nullopt, 0},
    };
    return cases;
}

// ---- fxChanged ----
enum class Before { NoTrack, PausedAt42 };
struct ChangeCase {
    const char* name;
    Before before;
    bool effectsAfter;
    QString status;
    bool renders;
};

const std::vector<ChangeCase>& changeCases() {
    static const std::vector<ChangeCase> cases{
        {"no current track: only the cache goes", Before::NoTrack, true, kMarker, false},
        {"paused at 42 s: rendered again and resumed there", Before::PausedAt42, true,
         QStringLiteral(
             "🎛 사운드 효과 적용 중… (잠시 소리가 멈췄다 이어집니다)"),
         true},
        {"effects now off: plain playback from 42 s", Before::PausedAt42, false,
         QStringLiteral("🎛 사운드 효과를 껐습니다."), false},
    };
    return cases;
}

} // namespace

class FXCacheTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        test::AudioShape shape;
        shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        shape.rate = 8000;
        shape.channels = 1;
        shape.frames = 50 * 8000;
        for (int id = 1; id <= 3; ++id)
            QVERIFY(test::writeAudio(trackAt(id).path, shape));
    }
    void cleanup() {
        for (const QString& name : fxFiles())
            QFile::remove(tempFile(name));
    }

    void identity_data() { test::addRows(identityCases()); }
    void identity() {
        const IdentityCase& c = test::currentCase(identityCases());
        Rig r;
        r.signature = c.signature;
        r.app.playback.bitPerfect = c.bitPerfect;
        r.app.playback.upMode = c.upMode;
        r.app.seams.upsampleTarget = [&c](double rate, int, const std::vector<double>&) {
            return c.target ? std::optional(rate * 2) : std::nullopt;
        };
        r.app.seams.probeAudio = [](const QString&) {
            return StreamFacts{"flac", 44100, 16, 2, 50};
        };
        r.app.fxPanel->state.enabled = c.signature.has_value();
        r.app.fxPanel->state.gains = {6, 0, 0, 0, 0};
        QCOMPARE(r.app.fxNeeded(trackAt(2)), c.needed);
        QCOMPARE(r.app.fxChainActive(), c.identity);
        r.app.prefetchFX(trackAt(2));
        r.settle();
        QCOMPARE(int(r.renders.size()), c.needed ? 1 : 0);
        if (c.needed)
            QCOMPARE(r.renders.front().chain.has_value(), c.signature.has_value());
    }

    void prefetch_data() { test::addRows(prefetchCases()); }
    void prefetch() {
        const PrefetchCase& c = test::currentCase(prefetchCases());
        Rig r;
        r.go.acquire(1000); // renders wait
        switch (c.scenario) {
        case Scenario::TwoForOneKey:
            r.app.prefetchFX(trackAt(2));
            r.app.prefetchFX(trackAt(2));
            break;
        case Scenario::SettingsChangeMidway:
            r.app.prefetchFX(trackAt(2));
            r.signature = QStringLiteral("eq:jazz");
            break;
        case Scenario::AnotherNextTrack:
            r.app.prefetchFX(trackAt(2));
            r.go.release();
            QVERIFY(QTest::qWaitFor([&] { return r.app.playback.fxCache.has_value(); }, kWaitMs));
            r.app.prefetchFX(trackAt(3));
            break;
        case Scenario::BitPerfect:
            r.app.playback.bitPerfect = true;
            r.app.prefetchFX(trackAt(2));
            break;
        }
        r.go.release(1000);
        r.settle();
        QCOMPARE(int(r.renders.size()), c.renders);
        QCOMPARE(r.app.playback.fxRendering, std::nullopt);
        QCOMPARE(r.app.playback.fxCache.has_value(), c.cachedTrack.has_value());
        if (c.cachedTrack)
            QCOMPARE(r.app.playback.fxCache->key,
                     App::fxKey(trackAt(*c.cachedTrack), *r.signature));
        QCOMPARE(fxFiles().size(), c.filesLeft);
    }

    void fxChanged_data() { test::addRows(changeCases()); }
    void fxChanged() {
        const ChangeCase& c = test::currentCase(changeCases());
        Rig r;
        r.app.prefetchFX(trackAt(3));
        r.settle();
        QVERIFY(r.app.playback.fxCache);
        if (c.before == Before::PausedAt42) {
            r.app.play(trackAt(1));
            QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, kWaitMs));
            r.app.playback.audio->setCurrentTime(42);
            r.app.toggle();
            QVERIFY(!r.app.isPlaying());
        }
        const std::size_t rendersBefore = r.renders.size();
        const QString cached = r.app.playback.fxCache->path;
        if (!c.effectsAfter)
            r.signature.reset();
        r.app.status->setStringValue(kMarker);

        r.app.fxChanged();
        QCOMPARE(r.app.status->stringValue(), c.status);
        QVERIFY(!QFile::exists(cached));
        QCOMPARE(r.app.playback.fxCache, std::nullopt);
        QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, kWaitMs));
        r.settle();
        QCOMPARE(r.renders.size() > rendersBefore, c.renders);
        if (c.before == Before::NoTrack) {
            QVERIFY(!r.app.playback.audio);
            return;
        }
        QVERIFY(r.app.isPlaying());
        QVERIFY(std::abs(r.app.playback.audio->currentTime() - 42) < 0.2);
    }
};

QL_TEST_MAIN(FXCacheTest)
#include "FXCacheTest.moc"
