// Guards against: a search with the wrong words or escaping, a candidate that
// hands a local file to the decoder, a failed answer shown as a candidate, names
// translated, and a preview over the main track, after the window closed, cut
// by another player's pause, or with its decoder left running.
#include "app/App.h"
#include "downloader/FlacFetcher.h"

#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "ui/SeekSlider.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "LocalHttpServer.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>

#include <csignal>
#include <sndfile.h>

using namespace ql;
using test::LocalHttpServer;

namespace {

const QString kQuery = QStringLiteral("&media=music&entity=song&limit=8");
const QString kNone = QStringLiteral("미리듣기 후보가 없습니다.");
constexpr int kLongSeconds = 20;
// What a loaded machine may take to start a track or a clip.
constexpr int kWaitMs = 30000;

QString summaryOf(int i, int n, const QString& label) {
    return QStringLiteral("▶ 미리듣기 %1/%2: %3 — 다시 누르면 다음 후보").arg(i).arg(n).arg(label);
}

QJsonObject result(const QString& url, const QString& n) {
    QJsonObject r{{"artistName", "Artist " + n},
                  {"trackName", "Track " + n},
                  {"collectionName", "Album " + n}};
    if (!url.isNull())
        r["previewUrl"] = url;
    return r;
}

LocalHttpServer::Reply json(const QJsonValue& results) {
    return {200, QJsonDocument(QJsonObject{{"results", results}}).toJson(), {}, {}};
}

// A fetcher whose previews are only noted (the address each press plays),
// searching the test's server.
struct Form {
    LocalHttpServer server;
    FlacFetcher fetcher;
    QStringList played;
    Form() {
        server.listen();
        UserDefaults().set(keys::kItunesBaseURL, server.url({}).toString());
        fetcher.show();
        fetcher.makePreviewPlayer = [this](const QUrl& url) {
            played << url.toString();
            return std::unique_ptr<platform::AudioPlayer>();
        };
    }
    template <typename T> T* find(const char* name) {
        return fetcher.window()->findChild<T*>(QLatin1String(name));
    }
    QString summary() { return find<QLabel>("summary")->text(); }
    void fill(int mode, const QString& artist, const QString& value) {
        find<QPushButton>(qPrintable(QStringLiteral("mode%1").arg(mode)))->click();
        find<QLineEdit>("artistField")->setText(artist);
        find<QLineEdit>("valueField")->setText(value);
    }
    bool press(bool close = false) {
        find<QPushButton>("previewButton")->click();
        if (close) // before the answer comes
            fetcher.window()->close();
        return QTest::qWaitFor([this] { return summary() != "미리듣기 검색 중…"; }, 5000);
    }
};

// clang-format off
// The form (mode, artist, value), the term asked for (none: no request), the
// service's reply, the summary after each press and the clips played.
struct Case { const char* name; int mode; QString artist, value, term; LocalHttpServer::Reply reply;
              QStringList summaries, played; int requests; bool english = false; bool closeAtOnce = false; };
QJsonArray eight() { QJsonArray a; for (int i = 1; i <= 8; ++i) a << result(QStringLiteral("https://clips.test/%1.m4a").arg(i), QString::number(i)); return a; }
QStringList eightSummaries() { QStringList s; for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 1}) s << summaryOf(i, 8, QStringLiteral("Artist %1 – Track %1 (Album %1)").arg(i)); return s; }
const LocalHttpServer::Reply k404{404, "{\"results\":[]}", {}, {}};
const std::vector<Case> kCases = {
    {"single track: artist and title", 2, "Queen", "Bohemian Rhapsody", "Queen%20Bohemian%20Rhapsody", k404, {kNone}, {}, 1},
    {"album without artist: no leading space", 1, " ", "A Night", "A%20Night", k404, {kNone}, {}, 1},
    {"reserved and Korean bytes escaped", 2, "AC/DC", "T.N.T & +1 밤~", "AC%2FDC%20T.N.T%20%26%20%2B1%20%EB%B0%A4~", k404, {kNone}, {}, 1},
    {"empty artist: no request", 0, "", "30", {}, k404, {"미리 들을 가수·곡을 입력하세요."}, {}, 0},
    {"popular tracks: eight candidates cycle without a new request", 0, "Queen", "30", "Queen", json(eight()), eightSummaries(),
     {"1", "2", "3", "4", "5", "6", "7", "8", "1"}, 1},
    {"only http and https addresses", 0, "Queen", "30", "Queen", json(QJsonArray{result({}, "0"), result("file:///etc/passwd", "f"),
         result("data:audio/mp4;base64,AAAA", "d"), result("concat:http://a/1|http://a/2", "c"),
         result("https://", "h"), result("http://clips.test/2.m4a", "2"), QJsonObject{{"previewUrl", "https://clips.test/3.m4a"}}}),
     {summaryOf(1, 2, "Artist 2 – Track 2 (Album 2)"), summaryOf(2, 2, " –  ()")}, {"2", "3"}, 1},
    {"empty list", 0, "Queen", "30", "Queen", json(QJsonArray{}), {kNone, kNone}, {}, 2},
    {"404", 0, "Queen", "30", "Queen", k404, {kNone, kNone}, {}, 2},
    {"not JSON", 0, "Queen", "30", "Queen", {200, "<html>", {}, {}}, {kNone, kNone}, {}, 2},
    {"results not a list", 0, "Queen", "30", "Queen", json(QJsonObject{{"a", 1}}), {kNone, kNone}, {}, 2},
    {"English: Korean names stay as stored, table phrases too", 0, "Queen", "30", "Queen", json(QJsonArray{QJsonObject{
         {"previewUrl", "https://clips.test/9.m4a"}, {"artistName", "가수"}, {"trackName", "인기곡"}, {"collectionName", "앨범"}}}),
     {"▶ Preview 1/1: 가수 – 인기곡 (앨범) — press again for the next candidate"}, {"9"}, 1, true},
    {"answer after the window closed: silent, the next press plays the first", 0, "Queen", "30", "Queen", json(eight()),
     {"", eightSummaries()[0]}, {"1"}, 1, false, true},
};
// clang-format on

