// Guards against: the wrong track, position or history after a transport action.
// The play request and the transport on the simulated two-device rig with
// generated WAV files. The devices run on the manual clock: nothing advances
// or ends unless a test says so (the engine takes at most a buffer's worth,
// hence the 0.15 s tolerance on positions).
#include "app/App.h"
#include "app/FileStamp.h"
#include "app/UserDefaults.h"
#include "listening/DjPicks.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/TimeText.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LogLines.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QThreadPool>

#include <sndfile.h>

#include <functional>

using namespace ql;
using test::tempFile;
using namespace ql::platform;
using test::addRows;

namespace {

const QString kPause = QStringLiteral("⏸ 일시정지");
const QString kPlay = QStringLiteral("▶ 재생");
const QString kPreparing = QStringLiteral("준비 중…");

// Five seconds of 16-bit stereo noise at `rate`.
QString wav(const QString& name, int rate = 44100) {
    return test::writeTemp(name, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, 5 * rate});
}

QString garbage(const QString& name) {
    if (!test::writeFile(tempFile(name), "not audio"))
        qFatal("cannot write %s", qPrintable(name));
    return tempFile(name);
}

// Tracks 1 … 3 on 44.1 kHz files, 4 on a 48 kHz file, 5 on a file that does
// not open; all in the catalog, 1 … 3 visible.
struct Rig : test::TrackIds<Rig> {
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {}}};
    App& app = rig.app;
    QStringList roads; // fallback roads taken, "road:id"
    quint64 roadGeneration = 0;

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.maxQuality = false; // the direct road
        for (qint64 id = 1; id <= 5; ++id) {
            const QString name = QStringLiteral("t%1.wav").arg(id);
            add(id, id == 5 ? garbage(name) : wav(name, id == 4 ? 48000 : 44100), 5);
        }
        show({1, 2, 3});
        test::fakes(app).observer.fallbackRoad = [this](const char* road, const Track& t,
                                                        quint64 g) {
            roads << QString::fromLatin1(road) + ':' + QString::number(t.id);
            roadGeneration = g;
        };
    }
    AudioPlayer* audio() const { return app.playback.audio.get(); }
    QString button() const { return app.views.playButton->title(); }
    bool near(double position) const { return std::abs(audio()->currentTime() - position) < 0.15; }
    // A prepared successor for track `id`, playing as the gapless check leaves it.
    AudioPlayer* prepareSuccessor(qint64 id, bool fromRadio) {
        auto player = AudioPlayer::open(*rig.platform.outputs, track(id).path).player;
        player->play();
        app.playback.prepared =
            PreparedNext{PreparedNext::Kind::Scheduled, track(id), std::move(player), fromRadio};
        return app.playback.prepared->player.get();
    }
    // A player opened ahead on track `id` as openAhead leaves it (opened,
    // not started), reading a decode of it made ahead.
    AudioPlayer* openAhead(qint64 id, const QString& decoded) {
        QFile::remove(decoded);
        QFile::copy(track(id).path, decoded);
        auto player = AudioPlayer::open(*rig.platform.outputs, decoded).player;
        // Lent as App::takeDecoded lends it: with its source's stamp, vouched
        // for by a check just made.
        app.playback.lentDecode = LentDecode{decoded, fileStamp(track(id).path, QDir::currentPath()),
                                             std::chrono::steady_clock::now()};
        app.playback.prepared = PreparedNext{PreparedNext::Kind::OpenedAhead, track(id),
                                             std::move(player), false, decoded};
        return app.playback.prepared->player.get();
    }
    // The kind of player the drop table prepared: opened ahead, or a
    // gapless successor.
    bool ahead = false;
    // The list's next track (2) prepared again, of that kind, as the check
    // prepares it (a decode made ahead taken from the look ahead).
    void prepareAgain() {
        if (!ahead) {
            prepareSuccessor(2, false);
            return;
        }
        (void)app.takeDecoded(track(2).path, App::freshCheckSince());
        openAhead(2, tempFile("Quavelark-ahead.caf"));
    }
};

// ---- play request: history, generation, start position ----------------------------
struct HistoryCase {
    const char* name;
    QList<qint64> history;         // before the request
    std::optional<qint64> current; // played before the request
    std::optional<double> pending; // the pending seek when the request comes
    qint64 request;
    QList<qint64> historyAfter;
    double startsAt;
};

QList<qint64> ids(qint64 first, qint64 last) {
    QList<qint64> out;
    for (qint64 id = first; id <= last; ++id)
        out << id;
    return out;
}

// clang-format off
const std::vector<HistoryCase> historyCases{
    {"a first play adds nothing",                 {},  std::nullopt, std::nullopt, 1, {}, 0},
    {"a change adds the outgoing id",             {7}, 1, std::nullopt, 2, {7, 1}, 0},
    {"a replay adds nothing and starts from 0",   {7}, 1, std::nullopt, 1, {7}, 0},
    {"a replay with a pending seek starts there", {7}, 1, 2.5,          1, {7}, 2.5},
    {"another track leaves a pending seek behind", {7}, 1, 2.5,         2, {7, 1}, 0},
    {"499 ids and a change make 500",
     ids(1001, 1499), 1, std::nullopt, 2, ids(1001, 1499) << 1, 0},
    {"500 ids and a change keep 500, the oldest dropped",
     ids(1001, 1500), 1, std::nullopt, 2, ids(1002, 1500) << 1, 0},
};

