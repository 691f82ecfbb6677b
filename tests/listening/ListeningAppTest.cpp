// Guards against: smart lists, radio, listen actions and hearts that show, queue or play
// something other than what the user chose. The launched controller on the simulated rig
// (manual clock); tracks 1 and 2 are real WAV files, the others play nowhere.
#include "app/App.h"
#include "app/JSONStore.h"
#include "platform/sim/SimPlatform.h"
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

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>

#include <sndfile.h>

using namespace ql;

namespace {

// 1, 2 Lumen's "Dawn" (one folder), 3 Lumen's "Noon" (a Korean title), 4 Mist's "Dawn";
// 5 … 100 one artist each and no album, so their tiles take the folder's name.
std::vector<Track> catalog() {
    std::vector<Track> rows;
    test::AudioShape wav{SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    wav.frames = 5 * wav.rate;
    for (qint64 id = 1; id <= 100; ++id) {
        const QString artist = id <= 3 ? "Lumen" : id == 4 ? "Mist" : QStringLiteral("A%1").arg(id);
        const QString album = id == 3 ? "Noon" : id <= 4 ? "Dawn" : "";
        const QString path = id <= 2 ? test::tempFile(QStringLiteral("w%1.wav").arg(id))
                                     : QStringLiteral("/m/%1.flac").arg(id);
        if (id <= 2 && !QFile::exists(path) && !test::writeAudio(path, wav))
            qFatal("cannot write %s", qPrintable(path));
        const QString title = id == 3 ? "밤편지" : QStringLiteral("T%1").arg(id);
        rows.push_back(Track{id, path, title, artist, album, 5, {}});
    }
    return rows;
}

struct Rig {
    QStringList probes, played, drawn;
    QSet<QString> recent; // paths whose date is a minute old (others: none)
    test::LaunchedApp launched{
        "ko",
        [this](App& a) {
            test::fakes(a).observer.qualityProbe = [this](const Track& t) {
                probes << QString::number(t.id);
            };
            test::fakes(a).observer.playRequest = [this](const Track& t) {
                played << QString::number(t.id);
            };
            test::fakes(a).observer.fallbackRoad = [](const char*, const Track&, quint64) {};
            test::fakes(a).tools.addedDate = [this](const QString& p) {
                return recent.contains(p) ? double(QDateTime::currentSecsSinceEpoch() - 60) : 0;
            };
        },
        platform::makeSimulatedPlatform(test::twoOutputs(),
                                        platform::SimOutputs{platform::SimClock::Manual, {}})};
    App& app = *launched.app;
    Rig() {
        app.playback.maxQuality = false; // the direct road
        app.library.rows = catalog();
        app.filter(true);
        app.listening.random.seed(7);
    }
    const Track& track(int id) const { return app.library.rows[std::size_t(id - 1)]; }
};

using Step = std::function<void(std::unique_ptr<Rig>&, App&, int, const QString&)>;
void label(Rig& r, int id, const char* text) {
    for (int i = id ? id : 1; i <= (id ? id : 100); ++i)
        r.app.library.qual[r.track(i).path] = text;
}
// clang-format off
const QHash<QChar, Step> kSteps = {
    {'q', [](auto&, App& a, int, const QString& s) { a.search->setText(QString(s).replace('_', ' ')); a.filter(true); }},
    {'c', [](auto&, App& a, int, const QString& s) { a.browser.cellFilter = CellFilter{"album", s}; }},
    {'m', [](auto&, App& a, int n, auto&) { a.smartPicker->setCurrentIndex(n); a.smartChanged(); }},
    {'M', [](auto&, App& a, int n, auto&) { a.listening.smartMode = n; }},
    {'V', [](auto&, App& a, int n, auto&) { a.browser.viewKind = n; }},
    {'S', [](auto&, App& a, int, auto&) { a.playback.shuffled = true; }},
    {'X', [](auto&, App& a, int, auto&) { a.library.rows.clear(); }},
    {'l', [](auto& r, App&, int n, auto&) { label(*r, n, "FLAC 24/96 ★"); }},
    {'L', [](auto& r, App&, int n, auto&) { label(*r, n, "MP3 ⬆"); }},
    {'n', [](auto& r, App& a, int n, auto& s) { a.playback.stats[r->track(n).path] = {s.section(':', 1).toInt(), 0}; }},
    {'d', [](auto& r, App&, int n, auto&) { r->recent << r->track(n).path; }},
    {'w', [](auto&, App& a, int, auto&) { (void)QTest::qWaitFor([&a] { return !a.status->stringValue().contains("받은"); }); }},
    {'p', [](auto& r, App& a, int n, auto&) { a.play(r->track(n)); }},
    {'Q', [](auto&, App& a, int n, auto&) { a.listening.radioQueue << n; }},
    {'O', [](auto& r, App& a, int, auto&) { r->played << (a.popRadio() ? "popped" : "none"); }},
    {'h', [](auto& r, App& a, int n, auto&) { a.toggleFav(r->track(n)); }},
    {'r', [](auto&, App& a, int n, auto&) { a.selectTableRow(n); }},
    {'E', [](auto&, App&, int, auto&) { L10n::setLanguage("en"); }},
    // The next start, on the same settings and files.
    {'N', [](auto& r, App&, int, auto&) { r.reset(); r = std::make_unique<Rig>(); }},
    {'B', [](auto& r, App& a, int, auto&) { a.listenRandomAlbum(); r->drawn << (a.browser.cellFilter ? a.browser.cellFilter->value : "-"); }},
};
const QHash<QChar, void (App::*)()> kActions = {{'P', &App::toggle}, {'R', &App::startRadio},
    {'A', &App::listenAll}, {'F', &App::listenFavorites}, {'I', &App::listenHiRes}, {'t', &App::toggleFavorite}};
// clang-format on

QString joined(QStringList list, qsizetype first = 5) {
    list.sort(Qt::CaseSensitive);
    return list.mid(0, first).join(',').remove("/m/");
}

// The state named by each letter of `fields`, " | " between them.
QString state(const Rig& r, const QString& fields) {
    App& app = r.app;
    QStringList ids, out;
    for (const Track& t : app.browser.filtered)
        ids << QString::number(t.id);
    const auto& cf = app.browser.cellFilter;
    const auto file = app.core.store.load<QSet<QString>>(stores::kFavorites);
    const QHash<QChar, QString> all = {
        {'i', QString::number(ids.size()) + ":" + ids.mid(0, 5).join(',')},
        {'b', (cf ? cf->value : "-") + " '" + app.search->text() + "' " +
                  QString::number(app.listening.smartMode) + "/" +
                  QString::number(app.smartPicker->currentIndex()) + " " +
                  QString::number(app.browser.viewKind) +
                  (app.playback.shuffled ? " shuffled" : "")},
        {'q', QString::number(app.listening.radioQueue.size()) + " " +
                  (app.playback.current ? QString::number(app.playback.current->id) : "-") +
                  (app.isPlaying() ? " playing" : "")},
        {'f', joined(app.listening.favorites.values()) + " / " +
                  (file ? joined(file->values()) : "no file")},
        {'p', r.played.join(',')},
        {'a', r.probes.mid(0, 5).join(',')},
        {'d', r.drawn.join(',')},
        {'w', app.library.autoPlayWhenReady ? "armed" : "idle"},
        {'h', app.cellText(r.track(3), "title")},
        {'r', QString::number(app.views.table->selectedRow())},
        {'t', app.status->stringValue()}};
    for (const QChar f : fields)
        out << all[f];
    return out.join(" | ");
}

// clang-format off
struct Case { const char *name, *steps, *fields; QString want; };
// clang-format on

// Steps: q<text> search ('_' a blank), c<album> cell filter, m<n> smart-list
// item chosen, M<n> / V<n> smart list / view kind set, S shuffle on, X empty
// catalog, l<id> / L<id> a hi-res / lossy label (0: every track), n<id>:<plays>,
// d<id> a recent date, w wait for the dates, p<id> play, P play/pause,
// R radio, Q<id> queued, O pop, h<id> heart, t heart button, r<row> row
// selected, A B F I listen all, album, favourites, hi-res, E English, N a
// new start.
// Fields: i visible ids, b browser, q queue and current, f favourites (set /
// file), p played, a probes, d albums drawn, w hi-res auto-play, h the title
// cell of track 3, r selected row, t status.
// clang-format off
const std::vector<Case> kCases = {
    {"hi-res list asks only unlabelled rows", "l3 L4 m6", "iat", "1:3 | 1,2,5,6,7 | 💎 음질을 확인하는 중… (확인되는 대로 목록에 나타납니다)"},
    {"a list ends the cell filter, the search narrows it", "cNoon qDawn m3", "ib", "3:1,2,4 | - 'Dawn' 3/3 1"},
    {"shuffle on: most played keeps its order", "S n3:4 n4:9 m2", "ib", "2:4,3 | - '' 2/2 1 shuffled"},
    {"30 days: dates read first", "d4 m1", "it", "100:1,2,3,4,5 | 받은 날짜 확인 중…"},
    {"30 days: the track joins once its date is known", "d4 m1 w", "i", "1:4"},
    {"the list is there at the next start", "m2 N", "bt", "- '' 2/2 1 | 0곡 / 전체 100곡"},
    {"radio with a playing seed: 40 queued, playback goes on", "p1 R", "qt", "40 1 playing | 📻 비슷한 곡 40곡을 이어서 재생합니다 (다시 누르면 해제)"},
    {"a second press empties the queue", "p1 R R", "qt", "0 1 playing | 비슷한 곡 재생을 해제했습니다."},
    {"paused: the best track starts, 39 remain", "p1 P R", "qp", "39 2 playing | 1,2"},
    {"a queue from Play Next is emptied instead", "Q5 R", "qt", "0 - | 비슷한 곡 재생을 해제했습니다."},
    {"no current track and an empty list", "qzzz R", "qt", "0 - | 먼저 곡을 재생하세요."},
    {"stale ids only: nothing comes out, nothing is left", "Q1000 Q1001 O", "qp", "0 - | none"},
    {"play all on an empty catalog", "S X A", "bt", "- '' 0/0 0 | 재생할 곡이 없습니다."},
    {"random album drawn among the search's albums, played whole", "qLumen_Dawn B", "bpt", "Dawn '' 0/0 0 | 1 | ▶ 앨범 'Dawn': 3곡"},
    {"random album under a search that leaves nothing", "M3 V2 qzzz B", "bpt", "- 'zzz' 3/0 2 |  | 0곡 / 전체 100곡"},
    {"random album never draws a folder-titled tile", "A B A B A B A B A B", "d", "Noon,Dawn,Dawn,Noon,Noon"},
    {"favourites with none", "F", "bpt", "- '' 5/5 0 |  | ♥한 곡이 아직 없습니다. 곡을 재생하고 ♡ 즐겨찾기를 눌러 보세요."},
    {"hi-res with every label known, none hi-res", "L0 I", "bapwt", "- '' 6/6 0 |  |  | armed | 💎 음질을 확인하는 중… 하이레즈 곡이 확인되면 바로 재생합니다."},
    {"two toggles leave set and file as they were", "h4 h3 h3", "fht", "4.flac / 4.flac | 밤편지 | 즐겨찾기 해제: 밤편지"},
    {"un-hearting in the favourites list removes the row", "h3 h4 M5 qmist h4", "fit", "3.flac / 3.flac | 0: | 즐겨찾기 해제: T4"},
    {"elsewhere the row stays; the playing row is selected again", "h3 p2 r2 t", "fihr", " /  | 100:1,2,3,4,5 | 밤편지 | 1"},
    {"no selection and nothing current", "t", "ft", " / no file | 먼저 곡을 선택하세요."},
    {"english keeps a Korean title", "E h3", "t", "♥ Added to favorites: 밤편지"},
    {"hearts come back at the next start", "h3 N", "fh", "3.flac / 3.flac | ♥ 밤편지"},
};
// clang-format on

} // namespace

class ListeningAppTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        test::clearSettings();
        QFile::remove(JSONStore().filePath(stores::kFavorites));
        L10n::setLanguage("ko");
    }
    void actions_data() { test::addRows(kCases); }
    void actions() {
        const Case& c = test::currentCase(kCases);
        auto rig = std::make_unique<Rig>();
        for (const QString& s : QString(c.steps).split(' ', Qt::SkipEmptyParts)) {
            if (kActions.contains(s[0]))
                (rig->app.*kActions[s[0]])();
            else
                kSteps[s[0]](rig, rig->app, s.mid(1).section(':', 0, 0).toInt(), s.mid(1));
            // A step that asked for a track: its file opens off the main thread.
            QVERIFY(test::waitRoadTaken(rig->app));
        }
        QCOMPARE(state(*rig, c.fields), c.want);
    }
};

QL_TEST_MAIN(ListeningAppTest)
#include "ListeningAppTest.moc"