// The ffmpeg children of this process that decode an address starting with
// `address` and still exist (running or not reaped). The program's other
// ffmpeg children (the playing track's cover, its waveform) come and go
// meanwhile and are not counted: an expression that counted them would flicker,
// and a wait evaluates it more than once. A child seen decoding stays counted
// while it exists, as a zombie's command line is empty.
struct Decoders {
    QByteArray address;
    QSet<qint64> seen;
    QList<qint64> operator()() {
        QList<qint64> pids;
        for (const qint64 pid : test::childrenNamed()) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (seen.contains(pid) ||
                (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(address)))
                pids << pid;
        }
        seen = QSet<qint64>(pids.begin(), pids.end());
        return pids;
    }
};

// Ten-millisecond blocks of what the device played louder than -20 dBFS.
int loudBlocks(const platform::SimSinkControl& sink) {
    int n = 0;
    for (int s = 0; s < sink.opens(); ++s) {
        const std::vector<double> samples = sink.recordedDouble(s);
        const platform::StreamFormat& f = sink.sessions()[std::size_t(s)].format;
        const auto block = std::size_t(f.rate / 100) * std::size_t(f.channels);
        for (std::size_t i = 0; i + block <= samples.size(); i += block) {
            double sum = 0;
            for (std::size_t k = i; k < i + block; ++k)
                sum += samples[k] * samples[k];
            n += sum / double(block) > 0.01;
        }
    }
    return n;
}

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
    }

    void search_data() { test::addRows(kCases); }
    void search() {
        const Case& c = test::currentCase(kCases);
        L10n::setLanguage(c.english ? "en" : "ko");
        Form f;
        f.server.route("/search?term=" + c.term + kQuery, c.reply);
        f.fill(c.mode, c.artist, c.value);
        QStringList summaries;
        for (qsizetype i = 0; i < c.summaries.size(); ++i) {
            QVERIFY(f.press(i == 0 && c.closeAtOnce));
            Translator::translateAll();
            summaries << f.summary();
        }
        QCOMPARE(summaries, c.summaries);
        for (QString& url : f.played)
            url = url.section('/', -1).section('.', 0, 0);
        QCOMPARE(f.played, c.played);
        QCOMPARE(f.server.requests().size(), c.requests);
        if (c.requests > 0)
            QVERIFY(f.server.requests()[0].startsWith(
                ("GET /search?term=" + c.term + kQuery + " HTTP/1.1").toUtf8()));
        // New words: a new search.
        f.find<QLineEdit>("artistField")->setText("Queen II");
        QVERIFY(f.press());
        QCOMPARE(f.server.requests().size(), c.requests + 1);
    }

    // The real decoder on the simulated device: the main track pauses for
    // the preview and stays paused; closing the window and starting a
    // download pause the preview; the next candidate leaves no decoder of
    // the one before; the clip is heard whole. The clips the close and the
    // download pause last kLongSeconds, so that the device, which plays in
    // real time, cannot play one through while a loaded machine holds the
    // test back; the clip heard whole is short.
    void playback() {
        LocalHttpServer server;
        QVERIFY(server.listen());
        QTemporaryDir dir;
        const auto encode = [](int seconds) {
            QProcess encoder;
            encoder.start("/usr/bin/ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                              QStringLiteral("sine=duration=%1").arg(seconds),
                                              "-af", "volume=4", "-c:a", "aac", "-f", "adts", "-"});
            encoder.waitForFinished(60000);
            return encoder.readAllStandardOutput();
        };
        const QByteArray longClip = encode(kLongSeconds), shortClip = encode(3);
        QVERIFY(!longClip.isEmpty() && !shortClip.isEmpty());
        // Played in turn: the first press's search, then one press each.
        QJsonArray candidates;
        for (const auto& [path, bytes] :
             {std::pair{"/1.aac", longClip}, std::pair{"/2.aac", shortClip},
              std::pair{"/3.aac", longClip}}) {
            server.route(path, {200, bytes, {{"Content-Type", "audio/aac"}}, {}});
            candidates << result(server.url(path).toString(), path);
        }
        server.route("/search?term=Queen" + kQuery, json(candidates));
        Decoders decoderChildren{server.url({}).toString().toUtf8(), {}};
        UserDefaults().set(keys::kItunesBaseURL, server.url({}).toString());

        // A second of queue, as a sound server holds, so that a loaded
        // machine seldom lets the device run dry; and room for minutes of
        // what it plays (it records the silence of a dry spell too).
        auto sink = std::make_shared<platform::SimSinkControl>(platform::SimClock::RealTime,
                                                               256 << 20, 96000);
        test::LaunchedApp l(
            "ko", {},
            platform::makeSimulatedPlatform(
                test::twoOutputs(), {platform::SimClock::RealTime, {{test::kAnalogB, sink}}}));
        const QString song = dir.filePath("song.wav");
        QVERIFY(test::writeAudio(song, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 44100 * 20}));
        l->play(Track{1, song, "T", "A", "B", 20});
        QTRY_VERIFY_WITH_TIMEOUT(l->isPlaying(), kWaitMs);
        FlacFetcher& fetcher = *l->fetcher;
        fetcher.setFolders({dir.filePath("res"), dir.filePath("home")}); // no script to run
        auto find = [&](const char* name) { return fetcher.window()->findChild<QWidget*>(name); };
        static_cast<QLineEdit*>(find("artistField"))->setText("Queen");
        auto press = [&] { static_cast<QPushButton*>(find("previewButton"))->click(); };

        // Paused by the close or the download, well before the long clip
        // (100 loud blocks a second) could end by itself: judged by what was
        // heard, not by the clock, which a loaded machine stretches.
        const auto pausedBeforeTheEnd = [&](int loudAtStart) {
            // Paused, or closed: the preview's player goes right after its
            // pause, and when it leaves the device before the feeder got to
            // pause it, the device is released instead. Silent either way.
            QTRY_VERIFY_WITH_TIMEOUT(sink->isPaused() || !sink->isOpen(), 10000);
            QVERIFY2(loudBlocks(*sink) - loudAtStart < 100 * kLongSeconds - 50,
                     qPrintable(QString::number(loudBlocks(*sink) - loudAtStart)));
        };
        const int loudAtFirst = loudBlocks(*sink);
        fetcher.show();
        press();
        QTRY_VERIFY_WITH_TIMEOUT(!decoderChildren().isEmpty(), kWaitMs);
        QVERIFY(!l->isPlaying());
        QTest::qWait(300);
        QVERIFY(!sink->isPaused());
        fetcher.window()->close();
        pausedBeforeTheEnd(loudAtFirst);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(decoderChildren().isEmpty(), kWaitMs); // nothing resumes it

        const int loudBefore = loudBlocks(*sink);
        const std::int64_t dryBefore = sink->dropouts();
        fetcher.show();
        press();
        // The main track, started and paused again, takes back the device's
        // queue: the preview goes on from the frame heard.
        l->playback.audio->setVolume(0);
        QTest::qWait(400);
        l->playback.audio->play();
        QTest::qWait(100);
        l->playback.audio->pause();
        // Heard to its end (300 blocks of 10 ms), then its decoder is gone too.
        QTRY_VERIFY_WITH_TIMEOUT(decoderChildren().isEmpty() && sink->isPaused(), kWaitMs);
        // A gap where the device ran dry splits a stretch of sound, and each
        // end of it may fill one more block in part.
        const std::int64_t gaps = sink->dropouts() - dryBefore;
        QVERIFY2(std::abs(loudBlocks(*sink) - loudBefore - 300) <= 10 + 2 * gaps,
                 qPrintable(QStringLiteral("%1 loud blocks, %2 gaps")
                                .arg(loudBlocks(*sink) - loudBefore)
                                .arg(gaps)));

        // The volume slider reaches the preview: nothing loud at 10. On a
        // device with a volume of its own the device would carry it, past
        // what the sink records, so this one is taken as having none.
        l->playback.hwVol = false;
        auto volume = [&](double v) { l->views.volume->setDoubleValue(v), l->volumeChanged(); };
        volume(10);
        const int quietFrom = loudBlocks(*sink);
        press();
        QTest::qWait(400);
        const QList<qint64> before = decoderChildren();
        QVERIFY(!before.isEmpty());
        QCOMPARE(loudBlocks(*sink), quietFrom);
        volume(100);
        // Counted a quarter second apart: each count reads the whole recording.
        for (QDeadlineTimer end(kWaitMs); loudBlocks(*sink) <= quietFrom + 5 && !end.hasExpired();)
            QTest::qWait(250);
        QVERIFY(loudBlocks(*sink) > quietFrom + 5);
        const int loudAtNext = loudBlocks(*sink);
        press(); // the next candidate leaves no decoder of the one before
        for (qint64 pid : before)
            QVERIFY(::kill(pid_t(pid), 0) != 0);
        QTest::qWait(300);
        QVERIFY(!sink->isPaused());
        fetcher.startFetch(); // refused (no script), yet the preview pauses first
        pausedBeforeTheEnd(loudAtNext);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(decoderChildren().isEmpty(), kWaitMs);
        QVERIFY(!l->isPlaying());
    }
};

QL_TEST_MAIN(PreviewTest)
#include "PreviewTest.moc"