// ---- play request: device binding and rate matching -----------------------------------
struct RouteCase {
    const char* name;
    bool rateMatch;
    bool bitPerfect;
    QString chosen; // "" = the system default
    QList<double> matched;
};

const std::vector<RouteCase> routeCases{
    {"both off: no rate match, bound to the chosen device", false, false, test::kDacA, {}},
    {"rate matching: from the file, then from the player",  true,  false, test::kDacA, {48000, 48000}},
    {"bit-perfect alone matches too",                       false, true,  "",          {48000, 48000}},
};

// ---- play request: the one-entry render cache --------------------------------------------
enum class Cached { ThisTrack, OtherTrack, Unreadable };
// What the request plays at once: the render, the track's file, or nothing
// (a fallback road runs).
enum class Plays { Render, File, Nothing };

struct CacheCase {
    const char* name;
    bool effects;
    Cached cached;
    Plays plays;
    QStringList roads;
    bool cacheKept;    // fxCache still holds the entry
    bool renderKept;   // the rendered file still exists
    bool previousKept; // the previous track's temporary file still exists (it goes with a request)
};

const std::vector<CacheCase> cacheCases{
    {"this track's render is taken and adopted",
     true,  Cached::ThisTrack,  Plays::Render,  {},           false, true,  false},
    {"another track's render stays; the render road starts",
     true,  Cached::OtherTrack, Plays::Nothing, {"render:1"}, true,  true,  false},
    {"a render that does not open is deleted; the render road starts",
     true,  Cached::Unreadable, Plays::Nothing, {"render:1"}, false, false, false},
    {"without effects the file plays and the cache is left alone",
     false, Cached::ThisTrack,  Plays::File,    {},           true,  true,  false},
};

// ---- transport: steps through the list ---------------------------------------------------
constexpr double kNoPlayer = -1; // `at`: only `current` is set, nothing is loaded

struct StepCase {
    const char* name;
    QList<qint64> visible;
    std::optional<qint64> current; // played, then paused at `at`
    double at;
    QList<qint64> radio;
    bool shuffled;
    QList<qint64> history;
    std::function<void(App&)> act;
    std::optional<qint64> plays; // the track a new request plays (none: no request)
    double position;             // of the player afterwards (kNoPlayer: none loaded)
    QList<qint64> radioAfter;
    QList<qint64> historyAfter;
};

const auto next = [](App& a) { a.next(); };
const auto previous = [](App& a) { a.previous(); };
const auto toggle = [](App& a) { a.toggle(); };
const auto skipBack5 = [](App& a) { a.skip(-5); };
// Track 3 taken off the radio queue's front and armed to follow gaplessly,
// as the gapless check leaves it, then the step.
std::function<void(App&)> withRadioSuccessor(std::function<void(App&)> step) {
    return [step](App& a) {
        const auto three = std::find_if(a.library.rows.begin(), a.library.rows.end(),
                                        [](const Track& t) { return t.id == 3; });
        auto player = AudioPlayer::open(*a.platform.outputs, three->path).player;
        player->play();
        a.playback.prepared =
            PreparedNext{PreparedNext::Kind::Scheduled, *three, std::move(player), true};
        step(a);
    };
}

// Columns: visible, current, at, radio, shuffled, history | act | plays,
// position, radio after, history after.
const std::vector<StepCase> stepCases{
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
    {"the radio queue feeds next with an empty list",
     {}, 1, 0,           {9, 2, 3}, false, {}, next, 2, 0, {3}, {1}},
    {"previous never takes from the radio queue",
     {1, 3}, 1, 0,       {2}, false, {}, previous, 3, 0, {2}, {1}},
    {"next with a radio track armed to follow plays it, the queue after it kept",
     {1, 2}, 1, 0,       {4}, false, {}, withRadioSuccessor(next), 3, 0, {4}, {1}},
    {"previous with a radio track armed to follow gives it back to the queue's front",
     {1, 2}, 1, 0,       {4}, false, {}, withRadioSuccessor(previous), 2, 0, {3, 4}, {1}},
    {"skip(-5) on three tracks stays in the list",
     {1, 2, 3}, 1, 0,    {}, false, {}, skipBack5, 2, 0, {}, {1}},
    {"previous in shuffle passes over ids no longer visible",
     {1, 2, 3}, 2, 0,    {}, true, {1, 3, 9}, previous, 3, 0, {}, {1}},
    {"toggle with nothing loaded plays the current track",
     {1, 2}, 3, kNoPlayer, {}, false, {}, toggle, 3, 0, {}, {}},
    {"toggle with nothing loaded and an empty list does nothing",
     {}, std::nullopt, kNoPlayer, {}, false, {}, toggle, std::nullopt, kNoPlayer, {}, {}},
};

