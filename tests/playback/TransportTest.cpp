// The transport actions and the end of a file on the simulated rig: where
// next, previous, skip and toggle land, what ends of a file lead to, and the
// prepared successor every action drops.
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "PlayRig.h"
#include "TestHome.h"

#include <QComboBox>

#include <functional>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::PlayRig;

namespace {

constexpr double kNoPlayer = -1; // `at`: nothing loaded

// ---- steps through the list -------------------------------------------------------
struct StepCase {
    const char* name;
    std::vector<qint64> visible;
    std::optional<qint64> current; // played, then paused at `at` (kNoPlayer: only current)
    double at;
    QList<qint64> radio;
    bool shuffled;
    QList<qint64> history;
    std::function<void(App&)> act;
    std::optional<qint64> plays; // the track a new request plays (none: no request)
    double position;             // the player's position afterwards (-1: no player)
    QList<qint64> radioAfter;
    QList<qint64> historyAfter;
};

const auto next = [](App& a) { a.next(); };
const auto previous = [](App& a) { a.previous(); };
const auto toggle = [](App& a) { a.toggle(); };
std::function<void(App&)> skip(int by) {
    return [by](App& a) { a.skip(by); };
}

// Columns: visible, current, at, radio, shuffled, history | act | plays,
// position, radio after, history after.
// clang-format off
const std::vector<StepCase>& stepCases() {
    static const std::vector<StepCase> cases{
        {"previous at 3.0 s goes back a track",
         {1, 2, 3}, 2, 3.0,  {}, false, {}, previous, 1, 0, {}, {2}},
        {"previous at 3.01 s rewinds",
         {1, 2, 3}, 2, 3.01, {}, false, {}, previous, std::nullopt, 0, {}, {}},
        {"next on the last row plays the first",
         {1, 2, 3}, 3, 0,    {}, false, {}, next, 1, 0, {}, {3}},
        {"previous on the first row plays the last",
         {1, 2, 3}, 1, 0,    {}, false, {}, previous, 3, 0, {}, {1}},
        {"next from a track not in the list plays the first",
         {1, 2}, 3, 0,       {}, false, {}, next, 1, 0, {}, {3}},
        {"previous from a track not in the list plays the last",
         {1, 2}, 3, 0,       {}, false, {}, previous, 2, 0, {}, {3}},
        {"next with nothing current plays the first",
         {2, 3}, std::nullopt, kNoPlayer, {}, false, {}, next, 2, 0, {}, {}},
        {"the radio queue feeds next with an empty list",
         {}, 1, 0,           {9, 2, 3}, false, {}, next, 2, 0, {3}, {1}},
        {"previous never takes from the radio queue",
         {1, 3}, 1, 0,       {2}, false, {}, previous, 3, 0, {2}, {1}},
        {"next on an empty list and queue does nothing",
         {}, 1, 1.0,         {9}, false, {}, next, std::nullopt, 1.0, {}, {}},
        {"skip(-5) on three tracks stays in the list",
         {1, 2, 3}, 1, 0,    {}, false, {}, skip(-5), 2, 0, {}, {1}},
        {"skip(7) on three tracks stays in the list",
         {1, 2, 3}, 1, 0,    {}, false, {}, skip(7), 2, 0, {}, {1}},
        {"previous in shuffle plays the newest visible history entry",
         {1, 2, 3}, 2, 0,    {}, true, {1, 9, 3}, previous, 3, 0, {}, {1, 9}},
        {"previous in shuffle passes over ids no longer visible",
         {1, 2, 3}, 2, 0,    {}, true, {1, 9}, previous, 1, 0, {}, {}},
        {"previous in shuffle with an empty history does nothing",
         {1, 2, 3}, 2, 1.0,  {}, true, {}, previous, std::nullopt, 1.0, {}, {}},
        {"toggle with nothing loaded plays the current track",
         {1, 2}, 3, kNoPlayer, {}, false, {}, toggle, 3, 0, {}, {}},
        {"toggle with nothing loaded or current plays the first row",
         {2, 3}, std::nullopt, kNoPlayer, {}, false, {}, toggle, 2, 0, {}, {}},
        {"toggle with nothing loaded and an empty list does nothing",
         {}, std::nullopt, kNoPlayer, {}, false, {}, toggle, std::nullopt, kNoPlayer, {}, {}},
    };
    return cases;
}
// clang-format on

// ---- the end of a file -------------------------------------------------------------
enum class Reporter { Current, Other };

struct EndCase {
    const char* name;
    bool repeatOn;
    bool successfully;
    bool withSuccessor; // a prepared gapless successor (track 3)
    Reporter reporter;
    std::optional<qint64> current; // afterwards
    bool newRequest;               // the generation moved
    bool samePlayer;               // `audio` is still the player that ended
    QString status;                // "" = unchanged
    QList<qint64> history;
};

// Columns: repeat, successfully, successor, reporter | current, new request,
// same player, status, history.
// clang-format off
const std::vector<EndCase>& endCases() {
    static const QString error = QStringLiteral("재생 중 오류가 발생했습니다.");
    static const std::vector<EndCase> cases{
        {"a normal end plays the next row",
         false, true,  false, Reporter::Current, 2, true,  false, "",    {1}},
        {"repeat replays the track as a new request",
         true,  true,  false, Reporter::Current, 1, true,  false, "",    {}},
        {"repeat wins over a prepared successor",
         true,  true,  true,  Reporter::Current, 1, true,  false, "",    {}},
        {"an end with a successor promotes it",
         false, true,  true,  Reporter::Current, 3, false, false, "",    {1}},
        {"an error end reports and keeps the player",
         false, false, true,  Reporter::Current, 1, false, true,  error, {}},
        {"repeat and an error end reports",
         true,  false, false, Reporter::Current, 1, false, true,  error, {}},
        {"an end from a player that is not current is ignored",
         false, true,  false, Reporter::Other,   1, false, true,  "",    {}},
    };
    return cases;
}
// clang-format on

// ---- actions that drop the prepared successor ----------------------------------------
struct DropCase {
    const char* name;
    std::function<void(App&)> act;
    bool stillPlaying; // the current player plays afterwards
    double position;   // of the current player afterwards
};

const std::vector<DropCase>& dropCases() {
    static const auto seekTo = [](App& a) {
        a.seek->setDoubleValue(1.25);
        a.seekChanged();
    };
    static const auto restart = [](App& a) { a.restartTrack(); };
    static const std::vector<DropCase> cases{
        {"pause", toggle, false, 4.5},
        {"seek", seekTo, true, 1.25},
        {"rewind past 3 s", previous, true, 0},
        {"restart", restart, true, 0},
    };
    return cases;
}

// A prepared successor for track `id`, playing on the default device as the
// gapless check leaves it.
void prepareSuccessor(PlayRig& r, qint64 id, bool fromRadio) {
    AudioPlayer::Opened opened = AudioPlayer::open(*r.rig.platform.outputs, r.track(id).path);
    QVERIFY(opened.player && opened.player->play());
    r.app.playback.queued = QueuedTrack{r.track(id), std::move(opened.player), fromRadio};
}

} // namespace

