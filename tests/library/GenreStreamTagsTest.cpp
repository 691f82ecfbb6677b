// Guards against: Ogg and Opus files put under "No genre" because their tags are the stream's,
// and old entries stored empty for them never read again, or read again at every launch.
// `throughFfprobe`: files the libraries cannot open, read by a stand-in ffprobe that logs the
// entries it was asked for. `storedEmpty`: real files made by ffmpeg, "genres.json" and the
// settings written before a launch, the scan run on the launched controller, then a second
// launch that tells whether the next scan would read anything again.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "library/TagBound.h"
#include "ui/AlbumGrouping.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

using Paths = QHash<QString, QString>;

using namespace ql;

namespace {

// Logs "<file> <entries>" for each run and prints by the file's name and
// the entries asked for.
const QByteArray kStub = "for a; do f=$a; done\n"
                         "echo \"${f##*/} $1 $2 $3 $4 $5 $6\" >> \"$0.log\"\n"
                         "case \"${f##*/}:$4\" in\n"
                         "  file-tag*:format_tags=genre) printf 'rock\\n' ;;\n"
                         "  both-tags*:format_tags=genre) printf 'Jazz\\n' ;;\n"
                         "  both-tags*:stream_tags=genre) printf 'Rock\\n' ;;\n"
                         "  empty-tag*:format_tags=genre) printf '\\n' ;;\n"
                         "  stream-tag*:stream_tags=genre) printf '발라드\\n' ;;\n"
                         "  long-tag*:format_tags=genre) printf L; head -c 3000000 /dev/zero "
                         "| tr '\\0' o; echo ;;\n"
                         "esac\n";

struct FfprobeCase {
    const char* name;
    const char* file;
    QString outcome; // the genre, then the entries of each run
};
// clang-format off
const std::vector<FfprobeCase> kFfprobeCases{
    {"the file's tag: one run", "file-tag.ogg", "Rock ← format_tags=genre"},
    {"the file's tag wins over the stream's", "both-tags.ogg", "Jazz ← format_tags=genre"},
    {"a file tag present but empty still is the file's", "empty-tag.ogg", " ← format_tags=genre"},
    {"no file tag: the stream's, by a second run", "stream-tag.opus",
     "발라드 ← format_tags=genre, stream_tags=genre"},
    {"no tag at all", "none.ogg", " ← format_tags=genre, stream_tags=genre"},
    {"a genre of megabytes is cut where it is read", "long-tag.ogg",
     "L" + QString(kTagLimit - 2, u'o') + "… ← format_tags=genre"},
};
// clang-format on

// Files made once: two tagged "발라드", one Ogg without a genre, an MP3 stored
// empty that does have one, and an Ogg stored "Rock" whose file says "Jazz".
struct Made {
    const char* name;
    QStringList args;
};
const std::vector<Made> kMade{
    {"ballad.ogg", {"-c:a", "libvorbis", "-metadata", "genre=발라드"}},
    {"ballad.opus", {"-c:a", "libopus", "-metadata", "genre=발라드"}},
    {"plain.ogg", {"-c:a", "libvorbis", "-metadata", "title=Plain"}},
    {"pop.mp3", {"-metadata", "genre=Pop"}},
    {"rock.ogg", {"-c:a", "libvorbis", "-metadata", "genre=Jazz"}},
};

struct StoredCase {
    const char* name;
    bool marked;  // "genreStreamTags" set before the launch
    Paths stored; // "genres.json" before the launch, by made file
    bool scan;
    // Each made file's genre ("-" for no entry), the genre tiles, whether the
    // mark is set, and whether a scan starts at the next launch.
    QString outcome;
};
const Paths kAllEmpty{{"ballad.ogg", ""},
                      {"ballad.opus", ""},
                      {"plain.ogg", ""},
                      {"pop.mp3", ""},
                      {"rock.ogg", "Rock"}};
// clang-format off
const std::vector<StoredCase> kStoredCases{
    {"old empty Ogg and Opus entries are read again and grouped under 발라드", false, kAllEmpty, true,
     "ballad.ogg=발라드 ballad.opus=발라드 plain.ogg= pop.mp3= rock.ogg=Rock | 발라드 2, 장르 미지정 2, "
     "Rock 1 | marked | next launch: no scan"},
    {"once read again, an empty Ogg entry stays", true, kAllEmpty, true,
     "ballad.ogg= ballad.opus= plain.ogg= pop.mp3= rock.ogg=Rock | 장르 미지정 4, Rock 1 | marked | "
     "next launch: no scan"},
    {"without a scan they wait for the next launch's", false, kAllEmpty, false,
     "ballad.ogg=- ballad.opus=- plain.ogg=- pop.mp3= rock.ogg=Rock | 장르 미지정 4, Rock 1 | "
     "not marked | next launch: scan"},
    {"no Ogg entry stored empty: marked at launch", false,
     {{"ballad.ogg", "발라드"}, {"ballad.opus", "발라드"}, {"plain.ogg", "Ambient"}, {"pop.mp3", ""},
      {"rock.ogg", "Rock"}}, false,
     "ballad.ogg=발라드 ballad.opus=발라드 plain.ogg=Ambient pop.mp3= rock.ogg=Rock | 발라드 2, "
     "Ambient 1, 장르 미지정 1, Rock 1 | marked | next launch: no scan"},
};
// clang-format on

QString madePath(const char* name) {
    return test::tempFile(QStringLiteral("tags-") + QString::fromUtf8(name));
}

std::vector<Track> madeTracks() {
    std::vector<Track> rows;
    for (const Made& m : kMade)
        rows.push_back(Track{qint64(rows.size() + 1), madePath(m.name), m.name, {}, {}, 1, {}});
    return rows;
}

// A launch over the made files as its catalog, its probes with no ffprobe.
std::unique_ptr<test::LaunchedApp> launch() {
    auto l = std::make_unique<test::LaunchedApp>("ko");
    test::fakes(**l).tools.probeTool = [](const QString&) {
        return QStringLiteral("/nonexistent/ffprobe");
    };
    (*l)->library.rows = madeTracks();
    return l;
}

QString tiles(const App& app) {
    const TrackList tracks(madeTracks());
    GroupingInput input;
    input.tracks = &tracks;
    input.viewKind = kGenreView;
    input.genres = &app.library.genres;
    QStringList out;
    for (const AlbumItem& tile : groupTracks(input))
        out << QStringLiteral("%1 %2").arg(tile.title).arg(tile.tracks.size());
    return out.join(", ");
}

} // namespace

class GenreStreamTagsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const Made& m : kMade) {
            QFile::remove(madePath(m.name));
            QVERIFY(test::runFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=duration=0.3"} + m.args +
                                    QStringList{madePath(m.name)}));
        }
    }

    void throughFfprobe_data() { test::addRows(kFfprobeCases); }
    void throughFfprobe() {
        const FfprobeCase& c = test::currentCase(kFfprobeCases);
        test::LaunchedApp l("ko");
        const QString stub = test::tempFile(QStringLiteral("tags-ffprobe"));
        QVERIFY(test::writeExecutable(stub, kStub));
        QFile::remove(stub + ".log");
        test::fakes(*l).tools.probeTool = [stub](const QString&) { return stub; };
        const QString path = QStringLiteral("/m/missing/") + c.file;
        l->library.rows = {Track{1, path, "t", {}, {}, 1, {}}};
        l->startGenreScan();
        QVERIFY(QTest::qWaitFor([&] { return !l->library.genrePending; }, 20000));
        QStringList runs;
        for (const QString& line :
             QString::fromUtf8(test::readFile(stub + ".log")).split('\n', Qt::SkipEmptyParts)) {
            const QStringList words = line.split(' ');
            QCOMPARE(words.size(), 7);
            QCOMPARE(words.mid(1, 3), (QStringList{"-v", "quiet", "-show_entries"}));
            QCOMPARE(words.mid(5), (QStringList{"-of", "default=nw=1:nk=1"}));
            runs << words[4];
        }
        QCOMPARE(l->library.genres.value(path, "-") + " ← " + runs.join(", "), c.outcome);
    }

    void storedEmpty_data() { test::addRows(kStoredCases); }
    void storedEmpty() {
        const StoredCase& c = test::currentCase(kStoredCases);
        test::clearSettings();
        if (c.marked)
            test::storeSetting(keys::kGenreStreamTags, true);
        Paths stored;
        for (auto it = c.stored.cbegin(); it != c.stored.cend(); ++it)
            stored.insert(madePath(qPrintable(it.key())), it.value());
        QVERIFY(JSONStore().save(QString::fromLatin1(stores::kGenres), stored));

        QString outcome;
        {
            const auto l = launch();
            App& app = **l;
            if (c.scan) {
                app.startGenreScan();
                QVERIFY(QTest::qWaitFor([&] { return !app.library.genrePending; }, 20000));
            }
            QVERIFY(app.library.genreSaves->finish(20000));
            for (const Made& m : kMade)
                outcome += QStringLiteral("%1=%2 ").arg(
                    m.name, app.library.genres.value(madePath(m.name), "-"));
            outcome += QStringLiteral("| %1 | ").arg(tiles(app));
            outcome += UserDefaults().boolean(keys::kGenreStreamTags) ? "marked" : "not marked";
        }
        const auto again = launch();
        (*again)->startGenreScan();
        outcome +=
            (*again)->library.genrePending ? " | next launch: scan" : " | next launch: no scan";
        QVERIFY(QTest::qWaitFor([&] { return !(*again)->library.genrePending; }, 20000));
        QCOMPARE(outcome, c.outcome);
    }
};

QL_TEST_MAIN(GenreStreamTagsTest)
#include "GenreStreamTagsTest.moc"
