// Guards against: a slow or hung network mount that holds up other files, the quit, or the window.
// Files on a stand-in for a slow network mount (support/slow_open.c, preloaded
// into this test and into the program it launches): each open of such a file
// waits as long as its name says. Opens held by the disk must not hold the
// open of the next file, a file is opened once per open, a file refused for
// its time says so, asking again for such a file joins the open still
// running, no file of the user's is opened on the main thread, the quit
// ends the program while an open is still held, and a request waiting for
// its file's open keeps the decode begun ahead for it. While a file is
// being opened the status line says so; a refused track's bar shows it at
// its start; opens held past a cap refuse the next at once; a request waits
// one short while in all for its files; and the quit, whatever the disk
// holds (the track's open, the library scan, an import), ends the program
// and every process it started. The background readers of a file (info
// line, cover, waveform, decode and render ahead, hand-overs) wait on no
// reader of another file.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/FailureText.h"
#include "playback/FileOpen.h"
#include "app/UserDefaults.h"
#include "library/ToolPaths.h"
#include "platform/UserFiles.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/DecodeAhead.h"
#include "ui/ClickImageView.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QThreadPool>

#include <sndfile.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

using namespace ql;
using namespace ql::platform;

namespace {

// The stand-in's rules: a path holding the text waits that long per open.
// "held" is a disk that answers after half a minute; "hung" one that does
// not answer within any test; "three" one that answers after three seconds,
// well within an open's deadline.
const char* const kRules = "-held.flac=30000,-six.flac=6000,-twelve.flac=12000,"
                           "-hung.flac=600000,-three.wv=3000,-twenty.flac=20";
// Generous bounds for a sanitized build on a machine with four busy
// processes per core; each far below what the held opens take.
constexpr int kPlayMs = 25000;   // a track plays, or is refused, after its request
constexpr int kRefuseMs = 60000; // a refusal that comes only at the open's deadline
constexpr int kQuitMs = 30000;   // the program ends after SIGTERM
constexpr int kDecodeMs = 60000; // a decode (after its held opens) begins or ends
// What a backend held by its disk was once waited for at the quit, before it
// was terminated: a quit that ends sooner did not wait for it.
constexpr int kBackendHeldMs = 5000;

// How many opens of paths holding `text` waited, as the preloaded stand-in
// counts them: on any thread, on the main thread ("main"), or on the threads
// of the player's file opens ("ql-open").
int slowOpens(const char* text, const char* thread = nullptr) {
    using Count = int (*)(const char*, const char*);
    static const auto count = reinterpret_cast<Count>(dlsym(RTLD_DEFAULT, "ql_slow_opens"));
    return count ? count(text, thread) : -1;
}

// How many stats of paths holding `text` waited, counted as slowOpens counts.
int slowStats(const char* text, const char* thread = nullptr) {
    using Count = int (*)(const char*, const char*);
    static const auto count = reinterpret_cast<Count>(dlsym(RTLD_DEFAULT, "ql_slow_stats"));
    return count ? count(text, thread) : -1;
}

// From now until it goes, every stat and open of a path holding `text`
// waits `ms`: a disk that stops answering while the program runs.
struct DiskHold {
    using Hold = void (*)(const char*, long);
    const Hold hold = reinterpret_cast<Hold>(dlsym(RTLD_DEFAULT, "ql_slow_hold"));
    DiskHold(const char* text, long ms) {
        if (hold)
            hold(text, ms);
    }
    ~DiskHold() {
        if (hold)
            hold(nullptr, 0);
    }
    DiskHold(const DiskHold&) = delete;
    DiskHold& operator=(const DiskHold&) = delete;
};

QString flac(const QString& name) {
    return test::writeTemp(name, {.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, .frames = 88200});
}

// The name of the `i`th track on the disk that holds each open 30 s.
QString heldName(int i) {
    return QString::number(i).rightJustified(2, u'0') + QStringLiteral("-held.flac");
}

// Two seconds of a tone in WavPack, which only the decode road plays (our
// reader refuses it), made once with ffmpeg.
QString wavPack(const QString& name) {
    const QString path = test::tempFile(name);
    if (!QFile::exists(path) &&
        !test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac", "2", "-c:a",
                          "wavpack", path}))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