class TransportTest : public QObject {
    Q_OBJECT
private slots:
    void steps_data() { addRows(stepCases()); }
    void steps() {
        QFETCH(int, index);
        const StepCase& c = stepCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        r.show({});
        for (qint64 id : c.visible)
            app.browser.filtered.push_back(r.track(id));
        if (c.current && c.at == kNoPlayer)
            app.playback.current = r.track(*c.current);
        else if (c.current)
            r.playPausedAt(*c.current, c.at);
        app.playback.history = c.history;
        app.playback.shuffled = c.shuffled;
        app.listening.radioQueue = c.radio;
        const quint64 generation = app.playback.generation;
        const AudioPlayer* before = app.playback.audio.get();

        c.act(app);

        QCOMPARE(app.playback.generation, generation + (c.plays ? 1 : 0));
        if (c.plays) {
            QCOMPARE(r.currentId(), c.plays);
            QVERIFY(app.playback.audio && app.playback.audio->isPlaying());
            QCOMPARE(app.playback.audio->path(), r.track(*c.plays).path);
        } else {
            QCOMPARE(app.playback.audio.get(), before);
        }
        if (c.position == kNoPlayer)
            QVERIFY(!app.playback.audio);
        else
            QVERIFY(std::abs(app.playback.audio->currentTime() - c.position) < 0.15);
        QCOMPARE(app.listening.radioQueue, c.radioAfter);
        QCOMPARE(app.playback.history, c.historyAfter);
        QVERIFY(!app.playback.goingBack);
    }

    // The next request after a shuffled previous records history again.
    void historyResumesAfterGoingBack() {
        PlayRig r;
        r.app.playback.shuffled = true;
        r.app.play(r.track(1));
        r.app.play(r.track(2));
        r.app.previous();
        QCOMPARE(r.currentId(), std::optional<qint64>(1));
        QVERIFY(r.app.playback.history.isEmpty());
        r.app.next();
        QCOMPARE(r.app.playback.history, QList<qint64>{1});
    }

