// Guards the labels, genres and dates the browser shows from probes: the
// label rule and the report reading, one probe per path in order, results of
// a probe that never ran kept out of the stores, the debounced hi-res
// refilter, the genre batches and the added dates.
#include "app/App.h"
#include "app/JSONStore.h"
#include "library/QualityLabel.h"
#include "library/TagBound.h"
#include "ui/AlbumItem.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableModel.h"
#include "ui/l10n/L10n.h"

#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QProcess>
#include <QSemaphore>
#include <QThreadPool>

#include <atomic>
#include <utility>

using Paths = QHash<QString, QString>;

using namespace ql;

namespace {

const QString kStub = QStringLiteral(
    "for a; do f=$a; done\n"
    "echo \"$f\" >> \"$0.log\"\n"
    "case \"$f\" in\n"
    "  *late*) while [ -e \"$0.hold\" ]; do sleep 0.01; done; printf 'jazz\\n' ;;\n"
    "  *hires*) echo '{\"streams\":[{\"codec_name\":\"flac\",\"sample_rate\":\"96000\","
    "\"bits_per_raw_sample\":\"24\"}]}' ;;\n"
    "  *genre*) sleep 0.02; printf 'rock / pop\\n' ;;\n"
    "  *) echo '{\"streams\":[{\"codec_name\":\"mp3\",\"bit_rate\":\"320000\"}]}' ;;\n"
    "esac\n");

// A launched controller over `count` catalog tracks named by `name(i)`; its
// probes run the stub, or a missing program.
struct ProbeRig {
    test::LaunchedApp app{"ko"};
    QString stub = test::tempFile(QStringLiteral("stub-ffprobe"));
    QStringList played;
    explicit ProbeRig(int count, const QString& kind = "file", bool missing = false) {
        test::writeExecutable(stub, kStub.toUtf8());
        QFile::remove(stub + ".log");
        const QString program = missing ? QStringLiteral("/nonexistent/ffprobe") : stub;
        test::fakes(*app).tools.probeTool = [program](const QString&) { return program; };
        test::fakes(*app).observer.playRequest = [this](const Track& t) { played << t.title; };
        for (int i = 0; i < count; ++i)
            app->library.rows.push_back(Track{i + 1,
                                              QStringLiteral("/m/%1-%2.flac").arg(kind).arg(i),
                                              kind + QString::number(i),
                                              {},
                                              {},
                                              60,
                                              {}});
    }
    QStringList calls() const {
        return QString::fromUtf8(test::readFile(stub + ".log")).split('\n', Qt::SkipEmptyParts);
    }
    QString status() const { return app->status->text(); }
    template <class P> bool until(P done) { return QTest::qWaitFor(done, 20000); }
};

// Holds the first save of "genres.json" on the store writer until `held` is
// released; `started` tells it began.
struct FirstSaveHeld {
    App& app;
    QSemaphore started, held;
    bool first = true;
    explicit FirstSaveHeld(App& a) : app(a) {
        app.library.genreSaves->writeStarts = [this](const QString&) {
            if (std::exchange(first, false)) {
                started.release();
                held.acquire();
            }
        };
    }
    // A failed check must not leave the writer waiting, and no later save
    // may call in here once this is gone.
    ~FirstSaveHeld() {
        held.release();
        app.library.genreSaves->finish(20000);
        app.library.genreSaves->writeStarts = nullptr;
    }
};

} // namespace

