// The play request on the simulated rig: history and generation, where the
// new player starts, device binding and rate matching, the one-entry render
// cache, and the hand-over to the fallback roads.
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "PlayRig.h"
#include "TestHome.h"

#include <QLabel>
#include <QProcess>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::PlayRig;

namespace {

QList<qint64> ids(qint64 first, qint64 last) {
    QList<qint64> out;
    for (qint64 id = first; id <= last; ++id)
        out << id;
    return out;
}

// ---- history, generation, start position ------------------------------------------
struct HistoryCase {
    const char* name;
    QList<qint64> history;         // before the request
    std::optional<qint64> current; // played before the request (none: nothing current)
    std::optional<double> pending; // the pending seek when the request comes
    bool goingBack;                // the request comes from previous() in shuffle mode
    qint64 request;
    QList<qint64> expectedHistory;
    double startsAt; // seconds
};

const std::vector<HistoryCase>& historyCases() {
    static const std::vector<HistoryCase> cases{
        {"a first play adds nothing", {}, std::nullopt, std::nullopt, false, 1, {}, 0},
        {"a change adds the outgoing id", {7}, 1, std::nullopt, false, 2, {7, 1}, 0},
        {"a replay adds nothing and starts from 0", {7}, 1, std::nullopt, false, 1, {7}, 0},
        {"a replay with a pending seek starts there", {7}, 1, 2.5, false, 1, {7}, 2.5},
        {"going back adds nothing", {7}, 1, std::nullopt, true, 2, {7}, 0},
        {"500 ids and a change keep 500, the oldest dropped", ids(1001, 1500), 1, std::nullopt,
         false, 2, ids(1002, 1500) << 1, 0},
    };
    return cases;
}

// ---- device binding and rate matching ----------------------------------------------
struct RouteCase {
    const char* name;
    bool rateMatch;
    bool bitPerfect;
    QString chosen; // "" = the system default
    QList<double> matched;
};

// clang-format off
const std::vector<RouteCase>& routeCases() {
    static const std::vector<RouteCase> cases{
        {"both off: no rate match, bound to the chosen device", false, false, test::kDacA, {}},
        {"both off: bound to the system default",               false, false, "",          {}},
        {"rate matching: from the file, then from the player",  true,  false, test::kDacA, {48000, 48000}},
        {"bit-perfect alone matches too",                       false, true,  "",          {48000, 48000}},
    };
    return cases;
}
// clang-format on

// ---- the one-entry render cache -------------------------------------------------------
enum class Cached { ThisTrack, OtherTrack, Unreadable };
// What the request plays at once: the cached render, the track's own file,
// or nothing (a fallback road runs).
enum class Plays { Render, File, Nothing };

struct CacheCase {
    const char* name;
    bool effects;
    Cached cached;
    Plays plays;
    QStringList roads; // fallback roads started
    bool cacheKept;    // fxCache still holds the entry
    bool renderKept;   // the rendered file still exists
    bool previousKept; // the previous track's temporary file still exists
};

// clang-format off
const std::vector<CacheCase>& cacheCases() {
    static const std::vector<CacheCase> cases{
        {"this track's render is taken and adopted",
         true,  Cached::ThisTrack,  Plays::Render,  {},         false, true,  false},
        {"another track's render stays; the render road starts",
         true,  Cached::OtherTrack, Plays::Nothing, {"render"}, true,  true,  true},
        {"a render that does not open is deleted; the render road starts",
         true,  Cached::Unreadable, Plays::Nothing, {"render"}, false, false, true},
        {"without effects the file plays and the cache is left alone",
         false, Cached::ThisTrack,  Plays::File,    {},         true,  true,  false},
    };
    return cases;
}
// clang-format on

} // namespace

class PlayRequestTest : public QObject {
    Q_OBJECT
private slots:
    void historyGenerationAndStart_data() { addRows(historyCases()); }
    void historyGenerationAndStart() {
        QFETCH(int, index);
        const HistoryCase& c = historyCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        if (c.current)
            app.play(r.track(*c.current));
        const AudioPlayer* before = app.playback.audio.get();
        const quint64 generation = app.playback.generation;
        app.playback.history = c.history;
        app.playback.pendingSeek = c.pending;
        app.playback.goingBack = c.goingBack;

        app.play(r.track(c.request));

        QCOMPARE(app.playback.history, c.expectedHistory);
        QCOMPARE(app.playback.generation, generation + 1);
        QVERIFY(!app.playback.goingBack);
        QVERIFY(!app.playback.pendingSeek);
        const AudioPlayer* audio = app.playback.audio.get();
        QVERIFY(audio && audio != before);
        QVERIFY(audio->isPlaying());
        QCOMPARE(audio->path(), r.track(c.request).path);
        // The manual clock lets the engine take at most a buffer's worth.
        QVERIFY2(audio->currentTime() >= c.startsAt && audio->currentTime() < c.startsAt + 0.15,
                 qPrintable(QString::number(audio->currentTime())));
        QVERIFY(!app.playback.loading);
        QCOMPARE(r.buttonTitle(), QStringLiteral("⏸ 일시정지"));
        QCOMPARE(app.seek->maximumValue(), 5.0);
        QCOMPARE(app.views.titleLabel->text(), r.track(c.request).title);
    }