    void fileEnds_data() { addRows(endCases()); }
    void fileEnds() {
        QFETCH(int, index);
        const EndCase& c = endCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        app.playback.repeatOn = c.repeatOn;
        app.play(r.track(1));
        const AudioPlayer* ended = app.playback.audio.get();
        AudioPlayer* successor = nullptr;
        if (c.withSuccessor) {
            prepareSuccessor(r, 3, false);
            successor = app.playback.queued->player.get();
        }
        const quint64 generation = app.playback.generation;
        const QString status = app.status->stringValue();
        AudioPlayer::Opened other = AudioPlayer::open(*r.rig.platform.outputs, r.track(2).path);

        app.audioPlayerDidFinishPlaying(c.reporter == Reporter::Current ? *ended : *other.player,
                                        c.successfully);

        QCOMPARE(r.currentId(), c.current);
        QCOMPARE(app.playback.generation, generation + (c.newRequest ? 1 : 0));
        QCOMPARE(app.playback.audio.get() == ended, c.samePlayer);
        QCOMPARE(app.status->stringValue(), c.status.isEmpty() ? status : c.status);
        QCOMPARE(app.playback.history, c.history);
        if (c.samePlayer && c.reporter == Reporter::Current)
            QCOMPARE(r.buttonTitle(), QStringLiteral("▶ 재생"));
        else
            QCOMPARE(r.buttonTitle(), QStringLiteral("⏸ 일시정지"));
        if (c.current == 3) {
            QCOMPARE(app.playback.audio.get(), successor);
            QVERIFY(!app.playback.queued);
            QCOMPARE(app.seek->maximumValue(), 5.0);
        }
    }

    // Pausing, seeking, rewinding and restarting drop the prepared successor;
    // one that came from the radio gives its id back to the queue's front.
    void actionsDropTheSuccessor_data() { addRows(dropCases()); }
    void actionsDropTheSuccessor() {
        QFETCH(int, index);
        const DropCase& c = dropCases()[std::size_t(index)];
        PlayRig r;
        App& app = r.app;
        app.play(r.track(1));
        app.playback.audio->setCurrentTime(4.5);
        const AudioPlayer* current = app.playback.audio.get();
        prepareSuccessor(r, 3, true);
        AudioPlayer* successor = app.playback.queued->player.get();
        app.listening.radioQueue = {7};

        c.act(app);

        QVERIFY(!app.playback.queued);
        QVERIFY(!successor->isPlaying());
        QCOMPARE(app.listening.radioQueue, (QList<qint64>{3, 7}));
        QCOMPARE(app.playback.audio.get(), current);
        QCOMPARE(app.playback.audio->isPlaying(), c.stillPlaying);
        QVERIFY(std::abs(app.playback.audio->currentTime() - c.position) < 0.15);
    }

    void toggleSwitchesPlayingAndPaused() {
        PlayRig r;
        App& app = r.app;
        app.play(r.track(1));
        app.toggle();
        QVERIFY(!app.isPlaying());
        QCOMPARE(r.buttonTitle(), QStringLiteral("▶ 재생"));
        app.toggle();
        QVERIFY(app.isPlaying());
        QCOMPARE(r.buttonTitle(), QStringLiteral("⏸ 일시정지"));
        QCOMPARE(app.playback.generation, quint64(1));

        // While a road prepares a track, toggle leaves everything alone.
        app.toggle();
        app.playback.loading = true;
        app.toggle();
        QVERIFY(!app.isPlaying());
        QCOMPARE(app.playback.generation, quint64(1));
    }

    void shuffleDrawsANewOrderEachPress() {
        PlayRig r;
        App& app = r.app;
        std::vector<Track> many;
        for (qint64 id = 100; id < 140; ++id)
            many.push_back(test::catalogTrack(id, QStringLiteral("/m/%1.wav").arg(id)));
        app.library.rows = many;
        app.filter();
        auto order = [&] {
            QList<qint64> out;
            for (const Track& t : app.browser.filtered)
                out << t.id;
            return out;
        };
        app.toggleShuffle();
        const QList<qint64> first = order();
        app.toggleShuffle();
        QVERIFY(app.playback.shuffled);
        QVERIFY(UserDefaults().boolean(keys::kShuffle));
        QCOMPARE(first.size(), 40);
        QVERIFY(order() != first);
    }

    // Speed pop-up: the index is clamped into the list and stored; a change
    // away from 1x restarts the current track where it stood.
    void speedChangeRestartsAtThePosition() {
        PlayRig r;
        App& app = r.app;
        app.ratePopup->addItems({"0.5x", "0.75x", "0.9x", "1x", "1.1x", "1.25x", "1.5x", "2x"});
        app.play(r.track(2));
        app.playback.audio->setCurrentTime(2.0);
        app.ratePopup->setCurrentIndex(6);
        app.rateChanged();
        QCOMPARE(app.playback.playRate, 1.5);
        QCOMPARE(UserDefaults().realIfPresent(keys::kPlayRate), std::optional(1.5));
        QCOMPARE(app.playback.generation, quint64(2));
        QCOMPARE(r.currentId(), std::optional<qint64>(2));
        QVERIFY(std::abs(app.playback.audio->currentTime() - 2.0) < 0.15);
        QVERIFY(!app.playback.pendingSeek);
    }
};

QL_TEST_MAIN(TransportTest)
#include "TransportTest.moc"