// ---- transport: the end of a file ----------------------------------------------------------
struct EndCase {
    const char* name;
    bool repeatOn;
    bool successfully;
    bool withSuccessor;       // a prepared gapless successor (track 3)
    bool fromOther;           // the end comes from a player that is not `audio`
    qint64 current;           // afterwards
    bool newRequest;          // the generation moved
    bool samePlayer;          // `audio` is still the player that ended
    QString status;           // "" = unchanged
    QList<qint64> history;
};

// Columns: repeat, successfully, successor, from another | current, new
// request, same player, status, history.
const QString kError = QStringLiteral("재생 중 오류가 발생했습니다.");
const std::vector<EndCase> endCases{
    {"a normal end plays the next row",
     false, true,  false, false, 2, true,  false, "",    {1}},
    {"repeat replays the track as a new request",
     true,  true,  false, false, 1, true,  false, "",    {}},
    {"an end with a successor promotes it",
     false, true,  true,  false, 3, false, false, "",    {1}},
    {"an error end reports and keeps the player",
     false, false, true,  false, 1, false, true,  kError, {}},
    {"repeat and an error end reports",
     true,  false, false, false, 1, false, true,  kError, {}},
    {"an end from a player that is not current is ignored",
     false, true,  false, true,  1, false, true,  "",    {}},
};
// clang-format on

// ---- transport: speed ---------------------------------------------------------------------
struct SpeedCase {
    const char* name;
    double playRate;         // when the track starts
    std::optional<int> pick; // then chosen in the speed pop-up
    bool rateControl;
    double rate;
    bool rebuilt; // the change made a new player
};

const std::vector<SpeedCase> speedCases{
    {"1x leaves rate control off", 1.0, std::nullopt, false, 1.0, false},
    {"1.25x turns it on at 1.25", 1.25, std::nullopt, true, 1.25, false},
    {"1x to 1.5x rebuilds the player at its place", 1.0, 6, true, 1.5, true},
    {"1.5x to 1.25x changes the rate in place", 1.5, 5, true, 1.25, false},
    {"1.25x to 1x keeps the player", 1.25, 3, true, 1.0, false},
};

// ---- transport: actions that drop the prepared successor -------------------------------------
// What the current player does after the action.
enum class After { Plays, Paused, Errored, Replaced };

struct DropCase {
    const char* name;
    std::function<void(Rig&)> act;
    After after;
    double position; // of the current player afterwards, unless replaced
    // The radio queue afterwards ({7} before), with a radio pick (3) armed
    // to follow gaplessly, and with a player opened ahead on track 2.
    QList<qint64> queueArmed;
    QList<qint64> queueAhead;
    bool drawn = false; // the action draws its picks: the queue compared in order of id
    double speed = 1.0; // the track starts at this speed
};

const auto onApp = [](void (App::*action)()) { return [action](Rig& r) { (r.app.*action)(); }; };
const auto seekTo = [](Rig& r) {
    r.app.seek->setDoubleValue(1.25);
    r.app.seekChanged();
};
// The four playback-mode boxes as the user leaves them, then their action.
const auto modes = [](bool gapless, bool bitPerfect, bool maxQuality, bool rateMatch) {
    return [=](Rig& r) {
        r.app.gaplessBox->setChecked(gapless);
        r.app.bitBox->setChecked(bitPerfect);
        r.app.maxBox->setChecked(maxQuality);
        r.app.rateBox->setChecked(rateMatch);
        r.app.playbackModeToggled();
    };
};
// The device pop-up's other output chosen.
const auto otherDevice = [](Rig& r) {
    r.app.refreshDevicePopup();
    const std::vector<OutputDeviceEntry>& list = r.app.playback.deviceList;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].uid != r.audio()->outputDevice())
            r.app.devicePopup->setCurrentIndex(int(i) + 1);
    r.app.deviceChosen();
};
// Tracks 1, 2 and 4 by one artist; track 1's sound known unless `analysed`
// is false, when the analysis gives it later.
void oneArtist(Rig& r, bool analysed) {
    for (Track& t : r.app.library.rows)
        if (t.id == 1 || t.id == 2 || t.id == 4)
            t.artist = QStringLiteral("Lumen");
    r.app.playback.current->artist = QStringLiteral("Lumen");
    if (analysed)
        r.app.listening.sonic[r.track(1).path] = Sonic();
    else
        test::fakes(r.app).analysers.analyzeSonic = [](const QString&) { return Sonic(); };
}
// A path from track 1 (70 bpm) to track 2 (160 bpm), picked in row 1: five
// tracks 101 … 105 whose tempi step evenly between, so the path takes them
// in order; the others count as analysed without a sound.
const auto adventure = [](Rig& r) {
    App& a = r.app;
    const auto sound = [](double bpm) { return Sonic{bpm, -30, 6, 0.0625, 0, true}; };
    for (const Track& t : a.library.rows)
        a.listening.sonic[t.path] = t.id == 1 ? sound(70) : t.id == 2 ? sound(160) : Sonic();
    for (qint64 k = 1; k <= 5; ++k) {
        r.add(100 + k, QStringLiteral("/m/%1.flac").arg(100 + k));
        a.listening.sonic[r.track(100 + k).path] = sound(70 + 15 * double(k));
    }
    test::showTrackList(a);
    a.selectTableRow(1);
    a.sonicAdventure();
};

