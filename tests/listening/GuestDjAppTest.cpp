// Guards against: a guest DJ or Sonic Adventure that queues, plays or says something other
// than what the user chose, repeats a track, or leaves Korean in English mode. The launched
// controller on the simulated rig; tracks 1 and 2 are real WAV files, the others play nowhere.
// Every track has a sonic entry, so no analysis runs.
#include "app/App.h"
#include "platform/sim/SimPlatform.h"
#include "ui/PullDownButton.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "OpenSettled.h"
#include "SimRigs.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <sndfile.h>

using namespace ql;

namespace {

// 1 by "Lumen" from 1987; 3 … 10 sound exactly like 1 and are from 1986; 11 … 13 by
// "LUMEN"; the others, by one artist each and without a year, sound alike and unlike 1
// (distance 1.01).
constexpr int kTracks = 60;
const Sonic kLikeOne{115, -30, 6, 0.0625, 1987, true};
const Sonic kElse{160, -10, 12, 0.125, 0, true};

std::vector<Track> catalog() {
    std::vector<Track> rows;
    test::AudioShape wav{SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    wav.frames = 5 * wav.rate;
    for (qint64 id = 1; id <= kTracks; ++id) {
        const QString artist = id == 1               ? QStringLiteral("Lumen")
                               : id > 10 && id <= 13 ? QStringLiteral("LUMEN")
                                                     : QStringLiteral("A%1").arg(id);
        const QString path = id <= 2 ? test::tempFile(QStringLiteral("dj%1.wav").arg(id))
                                     : QStringLiteral("/m/%1.flac").arg(id);
        if (id <= 2 && !QFile::exists(path) && !test::writeAudio(path, wav))
            qFatal("cannot write %s", qPrintable(path));
        rows.push_back(Track{id, path, QStringLiteral("T%1").arg(id), artist, {}, 5, {}});
    }
    return rows;
}

struct Rig {
    QStringList played;
    test::LaunchedApp launched;
    App& app;
    explicit Rig(const char* lang = "ko")
        : launched(
              lang,
              [this](App& a) {
                  test::fakes(a).observer.playRequest = [this](const Track& t) {
                      played << QString::number(t.id);
                  };
                  test::fakes(a).observer.fallbackRoad = [](const char*, const Track&, quint64) {};
                  test::fakes(a).analysers.analyzeSonic = [](const QString&) {
                      return std::optional(kLikeOne);
                  };
              },
              platform::makeSimulatedPlatform(
                  test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}})),
          app(*launched.app) {
        app.playback.maxQuality = false; // the direct road
        app.library.rows = catalog();
        app.filter(true);
        for (const Track& t : app.library.rows)
            app.listening.sonic[t.path] = t.id == 1 || (t.id >= 3 && t.id <= 10) ? kLikeOne : kElse;
        for (qint64 id = 3; id <= 10; ++id)
            app.listening.sonic[track(id).path].year = 1986;
        app.listening.random.seed(7);
    }
    const Track& track(qint64 id) const { return app.library.rows[std::size_t(id - 1)]; }
};

using Step = std::function<void(Rig&, App&, int)>;
// clang-format off
const QHash<QChar, Step> kSteps = {
    {'p', [](Rig& r, App& a, int n) { a.play(r.track(n)); }},
    {'P', [](Rig&, App& a, int) { a.toggle(); }},
    {'n', [](Rig&, App& a, int) { a.next(); }},
    {'D', [](Rig&, App& a, int n) { a.djChanged(n); }},
    {'O', [](Rig&, App& a, int n) { for (int i = 0; i < n; ++i) (void)a.popRadio(); }},
    {'r', [](Rig&, App& a, int n) { a.selectTableRow(n); }},
    {'S', [](Rig&, App& a, int) { a.sonicAdventure(); }},
    // Only the first n catalog tracks keep a vector; the others' analyses failed.
    {'K', [](Rig& r, App& a, int n) { for (qint64 id = n + 1; id <= kTracks; ++id) a.listening.sonic[r.track(id).path] = Sonic(); }},
    {'G', [](Rig& r, App& a, int n) { a.listening.sonic[r.track(n).path] = Sonic(); }},
    {'E', [](Rig&, App&, int) { L10n::setLanguage("en"); }},
    {'U', [](Rig& r, App& a, int n) { a.listening.sonic.remove(r.track(n).path); }},
    // Until every track has an entry again: the analysis asked for has come back.
    {'w', [](Rig&, App& a, int) { QVERIFY(QTest::qWaitFor([&a] { return a.listening.sonic.size() == kTracks; }, 60000)); }},
    // Until no analysis runs and every result asked for has been taken.
    {'W', [](Rig&, App& a, int) { QVERIFY(a.listening.sonicJobs->waitIdle(60000)); QCoreApplication::sendPostedEvents(); }},
};
// clang-format on