class ProbesTest : public QObject {
    Q_OBJECT
private slots:
    void label_data() {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QString>("label");
        const auto row =
            [](const char* name, const char* stream, const char* format, const char* label) {
                QTest::newRow(name)
                    << QByteArray("{\"streams\":[{") + stream + "}],\"format\":{" + format + "}}"
                    << QString::fromUtf8(label);
            };
        row("flac 16/44.1",
            R"("codec_name":"flac","sample_rate":"44100","bits_per_raw_sample":"16")",
            R"("bit_rate":"900000")", "FLAC 44.1kHz/16bit");
        row("flac 24/96", R"("codec_name":"flac","sample_rate":"96000","bits_per_raw_sample":"24")",
            "", "FLAC 96kHz/24bit ★");
        row("flac 24/44.1",
            R"("codec_name":"flac","sample_rate":"44100","bits_per_raw_sample":"24")", "",
            "FLAC 44.1kHz/24bit ★");
        row("wav 16/88.2",
            R"("codec_name":"pcm_s16le","sample_rate":"88200","bits_per_sample":16,"bit_rate":"1411200")",
            "", "WAV 88.2kHz/16bit ★");
        row("alac", R"("codec_name":"alac","sample_rate":"48000","bits_per_sample":0)", "",
            "ALAC 48kHz");
        row("mp3 320", R"("codec_name":"mp3","sample_rate":"44100","bit_rate":"320000")", "",
            "MP3 320kbps ⬆");
        row("opus from format", R"("codec_name":"opus","sample_rate":"48000")",
            R"("bit_rate":"96000")", "OPUS 96kbps ⬆");
        row("vorbis", R"("codec_name":"vorbis")", R"("bit_rate":"160000")", "OGG 160kbps ⬆");
        row("aac without bit rate", R"("codec_name":"aac","sample_rate":"44100")", "", "AAC ⬆");
        row("no stream", "", R"("bit_rate":"256000")", "? 256kbps ⬆");
        // Codecs outside the name table: lossless by the set, shown upper-cased.
        row("tta", R"("codec_name":"tta","sample_rate":"44100","bits_per_raw_sample":"16")", "",
            "TTA 44.1kHz/16bit");
        row("ac3", R"("codec_name":"ac3","bit_rate":"448000")", "", "AC3 448kbps ⬆");
        row("mp3 truncated kbps", R"("codec_name":"mp3","bit_rate":"128456")", "", "MP3 128kbps ⬆");
        row("352.8 kHz", R"("codec_name":"flac","sample_rate":"352800")", "", "FLAC 352.8kHz ★");
        row("192 kHz", R"("codec_name":"flac","sample_rate":"192000")", "", "FLAC 192kHz ★");
        row("11025", R"("codec_name":"flac","sample_rate":"11025")", "", "FLAC 11.0kHz");
        row("lossless without rate", R"("codec_name":"flac")", "", "FLAC 0kHz");
        row("under 1 kbps", R"("codec_name":"mp3","bit_rate":"999")", "", "MP3 0kbps ⬆");
        row("raw bits 0 wins",
            R"("codec_name":"flac","sample_rate":"44100","bits_per_raw_sample":"0","bits_per_sample":16)",
            "", "FLAC 44.1kHz");
        row("stream bit rate 0 wins", R"("codec_name":"mp3","bit_rate":"0")",
            R"("bit_rate":"128000")", "MP3 ⬆");
        row("rate as a number is no rate", R"("codec_name":"flac","sample_rate":44100)", "",
            "FLAC 0kHz");
        row("non-finite", R"("codec_name":"mp3","sample_rate":"nan","bit_rate":"inf")", "",
            "MP3 ⬆");
    }
    void label() {
        QFETCH(QByteArray, report);
        QFETCH(QString, label);
        const std::optional<ProbeFacts> f = readProbeFacts(report);
        QVERIFY(f);
        QCOMPARE(qualityLabel(f->codec, f->rate, f->bits, f->bitRate), label);
        QVERIFY(!readProbeFacts("not json"));
    }

    // ffprobe's output in, the genre shown out; past the bound it is cut as
    // the backend cuts a title.
    void genre_data() {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("genre");
        const QByteArray a(kTagLimit - 2, 'a'); // the cut mark goes after it and one more
        const QString shown = u'A' + QString(kTagLimit - 3, u'a');
        QTest::newRow("lower case") << QByteArray("rock") << "Rock";
        QTest::newRow("the first of two pieces") << QByteArray("hip-hop/rap") << "Hip-hop";
        QTest::newRow("blanks trimmed") << QByteArray("  jazz ; blues") << "Jazz";
        QTest::newRow("empty pieces skipped") << QByteArray(";;Rock") << "Rock";
        QTest::newRow("a blank first piece") << QByteArray(" ;Rock") << "";
        QTest::newRow("accented first letter") << QByteArray("\xc3\xa9lectro") << "Électro";
        QTest::newRow("kept as written") << QByteArray("K-Pop") << "K-Pop";
        QTest::newRow("nothing") << QByteArray("") << "";
        QTest::newRow("not UTF-8") << QByteArray("a\xff") << "A\uFFFD";
        QTest::newRow("the first line") << QByteArray("rock\npop") << "Rock";
        QTest::newRow("empty lines before it") << QByteArray("\n\nrock") << "Rock";
        QTest::newRow("at the bound stays") << a + "aa" << shown + "aa";
        QTest::newRow("one over is cut") << a + "aaa" << shown + "a…";
        QTest::newRow("blanks before the cut go") << a + "   b" << shown + "…";
        QTest::newRow("a base keeps its marks")
            << a + "e\xcc\x81\xcc\xa7zz" << shown + "…"; // e, an acute, a cedilla
        QTest::newRow("joined emoji stay together")
            << a + "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9zz" << shown + "…";
        QTest::newRow("a jamo syllable stays whole")
            << a + "\xe1\x84\x80\xe1\x85\xa1\xe1\x86\xa8zz" << shown + "…";
        QTest::newRow("megabytes of one genre")
            << QByteArray(8 << 20, 'o') << u'O' + QString(kTagLimit - 2, u'o') + u'…';
        QTest::newRow("blanks of megabytes after a short genre")
            << "rock" + QByteArray(8 << 20, ' ') + "; pop"
            << "Rock";
    }
    void genre() {
        QFETCH(QByteArray, out);
        QFETCH(QString, genre);
        QCOMPARE(genreValue(out), genre);
    }