// A stand-in for ffmpeg that appends each input it is given to `runs`, then
// waits while `hold` exists before it runs the real ffmpeg.
QString holdingFfmpeg(const QString& runs, const QString& hold) {
    const QString path = test::tempFile(QStringLiteral("holding-ffmpeg.sh"));
    if (!test::writeExecutable(path, "echo \"$5\" >> '" + QFile::encodeName(runs) +
                                         "'\nwhile [ -e '" + QFile::encodeName(hold) +
                                         "' ]; do sleep 0.05; done\nexec ffmpeg \"$@\"\n"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

Track trackAt(qint64 id, const QString& path) {
    return Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 2, {}};
}

struct Rig {
    std::shared_ptr<SimSinkControl> sink = std::make_shared<SimSinkControl>(SimClock::Manual);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = false; // the direct road: our player opens the file
    }
    bool plays(const QString& path) const {
        return app.isPlaying() && app.playback.audio && app.playback.audio->path() == path;
    }
    QString status() const { return app.status->stringValue(); }
    QString bar() const {
        return app.views.titleLabel->text() + QLatin1Char(' ') + app.views.elapsedLabel->text();
    }
};

// The processes whose parent is `pid`, with their process groups.
std::vector<std::pair<pid_t, pid_t>> childrenOf(pid_t pid) {
    std::vector<std::pair<pid_t, pid_t>> found;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile stat(it.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold anything but
        // ends at the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[1].toInt() == pid)
            found.emplace_back(pid_t(QFileInfo(it.filePath()).fileName().toInt()),
                               pid_t(fields[2].toInt()));
    }
    return found;
}

// What the disk holds when SIGTERM comes.
enum class Held { TrackOpen, LibraryScan, Import };
struct QuitCase {
    const char* name;
    Held held;
    const char* file;   // on the disk that never answers
    bool programWaits;  // the stand-in holds the player's own opens, not its children's
};
// clang-format off
const std::vector<QuitCase> quitCases{
    {"the playing track's open is held",          Held::TrackOpen,   "track-hung.flac",  true},
    {"the library scan is held on a file",        Held::LibraryScan, "scan-hung.flac",   false},
    {"the import of a file handed over is held",  Held::Import,      "import-hung.flac", false},
};
// clang-format on

struct SlowCase {
    const char* name;
    int heldBefore;   // tracks on a disk that holds each open 30 s, asked for first
    const char* file; // the track asked for last; its name tells its disk
    int asks;         // times it is asked for, the next ask once the last was answered
    bool plays;       // else refused as too slow to open
};
// clang-format off
const std::vector<SlowCase> slowCases{
    {"twelve tracks held 30 s per open, then a local FLAC: it plays",   12, "local.flac",     1, true},
    {"a FLAC at 6 s per open plays: it is opened once",                   0, "a-six.flac",     1, true},
    {"a FLAC past 10 s per open is refused as too slow to open",          0, "a-twelve.flac",  1, false},
    {"asked again while its refused open still runs: no second open",     0, "b-held.flac",    2, false},
};
// clang-format on

// A FLAC of sixty seconds with a red picture in it, made once with ffmpeg:
// a track whose info line, cover and waveform all have something to show.
QString pictured(const QString& name) {
    const QString path = test::tempFile(name);
    if (QFile::exists(path))
        return path;
    const QString plain = test::tempFile(QStringLiteral("pictured-plain.flac"));
    const QString png = test::tempFile(QStringLiteral("pictured.png"));
    if (!test::runFfmpeg({"-y", "-f", "lavfi", "-i", "sine=frequency=330:duration=60", plain}) ||
        !test::runFfmpeg(
            {"-y", "-f", "lavfi", "-i", "color=c=red:s=64x64", "-frames:v", "1", png}) ||
        !test::runFfmpeg({"-i", plain, "-i", png, "-map", "0:a", "-map", "1:v", "-c:a", "copy",
                          "-c:v", "png", "-disposition:v", "attached_pic", path}))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

// What the window shows of the playing track beside its sound.
struct Shown {
    bool info = false;
    bool cover = false;
    bool waveform = false;
};
Shown shown(const App& app) {
    return {!app.views.infoLabel->text().isEmpty(), app.art->image() != App::defaultCover(),
            !app.wave->peaks().empty()};
}

// Qt's shared pool held to a few threads for one row.
struct SharedPool {
    int was = QThreadPool::globalInstance()->maxThreadCount();
    explicit SharedPool(int threads) {
        if (threads > 0)
            QThreadPool::globalInstance()->setMaxThreadCount(threads);
    }
    ~SharedPool() { QThreadPool::globalInstance()->setMaxThreadCount(was); }
    SharedPool(const SharedPool&) = delete;
    SharedPool& operator=(const SharedPool&) = delete;
};

struct BesideCase {
    const char* name;
    const char* disk;  // the text naming the disk of the tracks asked for first
    int before;        // how many
    int sharedThreads; // Qt's shared pool held to this many threads; 0: left
};
// clang-format off
const std::vector<BesideCase> besideCases{
    {"three tracks on a mount that never answers, then a local FLAC: all of it shows", "hung", 3, 0},
    {"the same with Qt's shared pool at two threads",                                  "hung", 3, 2},
    {"twelve tracks at 30 s per open, then a local FLAC: all of it shows",             "held", 12, 0},
};
// clang-format on

struct ReadCase {
    const char* name;
    const char* file;   // its name tells its disk
    bool waitedOut;     // a reader waited for it past the deadline first
    bool playerTooSlow; // the player's open of it went past its deadline
    bool answeredSince; // and a later open of it answered in time
    bool fromItsReader; // the work is asked for by work on the file's own reader
    bool runs;          // the next reader's work on it runs
};
// clang-format off
const std::vector<ReadCase> readCases{
    {"a local file is read beside a reader its disk holds",             "r-local.flac",  false, false, false, false, true},
    {"a file past its deadline is refused to the next reader at once",  "r2-hung.flac",  true,  false, false, false, false},
    {"a file the player found too slow is left alone by readers",       "r3-local.flac", false, true,  false, false, false},
    {"until an open of it answers in time",                             "r4-local.flac", false, true,  true,  false, true},
    {"work asked for from the file's own reader runs there at once",    "r5-local.flac", false, false, false, true,  true},
};
// clang-format on

struct AheadCase {
    const char* name;
    const char* kind; // what eight tracks on a hung mount asked of the render queue
};
// clang-format off
const std::vector<AheadCase> aheadCases{
    {"eight decodes ahead held by a hung mount: a local WavPack and a render play", "decode"},
    {"eight renders ahead held by a hung mount: a local WavPack and a render play", "render"},
};
// clang-format on

struct HandOverCase {
    const char* name;
    int hungBefore;      // tracks on a mount that never answers, played first
    bool sharedPoolHeld; // Qt's shared pool held by a job of its own meanwhile
};
// clang-format off
const std::vector<HandOverCase> handOverCases{
    {"a file handed over after three tracks on a hung mount plays",   3, false},
    {"a file handed over while Qt's shared pool is held plays",       0, true},
};
// clang-format on

// Qt's shared pool held to one thread, which a job of the test holds until
// it goes.
struct HeldSharedPool {
    SharedPool pool{1};
    std::promise<void> release;
    std::atomic<bool> holding{false};
    HeldSharedPool() {
        QThreadPool::globalInstance()->start([this, gone = release.get_future().share()] {
            holding = true;
            gone.wait();
        });
    }
    ~HeldSharedPool() {
        release.set_value();
        QThreadPool::globalInstance()->waitForDone();
    }
    HeldSharedPool(const HeldSharedPool&) = delete;
    HeldSharedPool& operator=(const HeldSharedPool&) = delete;
};

// Who asks, once the next track's decode is made ahead and its disk has
// stopped answering, whether that decode still stands for the file.
enum class Asker { PlayRequest, Ticks };
struct StampCase {
    const char* name;
    const char* file; // the next track, a WavPack decoded ahead
    long holdMs;      // what its disk then takes to answer each stat and open
    Asker asker;
    bool used; // played: it plays (else refused as too slow); ticks: its decode is handed out
};
// clang-format off
const std::vector<StampCase> stampCases{
    {"played while its disk takes 0.5 s: it plays",               "stamp-a-gone.wv", 500,   Asker::PlayRequest, true},
    {"played while its disk takes 12 s: refused as too slow",     "stamp-b-gone.wv", 12000, Asker::PlayRequest, false},
    {"looked at each tick while its disk takes 0.5 s: still used", "stamp-c-gone.wv", 500,  Asker::Ticks,       true},
    {"looked at each tick while its disk takes 12 s: not used",   "stamp-d-gone.wv", 12000, Asker::Ticks,       false},
};
// clang-format on
// Longer than a check of a decode made ahead vouches for it (3 s): a
// hand-out later than this after the hold began was vouched for by a check
// the held disk answered.
constexpr int kVouchedAfterMs = 4000;

} // namespace

class SlowMountTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(slowOpens("") >= 0, "the slow-mount stand-in is not loaded"); }

    void opens_data() { test::addRows(slowCases); }
    void opens() {
        const SlowCase& c = test::currentCase(slowCases);
        Rig r;
        for (int i = 0; i < c.heldBefore; ++i)
            r.app.play(trackAt(100 + i, flac(heldName(i))));
        const QString path = flac(QString::fromLatin1(c.file));
        const QString name = QFileInfo(path).fileName();
        const QString tooSlow = failureText(Failure::FileTooSlow, name);
        for (int ask = 0; ask < c.asks; ++ask) {
            r.app.status->setStringValue(QStringLiteral("(asked)"));
            r.app.play(trackAt(1, path));
            if (c.plays) {
                QTRY_VERIFY2_WITH_TIMEOUT(r.plays(path), qPrintable(r.status()), kPlayMs);
            } else {
                // Meanwhile the line says that the file is being opened.
                QTRY_VERIFY_WITH_TIMEOUT(!r.app.playback.loading, kRefuseMs);
                QCOMPARE(r.status(), tooSlow);
                QVERIFY(!r.app.isPlaying());
            }
        }
        // The player's open opens the file once, and one open runs per file
        // however often it is asked for.
        if (c.file != QLatin1String("local.flac"))
            QCOMPARE(slowOpens(c.file, "ql-open"), 1);
        for (int i = 0; i < c.heldBefore; ++i)
            QCOMPARE(slowOpens(qPrintable(heldName(i)), "ql-open"), 1);
        // The window never waited on the disk.
        QCOMPARE(slowOpens("", "main"), 0);
    }

    // The next track's decode begun ahead still runs when a request for it
    // comes, and the request's own open is held by its disk: while the
    // request waits for that open, the look ahead stays on the requested
    // track, so the decode begun ahead is joined once the open has refused
    // the file, not stopped for the track after it and made again. (The
    // decode's own reads of the file wait on the disk too, before ffmpeg.)
    void aRequestWaitingForItsOpenKeepsTheDecodeBegunAhead() {
        Rig r;
        const QString runs = test::tempFile(QStringLiteral("waiting-decodes.txt"));
        const QString hold = test::tempFile(QStringLiteral("waiting-hold"));
        QFile::remove(runs);
        QVERIFY(test::writeFile(hold, "1"));
        const QString ffmpeg = holdingFfmpeg(runs, hold);
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        const Track first = trackAt(1, flac(QStringLiteral("waiting-first.flac")));
        const Track next = trackAt(2, wavPack(QStringLiteral("waiting-next-three.wv")));
        const Track after = trackAt(3, wavPack(QStringLiteral("waiting-after.wv")));
        r.app.library.rows = {first, next, after};
        r.app.browser.filtered = std::vector<Track>{first, next, after};
        const auto decodes = [&runs](const QString& name) {
            return QFile::exists(runs) ? QString::fromUtf8(test::readFile(runs)).count(name) : 0;
        };
        QVERIFY(test::playTaken(r.app, first));
        r.app.aimLookAhead(); // as the next tick does after a request that waited for its open
        QVERIFY(QTest::qWaitFor([&] { return decodes("waiting-next-three.wv") == 1; }, kDecodeMs));
        QVERIFY(r.app.playback.decodeAhead && r.app.playback.decodeAhead->running);

        r.app.play(next);
        QVERIFY2(test::requestAwaitsOpen(r.app), "the request did not wait for its open");
        QVERIFY(test::waitRoadTaken(r.app));
        QVERIFY(QFile::remove(hold));
        QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, kDecodeMs));

        QVERIFY2(r.app.isPlaying(), qPrintable(r.status()));
        QVERIFY(r.app.playback.cacheURL);
        QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
        QCOMPARE(r.app.playback.current->id, qint64(2));
        QCOMPARE(decodes("waiting-next-three.wv"), 1);
        // The open that held the request was its own, on its own thread.
        QCOMPARE(slowOpens("waiting-next-three.wv", "ql-open"), 1);
    }

    // A decode made ahead whose source's disk then stops answering: whether
    // it still stands for the file is asked of the file's reader, never on
    // the main thread, by the play request and by the look ahead the tick
    // runs. The track plays, or is refused as too slow; the window never
    // waits on the disk.
    void aDecodeMadeAheadIsCheckedOffTheMainThread_data() { test::addRows(stampCases); }
    void aDecodeMadeAheadIsCheckedOffTheMainThread() {
        const StampCase& c = test::currentCase(stampCases);
        Rig r;
        // Far from its end: nothing but the row's asker looks at the next track.
        const QString long30 =
            test::writeTemp(QStringLiteral("stamp-first.flac"),
                            {.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, .frames = 44100 * 30});
        const Track first = trackAt(1, long30);
        const Track next = trackAt(2, wavPack(QString::fromLatin1(c.file)));
        r.app.library.rows = {first, next};
        r.app.browser.filtered = std::vector<Track>{first, next};
        QVERIFY(test::playTaken(r.app, first));
        r.app.aimLookAhead(); // as the next tick does
        const std::optional<DecodeAheadEntry>& ahead = r.app.playback.decodeAhead;
        QVERIFY(QTest::qWaitFor([&] { return ahead && !ahead->running; }, kDecodeMs));
        QVERIFY(ahead->file);
        const QString decoded = *ahead->file;

        const DiskHold hold(c.file, c.holdMs);
        QElapsedTimer held;
        held.start();
        if (c.asker == Asker::PlayRequest) {
            r.app.play(next);
            if (c.used) {
                QTRY_VERIFY2_WITH_TIMEOUT(r.app.isPlaying() && r.app.playback.current->id == 2,
                                          qPrintable(r.status()), kDecodeMs);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(!r.app.playback.loading, kRefuseMs);
                QCOMPARE(r.status(),
                         failureText(Failure::FileTooSlow, QString::fromLatin1(c.file)));
                QVERIFY(!r.app.isPlaying());
            }
        } else {
            // The gapless check and the opening ahead ask each tick.
            bool later = false;
            bool handedOutLate = false;
            const bool settled = QTest::qWaitFor(
                [&] {
                    const std::optional<QString> file = r.app.fileAhead(next, later);
                    if (c.used) {
                        handedOutLate =
                            handedOutLate || (file == decoded && held.elapsed() > kVouchedAfterMs);
                        return handedOutLate && slowStats(c.file, "ql-read") > 0;
                    }
                    return !file && !later;
                },
                kRefuseMs);
            QVERIFY2(settled, "the look ahead never settled");
        }
        QCOMPARE(slowStats(c.file, "main"), 0);
        QCOMPARE(slowOpens(c.file, "main"), 0);
    }

    // Whether a track on a held disk needs processing, while its rate
    // decides that, is answered from what is known: the question opens
    // nothing (the places that act look the rate up).
    void askingWhetherATrackNeedsProcessingOpensNothing() {
        Rig r;
        r.app.playback.maxQuality = true; // upsampling: the rate decides
        QVERIFY(r.app.rateDecides());
        const Track track = trackAt(7, flac(QStringLiteral("c-held.flac")));
        for (int tick = 0; tick < 3; ++tick)
            QVERIFY(!r.app.fxNeeded(track)); // its rate is not known yet
        QVERIFY(r.app.playback.opens.isEmpty());
        QTest::qWait(300);
        QCOMPARE(slowOpens("c-held.flac"), 0);
    }

    // The readers of a track shown (its info line, cover, waveform) go
    // through UserFiles, each file on a reader of its own: the tracks on a
    // disk that holds their opens hold only their own readers, and a local
    // track asked for after them plays and shows everything before any
    // held open has answered.
    void besideHeldReaders_data() { test::addRows(besideCases); }
    void besideHeldReaders() {
        const BesideCase& c = test::currentCase(besideCases);
        const SharedPool pool(c.sharedThreads);
        Rig r;
        QElapsedTimer since;
        since.start();
        const QString row = QString::number(&c - besideCases.data()); // its own files
        for (int i = 0; i < c.before; ++i)
            r.app.play(trackAt(200 + i, flac(QStringLiteral("b%1-%2-%3.flac")
                                                 .arg(row)
                                                 .arg(i)
                                                 .arg(QString::fromLatin1(c.disk)))));
        const QString local = pictured(QStringLiteral("beside-local.flac"));
        r.app.play(trackAt(1, local));
        QTRY_VERIFY2_WITH_TIMEOUT(r.plays(local), qPrintable(r.status()), kPlayMs);
        QTRY_VERIFY_WITH_TIMEOUT(shown(r.app).info, kPlayMs);
        QTRY_VERIFY_WITH_TIMEOUT(shown(r.app).cover, kPlayMs);
        QTRY_VERIFY_WITH_TIMEOUT(shown(r.app).waveform, kPlayMs);
        // All of it came while every held open still waited on its disk.
        // All of it came before any held open could answer (a disk that
        // never answers; one that answers after 30 s), and each held file
        // was touched by one reader of its own, however many asked.
        if (c.disk == QLatin1String("held"))
            QVERIFY2(since.elapsed() < 30000, "shown only once a held open had answered");
        for (int i = 0; i < c.before; ++i)
            QCOMPARE(slowOpens(qPrintable(QStringLiteral("b%1-%2-").arg(row).arg(i)), "ql-read"),
                     1);
    }

    // The first touch of a file ahead (its stamp, our reader's refusal,
    // FFmpeg's verdict) is its reader's, not the render queue's: eight look
    // aheads held by a mount that never answers leave the queue to the
    // decode of a local WavPack and to the render of a track that needs one.
    void lookAheadsHeldLeaveTheRenderQueue_data() { test::addRows(aheadCases); }
    void lookAheadsHeldLeaveTheRenderQueue() {
        const AheadCase& c = test::currentCase(aheadCases);
        Rig r;
        test::fakes(r.app).analysers.upsampleTarget = [](double rate, int,
                                                         const std::vector<double>&) {
            return rate == 44100 ? std::optional(88200.0) : std::nullopt;
        };
        const QString held = QStringLiteral("ahead-%1-").arg(QLatin1String(c.kind));
        r.app.playback.maxQuality = c.kind != QLatin1String("decode");
        for (int i = 0; i < 8; ++i) {
            const Track track =
                trackAt(300 + i, flac(held + QStringLiteral("%1-hung.flac").arg(i)));
            if (c.kind == QLatin1String("decode")) {
                r.app.startDecode(track, true);
            } else {
                r.app.playback.rateCache.insert(track.path, 44100); // its render is called for
                r.app.prefetchFX(track);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(slowOpens(qPrintable(held)), 8, kPlayMs);

        // Each plays from what the render queue made of it: a WavPack played
        // as it is (our reader refuses it) by the decode road, a FLAC
        // upsampled by the render road.
        const std::vector<std::pair<Track, bool>> plays{
            {trackAt(1, wavPack(QStringLiteral("ahead-local.wv"))), false},
            {trackAt(2, flac(QStringLiteral("ahead-render.flac"))), true}};
        for (const auto& [track, upsampled] : plays) {
            r.app.playback.maxQuality = upsampled;
            r.app.play(track);
            QTRY_VERIFY2_WITH_TIMEOUT(r.app.isPlaying() && !r.app.playback.loading &&
                                          r.app.playback.current->id == track.id,
                                      qPrintable(r.status()), kDecodeMs);
            QVERIFY(r.app.playback.audio->path() != track.path);
        }
        QCOMPARE(slowOpens(qPrintable(held), "ql-read"), 8);
    }

    // UserFiles itself: a file's work is refused at once once the file is
    // known slow, and runs beside a reader that a disk holds.
    void readers_data() { test::addRows(readCases); }
    void readers() {
        const ReadCase& c = test::currentCase(readCases);
        // A reader held for the whole test, joined by each row.
        const QString background = flac(QStringLiteral("r-background-hung.flac"));
        std::atomic<bool> backgroundRan{false};
        platform::UserFiles::read(background,
                                  [&backgroundRan](const auto&) { backgroundRan = true; });
        const QString path = flac(QString::fromLatin1(c.file));
        if (c.waitedOut) {
            QElapsedTimer waited;
            waited.start();
            bool ranLate = false;
            QVERIFY(
                !platform::UserFiles::readNow(path, [&ranLate](const auto&) { ranLate = true; }));
            QVERIFY(waited.elapsed() >= platform::UserFiles::kLimitMs - 100);
            QVERIFY(!ranLate);
        }
        if (c.playerTooSlow)
            platform::UserFiles::tooSlow(path);
        if (c.answeredSince)
            platform::UserFiles::answered(path);
        QCOMPARE(platform::UserFiles::slow(path), !c.runs);
        std::atomic<bool> ran{false};
        const auto work = [&ran](const auto&) { ran = true; };
        if (c.fromItsReader) {
            QVERIFY(platform::UserFiles::read(
                path, [&path, &work](const auto&) { platform::UserFiles::readNow(path, work); }));
            QTRY_VERIFY_WITH_TIMEOUT(ran.load(), kPlayMs);
        } else {
            QCOMPARE(platform::UserFiles::readNow(path, work), c.runs);
            QCOMPARE(ran.load(), c.runs);
        }
        QVERIFY(!backgroundRan);
        // However often it is asked for, a file is opened once at a time.
        QVERIFY(slowOpens(c.file) <= 1);
        QCOMPARE(slowOpens("r-background-hung.flac"), 1);
    }

    // A file handed to the program (a second start, the command line, File
    // → Open) is imported on a queue of its own: behind no reader of other
    // files, nor anything else on Qt's shared pool.
    void handOvers_data() { test::addRows(handOverCases); }
    void handOvers() {
        const HandOverCase& c = test::currentCase(handOverCases);
        std::optional<HeldSharedPool> held;
        if (c.sharedPoolHeld) {
            held.emplace();
            QTRY_VERIFY(held->holding.load());
        }
        Rig r;
        test::fakes(r.app).tools.backendCommand = [] {
            return QStringList{pythonPath().value_or("/usr/bin/python3"),
                               QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_import.py")};
        };
        const QString row = QString::number(&c - handOverCases.data());
        for (int i = 0; i < c.hungBefore; ++i)
            r.app.play(trackAt(400 + i, flac(QStringLiteral("h%1-%2-hung.flac").arg(row).arg(i))));
        // The fake import names the track by the digits of its file's name.
        const QString local = flac(QStringLiteral("handed%1.flac").arg(41 + c.hungBefore));
        r.app.openAudioFiles({local});
        QTRY_VERIFY2_WITH_TIMEOUT(r.plays(local), qPrintable(r.status()), kPlayMs);
    }

    // While its file is being opened, past a second, the status line says
    // so, in the interface language; the line shows the count again once
    // the track plays.
    void sayingTheFileIsBeingOpened() {
        Rig r;
        L10n::setLanguage("en");
        const QString path = flac(QStringLiteral("saying-six.flac"));
        const QString opening = QStringLiteral("Opening the audio file…");
        r.app.status->setStringValue(QStringLiteral("(asked)"));
        r.app.play(trackAt(1, path));
        QTRY_VERIFY2_WITH_TIMEOUT(r.status() == opening || r.plays(path), qPrintable(r.status()),
                                  kPlayMs);
        QVERIFY2(!r.plays(path), "a file held 6 s per open played before the line spoke");
        QVERIFY(r.app.playback.loading);
        QTRY_VERIFY2_WITH_TIMEOUT(r.plays(path), qPrintable(r.status()), kPlayMs);
        QVERIFY2(r.status() != opening, qPrintable(r.status()));
    }

    // A track refused for its time leaves the bar on itself at its start,
    // not on where the track before it was.
    void aRefusedTrackShowsItsOwnStart() {
        Rig r;
        r.app.views.titleLabel->setText(QStringLiteral("Before"));
        r.app.views.elapsedLabel->setText(QStringLiteral("0:39"));
        r.app.views.remainLabel->setText(QStringLiteral("-0:00"));
        const QString path = flac(QStringLiteral("bar-twelve.flac"));
        r.app.status->setStringValue(QStringLiteral("(asked)"));
        r.app.play(trackAt(1, path));
        QTRY_VERIFY_WITH_TIMEOUT(!r.app.playback.loading, kRefuseMs);
        QCOMPARE(r.status(), failureText(Failure::FileTooSlow, QFileInfo(path).fileName()));
        QCOMPARE(r.bar(), QStringLiteral("T1 0:00"));
        QVERIFY(!r.app.isPlaying());
    }

    // A request waits kWaitMs in all for the answers of its files: here its
    // own (answering after 20 ms, while the request waits) and the next
    // track's rate (held 30 s), which gets only what the first left.
    void aRequestWaitsOnceForItsFiles() {
        bool lookedUp = false;
        for (int attempt = 0; attempt < 5 && !lookedUp; ++attempt) {
            Rig r;
            r.app.playback.maxQuality = true; // upsampling: the rates decide the roads
            QVERIFY(r.app.rateDecides());
            const QString n = QString::number(attempt);
            const Track first = trackAt(1, flac("budget-" + n + "-twenty.flac"));
            const Track next = trackAt(2, flac("budget-" + n + "-held.flac"));
            r.app.library.rows = {first, next};
            r.app.browser.filtered = std::vector<Track>{first, next};
            r.app.play(first);
            // On a machine too busy for a 20 ms open to answer within the
            // request's wait, the request waits for it instead and looks at
            // no other file: that attempt tells nothing, and another is made.
            if (test::requestAwaitsOpen(r.app))
                continue;
            lookedUp = true;
            QVERIFY2(r.app.playback.opens.contains(next.path), "the next track was not looked up");
            const RequestWaits& waits = r.app.playback.lastWaits;
            // The next track's look-up waits only for what is left, which
            // may be nothing when its own took the whole while to answer.
            QVERIFY(waits.count >= 1);
            QVERIFY2(waits.until <= FileOpen::kWaitMs,
                     qPrintable(QStringLiteral("waited until %1 ms").arg(waits.until)));
        }
        if (!lookedUp)
            QSKIP("a 20 ms open never answered within the request's wait: too busy a machine");
    }

    // SIGTERM while a disk that never answers holds the player's open, the
    // backend's scan or an import: the program ends by its normal quit all
    // the same, and leaves no process of its own behind (the backend and
    // the import run in process groups of their own, each looked at).
    void quitsWhileADiskHolds_data() { test::addRows(quitCases); }
    void quitsWhileADiskHolds() {
        const QuitCase& c = test::currentCase(quitCases);
        const QString hung = flac(QString::fromLatin1(c.file));
        const QString log = test::tempFile(QStringLiteral("slow-opens.log"));
        const QString roots = test::tempFile(QStringLiteral("scan-roots-") + c.file);
        QFile::remove(log);
        QDir(roots).removeRecursively();
        QVERIFY(QDir().mkpath(roots));
        // Moved, not copied: a copy would be held reading it here.
        const QString scanned = roots + QLatin1Char('/') + c.file;
        if (c.held == Held::LibraryScan)
            QVERIFY(QFile::rename(hung, scanned));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", QStringLiteral(QL_SLOW_OPEN_LIB));
        env.insert("QL_SLOW_OPEN", QString::fromLatin1(kRules));
        // Else every program waits: the backend and the import too.
        if (c.programWaits)
            env.insert("QL_SLOW_OPEN_IN", "quavelark");
        else
            env.remove("QL_SLOW_OPEN_IN");
        env.insert("QL_SLOW_OPEN_LOG", log);
        env.insert("QUAVELARK_SCAN_ROOTS", roots);
        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(test::TestHome::buildDir() + "/quavelark",
                      c.held == Held::LibraryScan ? QStringList{} : QStringList{hung});
        QVERIFY(program.waitForStarted(60000));
        const pid_t pid = pid_t(program.processId());
        // The disk holds an open of the file.
        QTRY_VERIFY_WITH_TIMEOUT(test::readFile(log).contains(c.file), 120000);
        // The program's children: the backend, and the import when one runs.
        const std::vector<std::pair<pid_t, pid_t>> children = childrenOf(pid);
        QVERIFY(!children.empty());
        QElapsedTimer quit;
        quit.start();
        QCOMPARE(::kill(pid, SIGTERM), 0);
        const bool ended = program.waitForFinished(kQuitMs);
        if (!ended) {
            program.kill();
            program.waitForFinished();
        }
        QVERIFY2(ended, "the quit waited for the disk");
        qInfo("the program ended %lld ms after SIGTERM", static_cast<long long>(quit.elapsed()));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        // The quit kills what it started before it ends; the killed are
        // reaped by the system once their parent has gone. A child in a
        // group of its own (the backend, an import) takes its group along;
        // any other (a tool search, a probe) is looked for by itself.
        for (const auto& [child, group] : children) {
            const pid_t gone = group == ::getpgrp() ? child : -group;
            const bool ended = QTest::qWaitFor(
                [gone] { return ::kill(gone, 0) != 0 && errno == ESRCH; }, 10000);
            if (!ended)
                ::kill(gone, SIGKILL);
            QVERIFY2(ended, qPrintable(QStringLiteral("process %1 (group %2) outlived the program")
                                           .arg(child)
                                           .arg(group)));
        }
        // The backend's own wait for its save is bounded, whatever the
        // disk does: the quit is done well before it could have saved
        // through a scan held for ever.
        QVERIFY2(quit.elapsed() < kBackendHeldMs,
                 qPrintable(QStringLiteral("%1 ms").arg(quit.elapsed())));
    }

    // With kMostRunning opens held by their disk, a request for a further
    // file is refused at once as too slow, and no thread opens that file.
    void pastTheCapAnOpenIsRefusedAtOnce() {
        Rig r;
        for (int i = 0; i < FileOpen::kMostRunning; ++i) {
            r.app.play(trackAt(300 + i, flac(QStringLiteral("cap-%1-hung.flac").arg(i))));
            QVERIFY(test::requestAwaitsOpen(r.app));
        }
        const QString path = flac(QStringLiteral("cap-last-six.flac"));
        r.app.status->setStringValue(QStringLiteral("(asked)"));
        r.app.play(trackAt(1, path));
        // Refused in the request itself: nothing is waited for.
        QCOMPARE(r.status(), failureText(Failure::FileTooSlow, QFileInfo(path).fileName()));
        QVERIFY(!r.app.playback.loading);
        QVERIFY(!r.app.isPlaying());
        QCOMPARE(r.bar(), QStringLiteral("T1 0:00"));
        // No open of it was begun, nor kept to be joined.
        QVERIFY(!r.app.playback.opens.contains(path));
        QCOMPARE(slowOpens("cap-last-six.flac"), 0);
    }
};

// The stand-in is preloaded at the start: the test runs itself again with
// it when it is not there yet.
int main(int argc, char** argv) {
    if (!dlsym(RTLD_DEFAULT, "ql_slow_opens")) {
        ::setenv("LD_PRELOAD", QL_SLOW_OPEN_LIB, 1);
        ::setenv("QL_SLOW_OPEN", kRules, 1);
        // This program's own opens wait; the ffmpeg it runs opens at once.
        ::setenv("QL_SLOW_OPEN_IN", program_invocation_short_name, 1);
        // Preloaded ahead of the sanitizer's runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options =
            std::string(asan ? asan : "detect_leaks=0") + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
        ::execv("/proc/self/exe", argv);
        std::perror("cannot run the test again with the slow-mount stand-in");
        return 1;
    }
    auto home = std::make_unique<test::TestHome>();
    QApplication app(argc, argv);
    SlowMountTest tc;
    const int status = QTest::qExec(&tc, argc, argv);
    // The rows leave jobs of this process reading the held files on the
    // shared pool (their waits run on for half a minute), which the
    // application object's teardown would wait for.
    home.reset();
    std::fflush(nullptr);
    std::_Exit(status);
}

#include "SlowMountTest.moc"