// The state named by each letter of `fields`, " | " between them.
QString state(const Rig& r, const QString& fields) {
    const App& app = r.app;
    const ListeningState& l = app.listening;
    const std::optional<Track>& current = app.playback.current;
    // The queue and the current track never repeat an id, and neither holds track 1 unless
    // it plays; every queued id is one the DJ remembers while a style is on.
    QList<qint64> seen = l.radioQueue;
    if (current)
        seen << current->id;
    const QSet<qint64> distinct(seen.cbegin(), seen.cend());
    bool sound = distinct.size() == seen.size() && !l.radioQueue.contains(1);
    for (const qint64 id : l.radioQueue)
        sound &= l.djMode == 0 || l.djRecent.contains(id);
    const QSet<qint64> recent(l.djRecent.cbegin(), l.djRecent.cend());
    sound &= recent.size() == l.djRecent.size() && !recent.contains(1);
    const QHash<QChar, QString> all = {
        {'q', QString::number(l.radioQueue.size()) + " " +
                  (current ? QString::number(current->id) : "-") +
                  (app.isPlaying() ? " playing" : "")},
        {'n', QString::number(l.radioQueue.size())},
        {'Q',
         [&] {
             QList<qint64> q = l.radioQueue;
             std::ranges::sort(q);
             QStringList o;
             for (qint64 id : q)
                 o << QString::number(id);
             return o.join(',');
         }()},
        {'g', l.radioQueue.isEmpty() ? "-" : QString::number(l.radioQueue.last())},
        {'k', QString::number(l.djMode) + " " + QString::number(l.djRecent.size())},
        {'c', !current                       ? "-"
              : current->id == 1             ? "start"
              : recent.contains(current->id) ? "a pick"
                                             : "other"},
        {'v', sound ? "no repeats" : "repeats"},
        {'f', app.djPopup->text()},
        {'s', l.sonicOn ? "scan" : "no scan"},
        {'p', QString::number(r.played.size())},
        {'t', app.status->stringValue()}};
    QStringList out;
    for (const QChar f : fields)
        out << all[f];
    return out.join(" | ");
}

// clang-format off
struct Case { const char *name, *steps, *fields; QString want; };