    void genreAndDate() {
        QCOMPARE(addedDate(5000, 9000), 5.0);
        QCOMPARE(addedDate(std::nullopt, 9000), 9.0);
        QCOMPARE(addedDate(std::nullopt, std::nullopt), 0.0);
        // The real ffprobe on a tagged file.
        const QString flac = test::tempFile("genre.flac");
        QProcess::execute("ffmpeg", {"-v", "quiet", "-y", "-f", "lavfi", "-i", "sine=d=0.2",
                                     "-metadata", "genre=Rock / Pop", flac});
        QProcess probe;
        probe.start("ffprobe", {"-v", "quiet", "-show_entries", "format_tags=genre", "-of",
                                "default=nw=1:nk=1", flac});
        QVERIFY(probe.waitForFinished());
        QCOMPARE(genreValue(probe.readAllStandardOutput()), QStringLiteral("Rock"));
    }

    // A label redraws only a visible row's cell; a list switched away from
    // hi-res before the refilter plays nothing and keeps waiting.
    void cellsAndWaitingPlayback() {
        ProbeRig r(3, "hires");
        App& app = *r.app.app;
        app.showListView(); // the launch shows the album grid
        app.browser.filtered = {app.library.rows[0]};
        app.reloadTable();
        QList<int> redrawn;
        connect(app.views.tableModel, &QAbstractItemModel::dataChanged, this,
                [&](const QModelIndex& at) { redrawn << at.row(); });
        QCOMPARE(app.cellText(app.library.rows[0], "quality"), QStringLiteral("…"));
        app.library.autoPlayWhenReady = true;
        app.listening.smartMode = 6;
        app.requestQuality(app.library.rows[2]); // not among the rows shown
        QVERIFY(r.until([&] { return app.library.qual.size() == 2; }));
        QVERIFY(app.library.qualDirty);
        QCOMPARE(redrawn, QList<int>{0});
        QCOMPARE(app.cellText(app.library.rows[0], "quality"),
                 QStringLiteral("FLAC 96kHz/24bit ★"));
        app.listening.smartMode = 0;
        QTest::qWait(1600);
        QVERIFY(r.played.isEmpty());
        QVERIFY(app.library.autoPlayWhenReady);
    }

    void qualityQueue() {
        ProbeRig r(10, "hires");
        App& app = *r.app.app;
        app.listening.smartMode = 6;
        app.library.autoPlayWhenReady = true;
        app.requestQuality(app.library.rows[1]);
        app.requestQuality(app.library.rows[1]); // still pending: no second probe
        for (int i = 2; i < 10; ++i) {
            QVERIFY(r.until([&] { return app.library.qual.size() == i - 1; }));
            QTest::qWait(500); // results 0.5 s apart keep the refilter waiting
            app.requestQuality(app.library.rows[size_t(i)]);
        }
        QVERIFY(r.until([&] { return app.library.qual.size() == 9; }));
        QCOMPARE(r.calls().size(), 9);
        QVERIFY(r.calls().first().endsWith("/m/hires-1.flac"));
        QVERIFY(r.played.isEmpty());
        QVERIFY(r.until([&] { return !r.played.isEmpty(); })); // 1.2 s after the last result
        QCOMPARE(r.played.size(), 1);
        QVERIFY(!app.library.autoPlayWhenReady);
        QCOMPARE(app.library.qual.value("/m/hires-1.flac"), QStringLiteral("FLAC 96kHz/24bit ★"));
    }

