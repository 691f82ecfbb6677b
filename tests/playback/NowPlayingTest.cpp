// Now Playing and the media commands on the launched controller: the
// simulated Now Playing backend records each publication and sends the
// commands a desktop would; the audio plays on a simulated device whose clock
// only moves when told (so positions are exact). Tracks are 5 s WAV files
// that the catalog says last 9 s. A track start publishes twice: as the
// request begins (no player yet) and once its player plays.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimNowPlaying.h"
#include "platform/sim/SimPlatform.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QMainWindow>

using namespace ql;
using platform::PlaybackStatus;

namespace {

struct Rig {
    platform::SimNowPlaying* center = nullptr;
    test::LaunchedApp l{QStringLiteral("ko"), [this](App& app) {
                            app.platform = platform::makeSimulatedPlatform(
                                test::twoOutputs(), {platform::SimClock::Manual, {}});
                            auto sim = std::make_unique<platform::SimNowPlaying>();
                            center = sim.get();
                            app.platform.nowPlaying = std::move(sim);
                        }};
    App& app = *l.app;

    Rig() {
        for (qint64 id = 1; id <= 3; ++id)
            app.browser.filtered.push_back(
                Track{id,
                      test::noiseWav(QStringLiteral("t%1.wav").arg(id), 5),
                      QStringLiteral("T%1").arg(id),
                      QStringLiteral("A"),
                      QStringLiteral("B"),
                      9,
                      {}});
    }
    const Track& track(qint64 id) const { return app.browser.filtered[std::size_t(id - 1)]; }
    platform::RemoteCommands& send() { return center->commands; }
    void armSuccessor(qint64 id) {
        auto player = platform::AudioPlayer::open(*app.platform.outputs, track(id).path).player;
        player->play();
        app.playback.queued = QueuedTrack{track(id), std::move(player), true};
    }

    // What a user of the desktop and of the window finds: the publications
    // since `from` (the last in full), then the controller's own state.
    QString outcome(std::size_t from) const {
        const auto& pubs = center->publications;
        QString out = QStringLiteral("%1 new").arg(pubs.size() - from);
        if (pubs.size() > from && pubs.back().info) {
            const platform::NowPlayingInfo& i = *pubs.back().info;
            out += QStringLiteral(", last T%1 %2 s at %3 rate %4 %5")
                       .arg(i.trackId)
                       .arg(i.duration, 0, 'f', 1)
                       .arg(i.elapsed, 0, 'f', 1)
                       .arg(i.rate)
                       .arg(pubs.back().status == PlaybackStatus::Playing ? "playing" : "paused");
        }
        const auto& p = app.playback;
        out += QStringLiteral("; current %1").arg(p.current ? p.current->id : 0);
        if (p.audio)
            out += QStringLiteral(" %1 at %2")
                       .arg(p.audio->isPlaying() ? "playing" : "paused")
                       .arg(p.audio->currentTime(), 0, 'f', 1);
        if (p.queued)
            out += QStringLiteral(", successor armed");
        if (!app.listening.radioQueue.isEmpty())
            out += QStringLiteral(", radio %1").arg(app.listening.radioQueue.front());
        if (app.window->isMinimized() || !app.window->isVisible())
            out += QStringLiteral(", window hidden");
        return out;
    }
};

struct Case {
    const char* name;
    std::function<void(Rig&)> before;
    std::function<void(Rig&)> command;
    QString outcome;
};

void playFirst(Rig& r) {
    r.app.play(r.track(1));
}

// clang-format off
const std::vector<Case>& cases() {
    static const std::vector<Case> c{
        {"publish without a current track writes nothing",
         {}, [](Rig& r) { r.app.publish(); },
         "0 new; current 0"},
        {"a track still decoding: the catalog's duration, nothing elapsed, paused",
         [](Rig& r) { r.app.playback.current = r.track(2); }, [](Rig& r) { r.app.publish(); },
         "1 new, last T2 9.0 s at 0.0 rate 0 paused; current 2"},
        {"a playing track: the player's duration and rate 1, also at double speed",
         [](Rig& r) { r.app.playback.playRate = 2.0; playFirst(r); }, [](Rig& r) {
             r.app.publish();
             QCOMPARE(r.send().speed(), 2.0);
         },
         "1 new, last T1 5.0 s at 0.0 rate 1 playing; current 1 playing at 0.0"},
        {"a play command while playing changes nothing",
         playFirst, [](Rig& r) { r.send().play(); },
         "0 new; current 1 playing at 0.0"},
        {"a pause command while paused changes nothing",
         [](Rig& r) { playFirst(r); r.app.toggle(); }, [](Rig& r) { r.send().pause(); },
         "0 new; current 1 paused at 0.0"},
        {"play/pause pauses a playing track",
         playFirst, [](Rig& r) { r.send().togglePlayPause(); },
         "1 new, last T1 5.0 s at 0.0 rate 0 paused; current 1 paused at 0.0"},
        {"a play command with nothing loaded starts the current track",
         [](Rig& r) { r.app.playback.current = r.track(2); }, [](Rig& r) { r.send().play(); },
         "2 new, last T2 5.0 s at 0.0 rate 1 playing; current 2 playing at 0.0"},
        {"a play command with nothing current starts the first visible track",
         {}, [](Rig& r) { r.send().play(); },
         "2 new, last T1 5.0 s at 0.0 rate 1 playing; current 1 playing at 0.0"},
        {"a position command with nothing loaded only republishes",
         [](Rig& r) { r.app.playback.current = r.track(2); },
         [](Rig& r) { r.send().changePosition(3); },
         "1 new, last T2 9.0 s at 0.0 rate 0 paused; current 2"},
        {"a position command drops the armed successor, back to the radio, and moves",
         [](Rig& r) { playFirst(r); r.armSuccessor(3); },
         [](Rig& r) { r.send().changePosition(3); },
         "1 new, last T1 5.0 s at 3.0 rate 1 playing; current 1 playing at 3.0, radio 3"},
        {"next starts the next visible track",
         playFirst, [](Rig& r) { r.send().next(); },
         "2 new, last T2 5.0 s at 0.0 rate 1 playing; current 2 playing at 0.0"},
        {"raise shows a minimised window",
         [](Rig& r) { r.app.window->showMinimized(); }, [](Rig& r) { r.send().raise(); },
         "0 new; current 0"},
    };
    return c;
}
// clang-format on

} // namespace

class NowPlayingTest : public QObject {
    Q_OBJECT
private slots:
    void commands_data() { test::addRows(cases()); }
    void commands() {
        const Case& c = test::currentCase(cases());
        UserDefaults().clear();
        Rig r;
        if (c.before)
            c.before(r);
        const std::size_t from = r.center->publications.size();
        c.command(r);
        // Commands are queued to the main thread; let them run.
        QCoreApplication::processEvents();
        QCOMPARE(r.outcome(from), c.outcome);
    }
};

QL_TEST_MAIN(NowPlayingTest)
#include "NowPlayingTest.moc"