const QList<qint64> kBack{3, 7}; // the armed radio pick given back
const QList<qint64> kKept{7};
const QList<qint64> kAdventure{102, 103, 104, 105, 2}; // 101 plays
// clang-format off
const std::vector<DropCase> dropCases{
    {"pause",                       [](Rig& r) { toggle(r.app); },        After::Paused,   4.5,  kBack, kKept},
    {"seek",                        seekTo,                               After::Plays,    1.25, kBack, kKept},
    {"a seek on the waveform",      [](Rig& r) { r.app.waveformSeek(0.2); }, After::Plays, 1.0,  kBack, kKept},
    {"the A-B loop's jump back",
     [](Rig& r) { r.app.playback.abA = 1.0; r.app.playback.abB = 4.0; r.app.abTick(); },
     After::Plays, 1.0, kBack, kKept},
    {"rewind past 3 s",             [](Rig& r) { previous(r.app); },      After::Plays,    0,    kBack, kKept},
    {"restart",                     onApp(&App::restartTrack),            After::Plays,    0,    kBack, kKept},
    {"speed changed in place",
     [](Rig& r) { r.app.ratePopup->addItems({"0.5x", "0.75x", "0.9x", "1x", "1.1x", "1.25x", "1.5x", "2x"});
                  r.app.ratePopup->setCurrentIndex(6);
                  r.app.rateChanged(); },
     After::Plays, 4.5, kBack, kKept, false, 1.25},
    {"repeat turned on",            onApp(&App::toggleRepeat),            After::Plays,    4.5,  kBack, kKept},
    {"shuffle pressed",             onApp(&App::toggleShuffle),           After::Plays,    4.5,  kBack, kKept},
    {"gapless turned off",          modes(false, false, false, true),     After::Plays,    4.5,  kBack, kKept},
    {"rate matching turned off",    modes(true, false, false, false),     After::Plays,    4.5,  kBack, kKept},
    {"bit-perfect turned on",       modes(true, true, false, true),       After::Replaced, 0,    kBack, kKept},
    {"maximum quality turned on",   modes(true, false, true, true),       After::Replaced, 0,    kBack, kKept},
    {"the effects changed",         onApp(&App::fxChanged),               After::Replaced, 0,    kBack, kKept},
    {"another output device",       otherDevice,                          After::Plays,    4.5,  kBack, kKept},
    {"a play request",              [](Rig& r) { QVERIFY(test::playTaken(r.app, r.track(1))); }, After::Replaced, 0,  kBack, kKept},
    {"a playback error",
     [](Rig& r) { r.app.audioPlayerDidFinishPlaying(*r.audio(), false); },
     After::Errored, 4.5, kBack, kKept},
    {"the sleep timer's stop",
     [](Rig& r) { r.app.playback.sleepEnd = -1.0; r.app.sleepTick(); },
     After::Paused, 4.5, kBack, kKept},
    {"the row menu's Play Next on track 2",
     [](Rig& r) { test::pressTrackRow(r.app, 1); r.app.menuPlayNext(); },
     After::Plays, 4.5, {2, 3, 7}, {2, 7}},
    {"the radio turned off",        onApp(&App::startRadio),              After::Plays,    4.5,  {},    {}},
    // An armed radio pick counts as queued: the press turns the radio off.
    {"the radio button with the queue empty",
     [](Rig& r) { r.app.listening.radioQueue.clear(); r.app.startRadio(); },
     After::Plays, 4.5, {}, {2, 3, 4, 5}, true},
    {"a guest DJ style chosen",
     [](Rig& r) { oneArtist(r, true); r.app.djChanged(kDjGroupie); },
     After::Plays, 4.5, {2, 4}, {2, 4}, true},
    {"a guest DJ's first batch, landing after the list's next was armed",
     [](Rig& r) { oneArtist(r, false);
                  r.app.djChanged(kDjGroupie);
                  QVERIFY(r.app.listening.radioQueue.isEmpty());
                  r.prepareAgain();
                  QVERIFY(r.app.listening.sonicJobs->waitIdle(60000));
                  QTRY_VERIFY_WITH_TIMEOUT(!r.app.listening.radioQueue.isEmpty(), 30000); },
     After::Plays, 4.5, {2, 4}, {2, 4}, true},
    {"the guest DJ turned off",     [](Rig& r) { r.app.djChanged(4); },   After::Plays,    4.5,  {},    {}},
    {"a Sonic Adventure",           adventure,                            After::Replaced, 0,    kAdventure, kAdventure},
};
// clang-format on

} // namespace

// ---- the look-ahead render of every track start ------------------------------------
enum class Start { Request, GaplessTakeOver };
// clang-format off
struct LookAheadCase { const char* name; Start start; };
const std::vector<LookAheadCase> lookAheadCases{
    {"a play request", Start::Request},
    {"a gapless take-over", Start::GaplessTakeOver},
};
// clang-format on