    // A FLAC whose comments (20,000, behind an ID3v2 tag) ffmpeg would
    // gather at a cost that grows with their square is given to none of the
    // programs that read a track aside: its label cannot be told, it has no
    // cover of its own and no measured loudness, and no program starts.
    void crowdedFlacIsNeverRead_data() {
        QTest::addColumn<QString>("reader");
        for (const char* reader : {"quality label", "album cover", "cover art", "loudness"})
            QTest::newRow(reader) << reader;
    }
    void crowdedFlacIsNeverRead() {
        QFETCH(QString, reader);
        ProbeRig r(0);
        App& app = *r.app.app;
        const QString plain = test::tempFile("crowded-plain.flac");
        const QString path = test::tempFile("crowded.flac");
        QVERIFY(QFile::exists(plain) ||
                test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "flac", plain}));
        QVERIFY(test::writeFile(
            path, test::shapedFlac(test::readFile(plain), test::FlacShape::Id3Before, 20000)));
        test::fakes(app).tools.coverProgram = [&r] { return r.stub; };
        test::fakes(app).tools.loudnessProgram = [&r] { return r.stub; };
        const Track track{1, path, "crowded", {}, {}, 1, {}};
        app.library.rows.push_back(track);
        bool answered = false;
        if (reader == "quality label") {
            app.requestQuality(track);
            QVERIFY(r.until([&] { return app.library.qual.size() == 1; }));
            QCOMPARE(app.library.qual.value(path), QStringLiteral("확인 불가"));
            // Stored in Korean, shown in the interface's language.
            const QString language = L10n::lang();
            L10n::setLanguage("en");
            const QString shown = app.cellText(track, QStringLiteral("quality"));
            L10n::setLanguage(language);
            QCOMPARE(shown, QStringLiteral("Unknown"));
            answered = true;
        } else if (reader == "album cover") {
            AlbumItem item;
            item.key = QStringLiteral("crowded");
            item.tracks = TrackList(std::vector<Track>{track});
            QImage got(1, 1, QImage::Format_RGB32);
            app.albumCover(item, [&](const QImage& image) { got = image, answered = true; });
            QVERIFY(r.until([&] { return answered; }));
            QVERIFY(got.isNull());
            // Remembered as holding none: a later request stops at the mark.
            QCOMPARE(QDir(app.coverFolder()).entryList({QStringLiteral("*.none")}).size(), 1);
        } else if (reader == "cover art") {
            app.loadArt(track);
            answered = QThreadPool::globalInstance()->waitForDone(20000);
        } else {
            app.listening.levelingOn = true;
            app.ensureLoudness(track);
            QVERIFY(r.until([&] { return !app.playback.loudPending.contains(path); }));
            QVERIFY(!app.playback.loud.contains(path));
            answered = true;
        }
        QVERIFY(answered);
        QVERIFY2(!QFile::exists(r.stub + ".log"), qPrintable(r.calls().join(' ')));
    }

    void probesThatNeverRanAreNotSaved() {
        ProbeRig r(3, "genre", true);
        App& app = *r.app.app;
        app.requestQuality(app.library.rows[0]);
        app.startGenreScan();
        QVERIFY(r.until([&] { return r.status() == QStringLiteral("🎼 장르 정리 완료"); }));
        QVERIFY(r.until([&] { return app.library.qual.size() == 1; }));
        QCOMPARE(app.library.qual.value("/m/genre-0.flac"), QStringLiteral("확인 불가"));
        QCOMPARE(app.library.genres.value("/m/genre-2.flac", "absent"), QString());
        app.startGenreScan(); // every path has an entry for this run
        QCOMPARE(r.status(), QStringLiteral("🎼 장르 정리 완료"));
        // ffprobe is back: a quality label for genre-1 says nothing of its genre,
        // which a later genre batch must still leave out.
        test::fakes(app).tools.probeTool = [&r](const QString&) { return r.stub; };
        app.requestQuality(app.library.rows[1]);
        QVERIFY(r.until([&] { return app.library.qual.size() == 2; }));
        app.library.rows.push_back(Track{9, "/m/genre-new.flac", "new", {}, {}, 60, {}});
        app.startGenreScan();
        QVERIFY(r.until([&] { return !app.library.genrePending; }));
        QVERIFY(app.library.genreSaves->finish(20000));
        QVERIFY(!JSONStore()
                     .load<Paths>(QString::fromLatin1(stores::kGenres))
                     ->contains("/m/genre-1.flac"));
        app.saveExtras();
        const JSONStore store;
        QCOMPARE(store.load<Paths>(QString::fromLatin1(stores::kQuality))->keys(),
                 QStringList{"/m/genre-1.flac"});
        QVERIFY(
            !store.load<Paths>(QString::fromLatin1(stores::kGenres))->contains("/m/genre-0.flac"));
    }

    void genreBatches_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("100 files")
            << 100
            << QStringList{"🎼 장르 태그 읽는 중… (100곡, 백그라운드)", "🎼 장르 읽는 중 40/100",
                           "🎼 장르 읽는 중 80/100", "🎼 장르 읽는 중 100/100", "🎼 장르 정리 완료"};
        QTest::newRow("exactly 40") << 40
                                    << QStringList{"🎼 장르 태그 읽는 중… (40곡, 백그라운드)",
                                                   "🎼 장르 읽는 중 40/40", "🎼 장르 정리 완료"};
    }
    void genreBatches() {
        QFETCH(int, count);
        QFETCH(QStringList, messages);
        ProbeRig r(count, QStringLiteral("genre%1-").arg(count));
        App& app = *r.app.app;
        app.browser.viewKind = 1; // not the genre grid: no rebuild
        QStringList shown;        // every manual message, as the label starts its hold
        app.status->setClock([&] {
            if (shown.value(shown.size() - 1) != r.status() && r.status().startsWith("🎼"))
                shown << r.status();
            return qint64(0);
        });
        app.startGenreScan();
        app.startGenreScan(); // during the scan: nothing
        QVERIFY(r.until([&] { return !app.library.genrePending; }));
        QCOMPARE(shown, messages);
        QCOMPARE(r.calls().size(), count);
        QCOMPARE(app.library.genres.value(app.library.rows[0].path), QStringLiteral("Rock"));
        QVERIFY(app.library.genreSaves->finish(20000));
        const Paths saved = JSONStore().load<Paths>(QString::fromLatin1(stores::kGenres)).value();
        QCOMPARE(saved.value(app.library.rows.back().path), QStringLiteral("Rock"));
    }

    // The batch saves are written on the store writer while the window goes
    // on; the first is held there until the scan has ended.
    void genreSavesOffTheMainThread_data() {
        QTest::addColumn<bool>("quit");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("the quit waits for the last save") << true << false;
        QTest::newRow("the scan's end saves the batches that came during a save") << false << false;
        QTest::newRow("a failed save is told") << false << true;
    }
    void genreSavesOffTheMainThread() {
        QFETCH(bool, quit);
        QFETCH(bool, readOnly);
        ProbeRig r(120, quit       ? QStringLiteral("genre-quit-")
                        : readOnly ? QStringLiteral("genre-denied-")
                                   : QStringLiteral("genre-end-"));
        App& app = *r.app.app;
        app.browser.viewKind = 1; // not the genre grid: no rebuild
        const QString dir = app.core.store.dir();
        QVERIFY(QDir().mkpath(dir));
        if (readOnly)
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        FirstSaveHeld save(app);
        app.startGenreScan();
        const bool heldOne = r.until([&] { return save.started.available() > 0; });
        // Every batch reaches the genres, and the window, while the first save waits.
        const bool scanned = r.until([&] { return !app.library.genrePending; });
        save.held.release();
        QVERIFY(heldOne && scanned);
        for (const Track& t : app.library.rows)
            QCOMPARE(app.library.genres.value(t.path), QStringLiteral("Rock"));
        if (quit)
            app.applicationWillTerminate();
        else
            QVERIFY(app.library.genreSaves->finish(20000));
        if (readOnly) {
            // Every notice in its turn, as the ticks show them.
            qint64 now = qint64(1) << 40;
            app.status->setClock([&now] { return now; });
            QStringList told;
            for (int turn = 0; turn < 8; ++turn, now += StatusLabel::kHoldMs) {
                app.tellStoreFaults();
                told << r.status();
            }
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY2(!told.filter(QStringLiteral("저장 실패: genres.json (")).isEmpty(),
                     qPrintable(told.join(" | ")));
            return;
        }
        // The file holds the last state of the genres, not an earlier batch.
        QCOMPARE(JSONStore().load<Paths>(QString::fromLatin1(stores::kGenres)).value(),
                 app.library.genres.toHash());
    }

    // A quit while batches wait for a save being written saves them: the
    // file holds every genre taken in, not only the first batch's.
    void genreQuitSavesWhatCame() {
        ProbeRig r(80, QStringLiteral("genre-due-"));
        App& app = *r.app.app;
        app.browser.viewKind = 1;
        for (int i = 0; i < 40; ++i) // the third batch waits in ffprobe
            app.library.rows.push_back(
                Track{100 + i, QStringLiteral("/m/late-%1.flac").arg(i), "late", {}, {}, 60, {}});
        const QString hold = r.stub + ".hold";
        QVERIFY(test::writeFile(hold, "held"));
        const std::shared_ptr<void> letGo(nullptr, [&](void*) { QFile::remove(hold); });
        FirstSaveHeld save(app);
        app.startGenreScan();
        const bool heldOne = r.until([&] { return save.started.available() > 0; });
        const auto taken = [&](const Paths& genres) {
            int n = 0;
            for (const Track& t : app.library.rows)
                n += genres.contains(t.path) ? 1 : 0;
            return n;
        };
        const bool twoBatches = r.until([&] { return taken(app.library.genres.toHash()) == 80; });
        save.held.release();
        QVERIFY(heldOne && twoBatches);
        QVERIFY(app.library.genrePending);
        app.applicationWillTerminate();
        QCOMPARE(taken(JSONStore().load<Paths>(QString::fromLatin1(stores::kGenres)).value()), 80);
    }

    // Files the libraries open are read in-process; ffprobe only for the rest.
    void genresReadInProcess() {
        ProbeRig r(0);
        App& app = *r.app.app;
        const QString jazz = test::tempFile("in-process.flac");
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "sine=duration=0.2", "-metadata", "genre=jazz;blues", jazz}));
        app.library.rows = {Track{1, jazz, "j", {}, {}, 1, {}},
                            Track{2, "/m/genre-gone.flac", "g", {}, {}, 1, {}}};
        app.startGenreScan();
        QVERIFY(r.until([&] { return !app.library.genrePending; }));
        QCOMPARE(r.calls(), QStringList{"file:/m/genre-gone.flac"});
        QCOMPARE(app.library.genres.value(jazz), QStringLiteral("Jazz"));
        QCOMPARE(app.library.genres.value("/m/genre-gone.flac"), QStringLiteral("Rock"));
    }

    void addedDates() {
        ProbeRig r(3);
        App& app = *r.app.app;
        QStringList read;
        test::fakes(app).tools.addedDate = [&read](const QString& p) {
            read << p;
            return p.endsWith("1.flac") ? 0.0 : 7.0;
        };
        app.warmAdded();
        QCOMPARE(r.status(), QStringLiteral("받은 날짜 확인 중…"));
        QVERIFY(r.until([&] { return app.library.added.size() == 3; }));
        QCOMPARE(app.browser.filtered.size(), size_t(3)); // refiltered once merged
        app.browser.filtered = {};
        app.warmAdded(); // every path dated: no reading, a refilter at once
        QCOMPARE(read.size(), 3);
        QCOMPARE(app.browser.filtered.size(), size_t(3));
        QCOMPARE(app.library.added.value("/m/file-1.flac"), 0.0);
    }

    // Catalogs that come while a date list's read runs ask again for the
    // files without a date: only those not already being read are read.
    void addedDatesNotReadTwice() {
        ProbeRig r(3);
        App& app = *r.app.app;
        QSemaphore gate;
        std::atomic<int> reads{0};
        test::fakes(app).tools.addedDate = [&gate, &reads](const QString&) {
            gate.acquire();
            ++reads;
            return 7.0;
        };
        QVERIFY(app.readMissingAdded());
        QVERIFY(app.readMissingAdded()); // the read under way answers for them
        app.library.rows.push_back(Track{4, "/m/file-new.flac", "new", {}, {}, 60, {}});
        QVERIFY(app.readMissingAdded());
        gate.release(16); // room for every read a repeat would start
        QVERIFY(r.until([&] { return app.library.added.size() == 4; }));
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(reads.load(), 4);
        QVERIFY(r.until([&] { return app.library.addedPending.isEmpty(); }));
        QVERIFY(!app.readMissingAdded()); // every file dated, none being read
    }
};

QL_TEST_MAIN(ProbesTest)
#include "ProbesTest.moc"