    void deviceBindingAndRateMatch_data() { addRows(routeCases()); }
    void deviceBindingAndRateMatch() {
        QFETCH(int, index);
        const RouteCase& c = routeCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        QList<double> matched;
        app.seams.matchDeviceRate = [&](double rate) { matched << rate; };
        app.playback.rateMatchOn = c.rateMatch;
        app.playback.bitPerfect = c.bitPerfect;
        app.playback.maxQuality = !c.bitPerfect;
        if (!c.chosen.isEmpty())
            app.playback.outputUID = c.chosen;

        app.play(r.track(4));

        QCOMPARE(matched, c.matched);
        QVERIFY(app.playback.audio && app.playback.audio->isPlaying());
        QCOMPARE(app.playback.audio->outputDevice(), c.chosen);
        QCOMPARE(r.rig.hw().writeCalls().total(), 0);
    }

    void renderCache_data() { addRows(cacheCases()); }
    void renderCache() {
        QFETCH(int, index);
        const CacheCase& c = cacheCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        if (c.effects)
            app.seams.fxSignature = [] { return std::optional<QString>("eq:+3"); };
        const QString render = QDir::temp().filePath("Quavelark-fx-render.caf");
        const QString previous = QDir::temp().filePath("Quavelark-previous.caf");
        QFile::remove(render);
        QVERIFY(QFile::copy(c.cached == Cached::Unreadable ? test::garbageFile("bad.caf")
                                                           : r.track(2).path,
                            render));
        QVERIFY(QFile::copy(r.track(3).path, previous));
        app.playback.cacheURL = previous;
        const Track& cachedFor = r.track(c.cached == Cached::OtherTrack ? 3 : 1);
        const QString key = App::fxKey(cachedFor, QStringLiteral("eq:+3|up2"));
        app.playback.fxCache = RenderCacheEntry{key, render};

        app.play(r.track(1));

        QCOMPARE(r.roads, c.roads);
        QCOMPARE(app.playback.fxCache.has_value(), c.cacheKept);
        QCOMPARE(QFile::exists(render), c.renderKept);
        QCOMPARE(QFile::exists(previous), c.previousKept);
        const AudioPlayer* audio = app.playback.audio.get();
        if (c.plays != Plays::Nothing) {
            const bool fromRender = c.plays == Plays::Render;
            QVERIFY(audio && audio->isPlaying());
            QCOMPARE(audio->path(), fromRender ? render : r.track(1).path);
            QCOMPARE(app.playback.cacheURL, fromRender ? std::optional(render) : std::nullopt);
        } else {
            QVERIFY(!audio);
            QVERIFY(app.playback.loading);
            QCOMPARE(r.buttonTitle(), QStringLiteral("준비 중…"));
            QCOMPARE(app.playback.cacheURL, std::optional(previous));
        }
        QVERIFY(!app.status->stringValue().contains(QStringLiteral("사운드 효과 적용 중")));
        QFile::remove(render);
        QFile::remove(previous);
    }

    // A file our player cannot open goes to the decode road silently, which
    // gets the pending seek and the request's generation.
    void unreadableFileTakesTheDecodeRoad() {
        PlayRig r;
        App& app = r.app;
        quint64 roadGeneration = 0;
        app.seams.fallbackRoad = [&](const char* road, const Track& t, quint64 g) {
            r.roads << QString::fromLatin1(road) + ":" + QString::number(t.id);
            roadGeneration = g;
        };
        app.play(r.track(1));
        const QString status = app.status->stringValue();
        app.playback.pendingSeek = 1.5;

        app.play(r.track(5));

        QCOMPARE(r.roads, QStringList{"decode:5"});
        QCOMPARE(roadGeneration, app.playback.generation);
        QCOMPARE(app.playback.pendingSeek, std::optional(1.5));
        QVERIFY(!app.playback.audio);
        QVERIFY(app.playback.loading);
        QCOMPARE(r.currentId(), std::optional<qint64>(5));
        QCOMPARE(r.buttonTitle(), QStringLiteral("준비 중…"));
        QCOMPARE(app.status->stringValue(), status);
    }

    void aPlayRequestEndsARunningDecode() {
        PlayRig r;
        auto* decode = new QProcess(&r.app);
        decode->start("/bin/sleep", {"30"});
        QVERIFY(decode->waitForStarted());
        r.app.playback.decoder = decode;

        r.app.play(r.track(1));

        QVERIFY(decode->waitForFinished(5000));
        QCOMPARE(r.app.playback.decoder, decode); // its completion still needs it
    }
};

QL_TEST_MAIN(PlayRequestTest)
#include "PlayRequestTest.moc"