// ---- a device lost under the player, and back ---------------------------------------
enum class AfterLoss { Play, SeekThenPlay, NewTrack };
// clang-format off
struct LossCase { const char* name; AfterLoss then; double resumesAt; }; // -1: where it stood
const std::vector<LossCase> lossCases{
    {"Play goes on where it stood",                 AfterLoss::Play,         -1},
    {"a seek while stopped moves where it goes on", AfterLoss::SeekThenPlay, 1.0},
    {"another track starts from its beginning",     AfterLoss::NewTrack,     0},
};
// clang-format on

// Track 1 (5 s) playing on Analog B, whose sink the test can take away.
struct LossRig : test::TrackIds<LossRig> {
    std::shared_ptr<SimSinkControl> sink = std::make_shared<SimSinkControl>(SimClock::Manual);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    LossRig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.maxQuality = false;
        add(1, wav("lost-1.wav"), 5);
        add(2, wav("lost-2.wav"), 5);
        show({1, 2});
    }
    double position() const { return app.audioCurrentTime().value_or(-1); }
    // The device plays `seconds` more and the position gets there. The
    // device's clock is the test's, so every frame handed out is played once
    // the feeder has queued it: waiting for all of them (not most) keeps the
    // position from moving on after the test has read what the window shows.
    bool playFor(double seconds) {
        const double target = position() + seconds;
        sink->advance(std::int64_t(seconds * 44100));
        return QTest::qWaitFor([&] { return position() >= target - 0.001; }, 10000);
    }
};