// Steps: p<id> play, P play/pause, n next, D<item> DJ item (1 Contempo, 2 Groupie,
// 3 Stretch, 4 off), O<n> n pops, r<row> row selected, S Sonic Adventure, K<n> only
// tracks 1…n analysed, G<id> that track's analysis failed, E English, U<id> that track
// unanalysed, w wait for its analysis, W wait for every analysis and its result.
// Fields: q queue size, current, playing; n queue size; Q queued ids in order of id; g last queued id; k DJ mode and memory size;
// c where the current track comes from; v no repeats; f DJ face; s scan asked for;
// p plays asked for; t status.
const QString kStarted = "🎧 DJ 컨템포 시작: 다음 곡부터 이어서 틀어줍니다.";
const QString kPickTarget = "🧭 목록에서 도착할 곡을 클릭해 선택한 뒤 다시 누르세요 (지금 곡 → 선택한 곡).";
const std::vector<Case> kCases = {
    {"contempo while playing: 8 picks follow the track", "p1 D1", "qkvfst", "8 1 playing | 1 8 | no repeats | 🎧 DJ 컨템포 | scan | " + kStarted},
    {"contempo picks the 8 that sound alike from the same decade", "p1 D1", "Q", "3,4,5,6,7,8,9,10"},
    {"a style with a paused track starts the first pick", "p1 P D1", "ncpv", "7 | a pick | 2 | no repeats"},
    {"a style with nothing current waits", "D1", "qkt", "0 - | 1 0 | 곡을 하나 재생하면 DJ가 이어서 틀어줍니다."},
    {"then a forward skip fills the queue and plays a pick", "D1 p1 n", "ncpv", "7 | a pick | 2 | no repeats"},
    {"groupie: exactly the 3 by the artist, no scan", "p1 D2", "qQkvfs", "3 1 playing | 11,12,13 | 2 3 | no repeats | 🎧 DJ 그루피 | no scan"},
    {"choosing a style clears queue and memory", "p1 D1 D2", "qk", "3 1 playing | 2 3"},
    {"stretch queues at most 6, the target last", "p1 D3 O1", "kvf", "3 6 | no repeats | 🎧 DJ 스트레치"},
    {"DJ off empties the queue, keeps the memory", "p1 D1 D4", "qkft", "0 1 playing | 0 8 | 🎧 게스트 DJ | 게스트 DJ를 껐습니다."},
    {"a style's start comes after the track's analysis", "p1 U1 D2 w", "qkt", "3 1 playing | 2 3 | 🎧 DJ 그루피 시작: 다음 곡부터 이어서 틀어줍니다."},
    {"turned off during that analysis: no late start", "p1 U1 D2 D4 w", "qkt", "0 1 playing | 0 0 | 게스트 DJ를 껐습니다."},
    {"the same style again during that analysis: one first batch", "p1 U1 D2 D4 D2 W", "qkt", "3 1 playing | 2 3 | 🎧 DJ 그루피 시작: 다음 곡부터 이어서 틀어줍니다."},
    {"item 0 does nothing", "p1 D0", "qkf", "0 1 playing | 0 0 | 🎧 게스트 DJ"},
    {"a low queue is refilled before its head is taken", "p1 D1 O7 O1", "qkv", "8 1 playing | 1 16 | no repeats"},
    {"the 41st pick pushes the oldest out", "p1 D1 O7 O8 O8 O8 O8 O1", "kv", "1 40 | no repeats"},
    {"english: the face of Groupie", "E p1 D2", "f", "🎧 DJ Groupie"},
    {"adventure: nothing current", "r4 S", "qst", "0 - | no scan | 먼저 출발할 곡을 재생하세요 (지금 재생 중인 곡이 출발점)."},
    {"adventure: no selected row", "p1 r-1 S", "qst", "0 1 playing | no scan | " + kPickTarget},
    {"adventure: the playing track selected", "p1 r0 S", "qst", "0 1 playing | no scan | " + kPickTarget},
    {"adventure: the goal's analysis failed", "p1 G5 r4 S", "qst", "0 1 playing | scan | 두 곡의 소리를 분석하지 못했습니다."},
    {"adventure: a pool of 4", "p1 K6 r5 S", "qt", "0 1 playing | 🎛 분석된 곡이 아직 적습니다 (4곡). 분석이 진행되는 동안 잠시 후 다시 눌러 주세요."},
    {"english: a pool of 4", "E p1 K6 r5 S", "t", "🎛 Too few analyzed tracks yet (4 tracks). Analysis is in progress; press again in a moment."},
    {"adventure: a pool of 5 queues 6, the goal last", "p1 K7 r6 S", "ngcpvt", "5 | 7 | other | 2 | no repeats | 🧭 소닉 어드벤처: T1 → … → T7 (6곡, 템포·음량·분위기를 서서히 바꿔 이어갑니다)"},
    {"adventure: a pool of 30 queues 11", "p1 K32 r31 S", "ngc", "10 | 32 | other"},
    {"adventure turns the DJ off", "p1 D1 K32 r31 S", "nkf", "10 | 0 8 | 🎧 게스트 DJ"},
    {"a second adventure while the first waits for its goal's analysis: the second stands", "p1 U5 r4 S r5 S W", "gp", "6 | 2"},
    {"english: the titles stay as they are", "E p1 K7 r6 S", "t", "🧭 Sonic Adventure: T1 → … → T7 (6 tracks, gradually changing tempo, loudness and mood)"},
};