class PlayTransportTest : public QObject {
    Q_OBJECT
private slots:
    // However track 2 began, the track after it (3) is rendered ahead, and
    // the change into it takes the direct road from that render.
    void everyTrackStartRendersTheNextAhead_data() { addRows(lookAheadCases); }
    void everyTrackStartRendersTheNextAhead() {
        const LookAheadCase& c = test::currentCase(lookAheadCases);
        Rig r;
        bool effects = false;
        test::fakes(r.app).analysers.fxSignature = [&effects] {
            return effects ? std::optional(QStringLiteral("eq:warm")) : std::nullopt;
        };
        // The paths rendered, in order; written on the render queue, read once
        // it is done. Shared: the last play starts a render ahead that may
        // still run when this function has returned.
        const auto rendered = std::make_shared<QStringList>();
        test::fakes(r.app).analysers.renderFX = [rendered](const RenderSnapshot& s) {
            *rendered << s.path;
            const QString out = tempFile(QStringLiteral("ahead-%1.caf").arg(rendered->size()));
            return test::writeAudio(out, {SF_FORMAT_CAF | SF_FORMAT_FLOAT, 44100, 2, 44100})
                       ? RenderResult{out, {}}
                       : RenderResult{};
        };
        if (c.start == Start::Request) {
            effects = true;
            QVERIFY(test::playTaken(r.app, r.track(2))); // its own render is the observer's
        } else {
            QVERIFY(test::playTaken(r.app, r.track(1)));
            effects = true;
            r.prepareSuccessor(2, false);
            r.app.promotePrepared(std::move(*std::exchange(r.app.playback.prepared, std::nullopt)));
        }
        QCOMPARE(r.app.playback.current->id, qint64(2));
        QTRY_VERIFY_WITH_TIMEOUT(r.app.playback.fxCache.has_value(), ql::test::kOutcomeMs);
        r.app.renderQueue->waitForDone();
        QCOMPARE(*rendered, QStringList{r.track(3).path});

        const QString ahead = r.app.playback.fxCache->path;
        r.roads.clear();
        QVERIFY(test::playTaken(r.app, r.track(3)));
        QCOMPARE(r.roads, QStringList{});
        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.audio()->path(), ahead);
    }

    // The output fails under a playing track: the window keeps the position
    // it showed, the log says why, and once the device is back Play goes on
    // from there rather than from 0:00.
    void aLostDeviceResumesAtTheShownPosition_data() { addRows(lossCases); }
    void aLostDeviceResumesAtTheShownPosition() {
        const LossCase& c = test::currentCase(lossCases);
        const test::LogLines log(QStringLiteral("quavelark.playback.debug=true"));
        LossRig r;
        QVERIFY(test::playTaken(r.app, r.track(1)));
        QVERIFY(r.app.isPlaying());
        QVERIFY(r.playFor(2.0));
        r.app.refreshTimes(); // what the window shows, as its tick does
        // As the window was given it: the position read again may have
        // moved on by the last frames the feeder handed out.
        const double shown = r.app.playback.shownAt;
        QVERIFY2(shown > 1.5, qPrintable(QString::number(shown)));
        QCOMPARE(r.app.views.elapsedLabel->text(), timeText(shown));

        r.sink->loseAtReport = true;
        QVERIFY(QTest::qWaitFor([&] { return !r.app.isPlaying(); }, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(r.app.status->stringValue(),
                                  QStringLiteral("재생 중 오류가 발생했습니다."),
                                  ql::test::kOutcomeMs);
        r.app.refreshTimes();
        QCOMPARE(r.app.views.elapsedLabel->text(), timeText(shown));
        bool said = false;
        for (const test::LogLine& l : test::LogLines::ours())
            said = said || (l.text.startsWith(QStringLiteral("the player's error: ")) &&
                            l.text.size() > QStringLiteral("the player's error: ").size());
        QVERIFY2(said, qPrintable(test::LogLines::dump()));

        r.sink->loseAtReport = false; // the device is back
        if (c.then == AfterLoss::SeekThenPlay)
            r.app.setAudioTime(1.0);
        if (c.then == AfterLoss::NewTrack)
            r.app.play(r.track(2));
        else
            r.app.toggle();
        QVERIFY(test::waitRoadTaken(r.app));
        QVERIFY(r.app.isPlaying());
        const double from = c.resumesAt < 0 ? shown : c.resumesAt;
        QVERIFY2(std::abs(r.position() - from) < 0.15,
                 qPrintable(QString("at %1 s, not %2 s").arg(r.position()).arg(from)));
        QVERIFY(r.playFor(0.5)); // and it plays on from there
        QVERIFY2(std::abs(r.position() - (from + 0.5)) < 0.15,
                 qPrintable(QString::number(r.position())));
    }

    void historyGenerationAndStart_data() { addRows(historyCases); }
    void historyGenerationAndStart() {
        const HistoryCase& c = test::currentCase(historyCases);
        Rig r;
        if (c.current)
            QVERIFY(test::playTaken(r.app, r.track(*c.current)));
        const AudioPlayer* before = r.audio();
        r.app.playback.history = c.history;
        r.app.playback.pendingSeek = c.pending;

        QVERIFY(test::playTaken(r.app, r.track(c.request)));

        QCOMPARE(r.app.playback.history, c.historyAfter);
        QCOMPARE(r.app.playback.generation, quint64(c.current ? 2 : 1));
        QVERIFY(!r.app.playback.pendingSeek);
        QVERIFY(r.audio() && r.audio() != before && r.audio()->isPlaying());
        QCOMPARE(r.audio()->path(), r.track(c.request).path);
        QVERIFY(r.audio()->currentTime() >= c.startsAt && r.near(c.startsAt));
        QVERIFY(!r.app.playback.loading);
        QCOMPARE(r.button(), kPause);
        QCOMPARE(r.app.seek->maximumValue(), 5.0);
    }

    void deviceBindingAndRateMatch_data() { addRows(routeCases); }
    void deviceBindingAndRateMatch() {
        const RouteCase& c = test::currentCase(routeCases);
        Rig r;
        QList<double> matched;
        test::fakes(r.app).desktop.matchDeviceRate = [&](double rate) { matched << rate; };
        r.app.playback.rateMatchOn = c.rateMatch;
        r.app.playback.bitPerfect = c.bitPerfect;
        if (!c.chosen.isEmpty())
            r.app.playback.outputUID = c.chosen;

        QVERIFY(test::playTaken(r.app, r.track(4)));

        QCOMPARE(matched, c.matched);
        QVERIFY(r.audio() && r.audio()->isPlaying());
        QCOMPARE(r.audio()->outputDevice(), c.chosen);
        QCOMPARE(r.rig.hw().writeCalls().total(), 0);
    }

    void renderCache_data() { addRows(cacheCases); }
    void renderCache() {
        const CacheCase& c = test::currentCase(cacheCases);
        Rig r;
        r.app.playback.maxQuality = true; // on a device with no higher rate
        test::fakes(r.app).analysers.upsampleTarget = [](double, int, const std::vector<double>&) {
            return std::optional<double>();
        };
        if (c.effects)
            test::fakes(r.app).analysers.fxSignature = [] {
                return std::optional<QString>("eq:+3");
            };
        const QString render = tempFile("Quavelark-fx-render.caf");
        const QString previous = tempFile("Quavelark-previous.caf");
        QFile::remove(render);
        QVERIFY(
            QFile::copy(c.cached == Cached::Unreadable ? garbage("bad") : r.track(2).path, render));
        QVERIFY(QFile::copy(r.track(3).path, previous));
        r.app.playback.cacheURL = previous;
        // Maximum quality is on: the signature carries the upsampling mode.
        const Track& cachedFor = r.track(c.cached == Cached::OtherTrack ? 3 : 1);
        r.app.playback.fxCache = RenderCacheEntry{App::fxKey(cachedFor, "eq:+3|up2"), render};

        QVERIFY(test::playTaken(r.app, r.track(1)));

        QCOMPARE(r.roads, c.roads);
        QCOMPARE(r.app.playback.fxCache.has_value(), c.cacheKept);
        QCOMPARE(QFile::exists(render), c.renderKept);
        QCOMPARE(QFile::exists(previous), c.previousKept);
        if (c.plays == Plays::Nothing) {
            QVERIFY(!r.audio() && r.app.playback.loading);
            QCOMPARE(r.button(), kPreparing);
            QCOMPARE(r.app.playback.cacheURL, std::nullopt);
        } else {
            const bool fromRender = c.plays == Plays::Render;
            QVERIFY(r.audio() && r.audio()->isPlaying());
            QCOMPARE(r.audio()->path(), fromRender ? render : r.track(1).path);
            QCOMPARE(r.app.playback.cacheURL, fromRender ? std::optional(render) : std::nullopt);
        }
        QFile::remove(render);
        QFile::remove(previous);
    }

    // A request ends the running decode; a file our player cannot open goes
    // to the decode road silently, with the pending seek and the generation.
    void unreadableFileTakesTheDecodeRoad() {
        Rig r;
        // A decode job of the track before, still writing its output.
        const QString partial = tempFile("Quavelark-partial.caf");
        QVERIFY(test::writeFile(partial, "partial"));
        const auto stop = std::make_shared<ChildStop>();
        r.app.playback.inFlight->add(partial);
        r.app.playback.roadDecode =
            RoadDecode{DecodeJob{99, partial, stop}, r.app.playback.generation};
        r.app.playback.current = r.track(5); // rebuilt where it stood
        r.app.playback.pendingSeek = 1.5;
        const QString status = r.app.status->stringValue();

        QVERIFY(test::playTaken(r.app, r.track(5)));

        QVERIFY(stop->requested());
        QVERIFY(!QFile::exists(partial));
        QCOMPARE(r.roads, QStringList{"decode:5"});
        QCOMPARE(r.roadGeneration, r.app.playback.generation);
        QCOMPARE(r.app.playback.pendingSeek, std::optional(1.5));
        QVERIFY(!r.audio() && r.app.playback.loading);
        QCOMPARE(r.currentId(), std::optional<qint64>(5));
        QCOMPARE(r.button(), kPreparing);
        QCOMPARE(r.app.status->stringValue(), status);
    }

    void steps_data() { addRows(stepCases); }
    void steps() {
        const StepCase& c = test::currentCase(stepCases);
        Rig r;
        r.show(c.visible);
        if (c.current && c.at == kNoPlayer) {
            r.app.playback.current = r.track(*c.current);
        } else if (c.current) {
            QVERIFY(test::playTaken(r.app, r.track(*c.current)) && r.audio());
            r.audio()->pause();
            r.audio()->setCurrentTime(c.at);
        }
        r.app.playback.history = c.history;
        r.app.playback.shuffled = c.shuffled;
        r.app.listening.radioQueue = c.radio;
        const quint64 generation = r.app.playback.generation;
        const AudioPlayer* before = r.audio();

        c.act(r.app);
        QVERIFY(test::waitRoadTaken(r.app));

        QCOMPARE(r.app.playback.generation, generation + (c.plays ? 1 : 0));
        if (c.plays) {
            QCOMPARE(r.currentId(), c.plays);
            QCOMPARE(r.audio()->path(), r.track(*c.plays).path);
        } else {
            QCOMPARE(r.audio(), before);
        }
        QCOMPARE(r.audio() != nullptr, c.position != kNoPlayer);
        QVERIFY(!r.audio() || r.near(c.position));
        QCOMPARE(r.app.listening.radioQueue, c.radioAfter);
        QCOMPARE(r.app.playback.history, c.historyAfter);
    }

    void fileEnds_data() { addRows(endCases); }
    void fileEnds() {
        const EndCase& c = test::currentCase(endCases);
        Rig r;
        r.app.playback.repeatOn = c.repeatOn;
        QVERIFY(test::playTaken(r.app, r.track(1)) && r.audio());
        const AudioPlayer* ended = r.audio();
        const AudioPlayer* successor = c.withSuccessor ? r.prepareSuccessor(3, false) : nullptr;
        const QString status = r.app.status->stringValue();
        const auto other = AudioPlayer::open(*r.rig.platform.outputs, r.track(2).path).player;

        r.app.audioPlayerDidFinishPlaying(c.fromOther ? *other : *ended, c.successfully);
        QVERIFY(test::waitRoadTaken(r.app));

        QCOMPARE(r.currentId(), std::optional(c.current));
        QCOMPARE(r.app.playback.generation, quint64(c.newRequest ? 2 : 1));
        QCOMPARE(r.audio() == ended, c.samePlayer);
        QCOMPARE(r.app.status->stringValue(), c.status.isEmpty() ? status : c.status);
        QCOMPARE(r.app.playback.history, c.history);
        // Only an error end stops the sound.
        QCOMPARE(r.button(), c.samePlayer && !c.fromOther ? kPlay : kPause);
        if (c.current == 3)
            QVERIFY(r.audio() == successor && !r.app.playback.prepared);
        // An error end lets the successor go: scheduled for the end of the
        // file, it would otherwise sound under the error, at a time the
        // error moved.
        if (c.withSuccessor && c.current != 3)
            QVERIFY(!r.app.playback.prepared && !successor->isPlaying());
    }

    // Every action that moves playback lets the prepared next player go:
    // a gapless successor is silenced, and one from the radio gives its id
    // back to the queue's front; the decode a player opened ahead read goes
    // back to the look ahead for the next track to take.
    void actionsDropThePreparedPlayer_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("openedAhead");
        for (std::size_t i = 0; i < dropCases.size(); ++i)
            for (const bool openedAhead : {false, true})
                QTest::newRow(qPrintable(QString::fromLatin1(dropCases[i].name) +
                                         (openedAhead ? ", opened ahead" : ", gapless successor")))
                    << int(i) << openedAhead;
    }
    void actionsDropThePreparedPlayer() {
        const DropCase& c = test::currentCase(dropCases);
        QFETCH(bool, openedAhead);
        Rig r;
        r.app.playback.playRate = c.speed;
        QVERIFY(test::playTaken(r.app, r.track(1)) && r.audio());
        r.audio()->setCurrentTime(4.5);
        const AudioPlayer* current = r.audio();
        r.app.dropDecodeAhead(); // the look ahead the start made: the test's own comes back
        const QString decoded = test::tempFile("Quavelark-ahead.caf");
        const AudioPlayer* prepared =
            openedAhead ? r.openAhead(2, decoded) : r.prepareSuccessor(3, true);
        r.app.listening.radioQueue = {7};
        r.ahead = openedAhead;

        c.act(r);
        QVERIFY(test::waitRoadTaken(r.app));

        QVERIFY(!r.app.playback.prepared);
        // Retired, it is silent; a player the event loop already destroyed is too.
        const auto retired =
            std::ranges::find(r.app.playback.retired, prepared, &std::unique_ptr<AudioPlayer>::get);
        QVERIFY(retired == r.app.playback.retired.end() || !prepared->isPlaying());
        QList<qint64> queue = r.app.listening.radioQueue;
        if (c.drawn)
            std::ranges::sort(queue);
        QCOMPARE(queue, openedAhead ? c.queueAhead : c.queueArmed);
        if (c.after == After::Replaced) {
            QVERIFY(r.audio() != current);
            return;
        }
        if (openedAhead) {
            QVERIFY(r.app.playback.decodeAhead);
            QCOMPARE(r.app.playback.decodeAhead->source, r.track(2).path);
            QCOMPARE(r.app.playback.decodeAhead->file, std::optional(decoded));
            QVERIFY(QFile::exists(decoded));
        }
        QCOMPARE(r.audio(), current);
        if (c.after == After::Errored) {
            QCOMPARE(r.button(), kPlay);
            return;
        }
        QCOMPARE(r.audio()->isPlaying(), c.after == After::Plays);
        QVERIFY(r.near(c.position));
    }

    void toggleWaitsWhileLoading() {
        Rig r;
        QVERIFY(test::playTaken(r.app, r.track(1)));
        r.app.toggle();
        QCOMPARE(r.button(), kPlay);
        r.app.playback.loading = true;
        r.app.toggle();
        QVERIFY(!r.app.isPlaying());
        QCOMPARE(r.button(), kPlay);
        QCOMPARE(r.app.playback.generation, quint64(1));
    }

    void shuffleDrawsANewOrderEachPress() {
        Rig r;
        for (qint64 id = 100; id < 140; ++id)
            r.app.library.rows.push_back(
                Track{id, QStringLiteral("/m/%1").arg(id), {}, {}, {}, 0, {}});
        const auto order = [&] {
            QList<qint64> out;
            for (const Track& t : r.app.browser.filtered)
                out << t.id;
            return out;
        };
        r.app.toggleShuffle();
        const QList<qint64> first = order();
        r.app.toggleShuffle();
        QVERIFY(r.app.playback.shuffled && UserDefaults().boolean(keys::kShuffle));
        QCOMPARE(first.size(), 45);
        QVERIFY(order() != first);
    }

    // Rate control only away from 1x; a change to a player without it
    // rebuilds the track where it stood, one with it changes in place.
    void speed_data() { addRows(speedCases); }
    void speed() {
        const SpeedCase& c = test::currentCase(speedCases);
        Rig r;
        r.app.ratePopup->addItems({"0.5x", "0.75x", "0.9x", "1x", "1.1x", "1.25x", "1.5x", "2x"});
        r.app.playback.playRate = c.playRate;
        QVERIFY(test::playTaken(r.app, r.track(2)) && r.audio());
        r.audio()->setCurrentTime(2.0);
        const AudioPlayer* before = r.audio();
        if (c.pick) {
            r.app.ratePopup->setCurrentIndex(*c.pick);
            r.app.rateChanged();
            QVERIFY(test::waitRoadTaken(r.app) && r.audio());
            QCOMPARE(UserDefaults().realIfPresent(keys::kPlayRate), std::optional(c.rate));
        }
        QCOMPARE(r.audio()->enableRate(), c.rateControl);
        QCOMPARE(r.audio()->rate(), float(c.rate));
        QCOMPARE(r.audio() != before, c.rebuilt);
        QCOMPARE(r.app.playback.generation, quint64(c.rebuilt ? 2 : 1));
        QVERIFY(r.near(2.0) && !r.app.playback.pendingSeek);
    }
};

QL_TEST_MAIN(PlayTransportTest)
#include "PlayTransportTest.moc"