// The faces of items 1 to 4 (Contempo, Groupie, Stretch, off), in the language shown.
struct FaceCase { const char *name, *lang; QStringList faces; };
const std::vector<FaceCase> kFaces = {
    {"Korean faces", "ko", {"🎧 DJ 컨템포", "🎧 DJ 그루피", "🎧 DJ 스트레치", "🎧 게스트 DJ"}},
    {"English faces", "en", {"🎧 DJ Contempo", "🎧 DJ Groupie", "🎧 DJ Stretch", "🎧 Guest DJ"}},
};
// clang-format on

} // namespace

class GuestDjAppTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        test::clearSettings();
        L10n::setLanguage("ko");
    }
    void actions_data() { test::addRows(kCases); }
    void actions() {
        const Case& c = test::currentCase(kCases);
        Rig rig;
        for (const QString& s : QString(c.steps).split(' ', Qt::SkipEmptyParts)) {
            kSteps[s[0]](rig, rig.app, s.mid(1).toInt());
            // A step that asked for a track: its file opens off the main thread.
            QVERIFY(test::waitRoadTaken(rig.app));
        }
        QCOMPARE(state(rig, c.fields), c.want);
    }

    // Row 2: Sonic Adventure and the DJ pull-down right after the speed pop-up, before
    // the spacer; item 2 of the pull-down turns Groupie on.
    void panelRow() {
        Rig rig;
        App& a = rig.app;
        QVERIFY(test::playTaken(a, rig.track(1)));
        a.toggleTools();
        QToolButton* dj = a.djPopup;
        QPushButton* adventure = nullptr;
        for (QPushButton* b : a.views.extrasView->findChildren<QPushButton*>())
            if (b->text() == "🧭 소닉 어드벤처")
                adventure = b;
        QVERIFY(adventure && dj->isVisible() && adventure->isVisible());
        const auto mid = [&](QWidget* w) {
            return w->mapTo(a.views.extrasView, w->rect().center());
        };
        QCOMPARE(mid(adventure).y(), mid(a.ratePopup).y());
        QCOMPARE(mid(dj).y(), mid(a.ratePopup).y());
        QVERIFY(mid(a.ratePopup).x() < mid(adventure).x() && mid(adventure).x() < mid(dj).x());
        QVERIFY(mid(dj).x() < mid(a.maxBox).x());
        QCOMPARE(dj->text(), "🎧 게스트 DJ");
        dj->menu()->actions()[1]->trigger();
        QCOMPARE(std::pair(dj->text(), a.listening.radioQueue.size()),
                 std::pair(QString("🎧 DJ 그루피"), qsizetype(3)));
    }

    // A choice leaves the pull-down where it was, as wide as it was, and the
    // row unwrapped: the next click on the same spot finds it again. Every
    // face fits whole.
    void faceKeepsItsPlace_data() { test::addRows(kFaces); }
    void faceKeepsItsPlace() {
        const FaceCase& c = test::currentCase(kFaces);
        Rig rig(c.lang);
        App& a = rig.app;
        QVERIFY(test::playTaken(a, rig.track(1)));
        a.toggleTools();
        QToolButton* dj = a.djPopup;
        QWidget* panel = a.views.extrasView;
        QTRY_VERIFY(dj->isVisible() && a.bitBox->isVisible());
        const auto settle = [] {
            for (int i = 0; i < 3; ++i) {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                QCoreApplication::processEvents();
            }
        };
        settle();
        const auto place = [&](QWidget* w) { return QRect(w->mapTo(panel, QPoint()), w->size()); };
        const QRect button = place(dj), bitPerfect = place(a.bitBox);
        // A plain button of the same kind, sized for each face on its own.
        QToolButton plain(panel);
        plain.setFont(dj->font());
        plain.setPopupMode(dj->popupMode());
        plain.setMenu(dj->menu());
        for (int item = 1; item <= 4; ++item) {
            dj->menu()->actions()[item - 1]->trigger();
            settle();
            QCOMPARE(dj->text(), c.faces[item - 1]);
            QCOMPARE(place(dj), button);
            QCOMPARE(place(a.bitBox), bitPerfect);
            plain.setText(dj->text());
            QVERIFY2(plain.sizeHint().width() <= dj->width(), qPrintable(dj->text()));
        }
    }
};

QL_TEST_MAIN(GuestDjAppTest)
#include "GuestDjAppTest.moc"
