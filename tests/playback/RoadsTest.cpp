// Guards against: stale decodes or renders played over a newer request.
// The decode and effects-render roads of a play request on the simulated
// rig (manual clock). The decode road runs the real ffmpeg on files made
// here; where a row needs ffmpeg to be slow, missing or wrong, a small
// script stands in for it. The render road runs a stand-in renderer that
// writes a float CAF file, or fails.
#include "app/App.h"
#include "app/FailureText.h"
#include "app/PrivateFolder.h"
#include "app/UserDefaults.h"
#include "app/WorkFolder.h"
#include "effects/UpsampleFile.h"
#include "library/ToolPaths.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/CodecReader.h"
#include "playback/DecodeAhead.h"
#include "playback/InFlightFiles.h"
#include "ui/PlayButton.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "EventWait.h"
#include "NoPrivateBase.h"
#include "OpenSettled.h"
#include "PlayInTime.h"
#include "ReadersSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TinyMount.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QThreadPool>
#include <QtEndian>

#include <sndfile.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>

using namespace ql;
using test::tempFile;
using namespace ql::platform;
using test::addRows;

namespace {

const QString kPause = QStringLiteral("⏸ 일시정지");
const QString kPlay = QStringLiteral("▶ 재생");
const QString kMarker = QStringLiteral("(before the request)");
const QString kDecodeFailed =
    QStringLiteral("파일을 재생할 수 없습니다. 디스크 연결과 포맷을 확인하세요.");
const QString kRenderFailed =
    QStringLiteral("효과 처리에 실패했습니다. 효과를 끄고 다시 시도하세요.");
const QString kOutputFailed = QStringLiteral("오디오 출력을 시작할 수 없습니다.");
const QString kRendering = QStringLiteral("🎛 사운드 효과 적용 중…");
const QString kRendered = QStringLiteral("🎛 사운드 효과 적용됨");
constexpr int kRoadMs = 30000; // a generous bound for ffmpeg on a loaded machine

// The decode road's outputs left behind.
QStringList decodeOutputs() {
    return test::ourFiles({QStringLiteral("Quavelark-*.caf")});
}

bool isDecodeOutput(const QString& path) {
    static const QRegularExpression name(
        QStringLiteral("^Quavelark-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"
                       "\\.caf$"));
    // In a run's own folder under the first work base (the test home's cache).
    const QFileInfo folder(QFileInfo(path).absolutePath());
    return folder.fileName().startsWith(QLatin1String("run-")) &&
           folder.absolutePath() == workFolderBases().value(0) &&
           name.match(QFileInfo(path).fileName()).hasMatch();
}

// Two seconds of a tone (one for a name starting "short") made once with
// ffmpeg, in the codec its name's extension calls for: WavPack (which only
// the decode road plays), AAC in MPEG-4 or ADTS, or ALAC in MPEG-4 for a
// name ending "alac.m4a".
QString encoded(const QString& name) {
    const QString path = tempFile(name);
    const QString codec = name.endsWith(".wv")        ? "wavpack"
                          : name.endsWith("alac.m4a") ? "alac"
                                                      : "aac";
    if (!QFile::exists(path) &&
        !test::runFfmpeg({"-f", "lavfi", "-i",
                          name.startsWith("short") ? "sine=frequency=880:duration=1"
                                                   : "sine=frequency=440:duration=2",
                          "-ac", "2", "-c:a", codec, path}))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

// A float CAF of `seconds`, as a renderer leaves one.
QString floatCaf(const QString& path, double seconds, int rate = 44100) {
    test::AudioShape shape;
    shape.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    shape.rate = rate;
    shape.frames = std::int64_t(seconds * shape.rate);
    if (!test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A stand-in for ffmpeg: a shell script given the decode road's arguments.
QString script(const QString& name, const QByteArray& body) {
    const QString path = tempFile(name);
    if (!test::writeExecutable(path, body))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// For an input whose name holds "slow": leaves a partial output and waits
// (as a long decode would) until it is terminated; anything else goes to
// the real ffmpeg.
QString slowFfmpeg() {
    return script(QStringLiteral("slow-ffmpeg.sh"),
                  "for out; do :; done\n"
                  "case \"$5\" in *slow*) printf partial > \"$out\"; exec sleep 60;; esac\n"
                  "exec ffmpeg \"$@\"\n");
}

struct Rig {
    std::shared_ptr<SimSinkControl> sink;
    test::RiggedApp rig;
    App& app = rig.app;

    explicit Rig(SimClock clock = SimClock::Manual)
        : sink(std::make_shared<SimSinkControl>(clock)),
          rig(test::twoOutputs(), SimOutputs{clock, {{test::kAnalogB, sink}}}) {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        // The rate match reports its own changes; the roads' messages are
        // what these tests read.
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = false; // the direct road
        app.status->setStringValue(kMarker);
    }
    QString button() const { return app.views.playButton->title(); }
    QString status() const { return app.status->stringValue(); }
    bool roadOver() {
        return QTest::qWaitFor([this] { return !app.playback.loading; }, kRoadMs);
    }
};

Track trackAt(qint64 id, const QString& path) {
    return Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 2, {}};
}

// ---- the decode road ----------------------------------------------------------------
enum class Input { Wv, LongTagsWv, TextAsFlac, HalfAnM4a, Mp3WithoutLength };
enum class Ffmpeg { Real, Missing, WritesJunk };

struct DecodeCase {
    const char* name;
    Input input;
    Ffmpeg ffmpeg;
    bool outputFails; // the device does not start
    bool plays;
    QString status; // "" = the platform's own description; kMarker = no message
    QString button;
    bool adopted;    // the output became cacheURL
    int outputsLeft; // "Quavelark-*.caf" in the temporary folder afterwards
};

// clang-format off
const std::vector<DecodeCase> decodeCases{
    {"a WavPack file plays from its decoded float file",
     Input::Wv,         Ffmpeg::Real,       false, true,  kMarker,       kPause, true,  1},
    {"a WavPack file with 60 KB of lyrics and a 250,000-character title plays from its decoded file",
     Input::LongTagsWv, Ffmpeg::Real,   false, true,  kMarker,       kPause, true,  1},
    {"a VBR MP3 without a length header plays its whole length from its decoded file",
     Input::Mp3WithoutLength, Ffmpeg::Real, false, true,  kMarker,       kPause, true,  1},
    {"a text file named .flac: the message, play, nothing left",
     Input::TextAsFlac, Ffmpeg::Real,       false, false, kDecodeFailed, kPlay,  false, 0},
    {"half an AAC m4a: the message, play, nothing left",
     Input::HalfAnM4a,  Ffmpeg::Real,       false, false, kDecodeFailed, kPlay,  false, 0},
    {"ffmpeg cannot be launched: its error, play, nothing left",
     Input::Wv,         Ffmpeg::Missing,    false, false, "",            kPlay,  false, 0},
    {"no player opens the decoded file: its error, play, the file deleted",
     Input::Wv,         Ffmpeg::WritesJunk, false, false, "",            kPlay,  false, 0},
    {"the decoded file's output does not start: the message, play, the file kept",
     Input::Wv,         Ffmpeg::Real,       true,  false, kOutputFailed, kPlay,  true,  1},
};

// ---- the render road ----------------------------------------------------------------
enum class Render { File, Nothing, Unreadable };

struct RenderCase {
    const char* name;
    Render render;
    bool outputFails;
    std::optional<double> pendingSeek;
    bool plays;
    QString status;
    QString button;
    bool renderKept;
    bool laterMessage = false; // a message of the user's while the render runs
    int renderRate = 44100;    // the device runs at 44.1 kHz; rate matching on for another
    std::optional<RenderNote> note = std::nullopt;
};

const RenderNote kNotLoaded{2, QStringLiteral("플러그인을 불러오지 못했습니다: "),
                            QStringLiteral("Plate Reverb"), {}};

const std::vector<RenderCase> renderCases{
    {"a render plays, says so, and takes the pending seek",
     Render::File,       false, 1.5,          true,  kRendered,     kPause, true},
    {"a render that yields nothing: the message, play, the seek dropped",
     Render::Nothing,    false, 1.5,          false, kRenderFailed, kPlay,  false},
    {"a render no player opens: the message, play, the file deleted, the seek dropped",
     Render::Unreadable, false, 1.5,          false, kRenderFailed, kPlay,  false},
    {"a render whose output does not start: the message and play",
     Render::File,       true,  std::nullopt, false, kOutputFailed, kPlay,  true},
    {"a message set while it renders keeps the line",
     Render::File,       false, std::nullopt, true,  kMarker,       kPause, true, true},
    {"a render that moves the device to its rate still says it was applied",
     Render::File,       false, std::nullopt, true,  kRendered,     kPause, true, false, 96000},
    {"a plug-in that did not load is told, also when the device moves to the render's rate",
     Render::File,       false, std::nullopt, true,  kNotLoaded.text + kNotLoaded.name, kPause, true, false, 96000, kNotLoaded},
};

// A source that decodes to no samples (an empty WAV here; in the field, a
// FLAC this ffmpeg cannot decode), on the road the effects choose.
struct EmptyCase {
    const char* name;
    bool effects;
    int listed; // tracks in the visible list, every one of them empty
};
const std::vector<EmptyCase> emptyCases{
    {"alone, effects off: the decode finds nothing", false, 1},
    {"alone, effects on: the render holds nothing", true, 1},
    {"a list of two such files stops at the first", false, 2},
};

// A file that cannot be read, on each road that may meet it: the message
// names the file, never the effects, since turning them off would not help.
struct UnreadableCase {
    const char* name;
    bool effects;  // an effect is on
    bool upsample; // upsampling on (effects off, the render road all the same)
};
const std::vector<UnreadableCase> unreadableCases{
    {"effects off, upsampling on: the render road", false, true},
    {"effects on: the render road", true, false},
    {"effects and upsampling off: the decode road", false, false},
};
// A work folder that takes no file: a tiny file system there (no room), or
// none that can be made anywhere (no private base, and a temporary folder
// others may write in without the sticky bit: no file is ever made there). A
// render then plays the track without its processing, a decode cannot play
// it; the status line names the cause and the folder, never the effects.
// `NoneYet`: the same machine before any run made the temporary base, which
// is not made there either, since another user could rename it away.
// NoneYet: a temporary folder open to all, no base there yet; GroupOnly:
// likewise, open to its group only.
enum class Folder { NoRoom, None, NoneYet, GroupOnly };
enum class Wants { Effects, Upsampling, Nothing };
// A float CAF our player reads; WavPack, which it does not open; an MP3 it
// finds unreadable only at its first read.
enum class Kind { Caf, WavPack, Mp3WithoutLength };
struct WorkFaultCase {
    const char* name;
    Folder folder;
    Wants wants;
    Kind kind;
};
const std::vector<WorkFaultCase> workFaultCases{
    {"no room, effects on: plays without them", Folder::NoRoom, Wants::Effects, Kind::Caf},
    {"no room, upsampling on: plays without it", Folder::NoRoom, Wants::Upsampling, Kind::Caf},
    {"no room, a file only the decode road plays: told, stopped", Folder::NoRoom, Wants::Nothing,
     Kind::WavPack},
    {"no room, effects on, an MP3 only the decode road reads: told, stopped", Folder::NoRoom,
     Wants::Effects, Kind::Mp3WithoutLength},
    {"no folder anywhere, effects on: plays without them", Folder::None, Wants::Effects, Kind::Caf},
    {"no folder anywhere, a file only the decode road plays: told, stopped", Folder::None,
     Wants::Nothing, Kind::WavPack},
    {"a temporary folder open to all, no base there yet: plays without the effects, no folder "
     "made", Folder::NoneYet, Wants::Effects, Kind::Caf},
    {"a temporary folder open to its group, no base there yet: plays without the effects, no "
     "folder made", Folder::GroupOnly, Wants::Effects, Kind::Caf},
};
// The run's folder removed under the program (a cache cleaner): the next
// render or decode makes it again and plays as ever.
struct RemovedCase {
    const char* name;
    Wants wants;
    Kind kind;
    QString status;
};
const std::vector<RemovedCase> removedCases{
    {"effects on: rendered in the folder made again", Wants::Effects, Kind::Caf, kRendered},
    {"a file only the decode road plays: decoded in the folder made again", Wants::Nothing,
     Kind::WavPack, kMarker},
};
// clang-format on

// clang-format off
// Room in the work folder for the render's first stage, not for its
// upsampling: with the effects on or off.
struct UpsampleRoomCase { const char* name; bool effects; };
const std::vector<UpsampleRoomCase> upsampleRoomCases{
    {"upsampling only: the plain decode plays, no room told",  false},
    {"effects and upsampling: the effects play, no room told", true},
};
// clang-format on

// A rig playing `kind` with `wants` on; the source's path.
QString workSource(Rig& r, Wants wants, Kind kind) {
    if (wants == Wants::Effects)
        test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
    r.app.playback.maxQuality = wants == Wants::Upsampling;
    test::fakes(r.app).analysers.probeAudio = [](const QString&) {
        return StreamFacts{"pcm_f32le", 44100, 32, 2, 3};
    };
    test::fakes(r.app).analysers.upsampleTarget = [](double, int, const std::vector<double>&) {
        return std::optional(96000.0);
    };
    if (kind == Kind::WavPack)
        return encoded(QStringLiteral("tone.wv"));
    if (kind == Kind::Caf)
        return floatCaf(tempFile(QStringLiteral("source.caf")), 3);
    const QString source = tempFile(QStringLiteral("no-length.mp3"));
    if (!test::writeMp3(source, true, true, false))
        qFatal("cannot write %s", qPrintable(source));
    return source;
}

// How long a failed track is watched for another request: a track that ends
// at once asks for the next within milliseconds, even on a loaded machine.
constexpr int kWatchMs = 5000;

// ---- Nexts through tracks only the decode road plays -----------------------------

// Next pressed `presses` times, `apartMs` apart, through long WavPack tracks
// whose decode takes seconds (ffmpeg held to 10 times the playing speed, as
// a long file on a slow disk decodes), with a work folder that holds two
// such decodes and a little more. The track landed on and the one after it
// are short: they are decoded at once unless a decode nobody hears holds
// the machine. With maximum quality on, each track is rendered (upsampled)
// rather than decoded. The waveform and the loudness read at the playing
// speed, so a reader of a skipped track would run for minutes.
struct NextsCase {
    const char* name;
    int presses;
    int apartMs;
    bool maxQuality;
};
const std::vector<NextsCase> nextsCases{
    {"eight Nexts 0.1 s apart", 8, 100, false},
    {"eight Nexts at once", 8, 0, false},
    {"maximum quality: eight Nexts 0.1 s apart", 8, 100, true},
    {"maximum quality: eight Nexts at once", 8, 0, true},
};

// Files in the work folders that were deleted while this process or one of
// its children still holds them open: their room does not come back.
QStringList deletedButHeld() {
    QStringList pids{QString::number(QCoreApplication::applicationPid())};
    for (const qint64 child : test::childProcesses(QStringLiteral("ffmpeg")))
        pids << QString::number(child);
    const QString base = workFolderBases().value(0);
    QStringList held;
    for (const QString& pid : pids) {
        const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString& fd : QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[4096];
            const ssize_t length = ::readlink(QFile::encodeName(folder + u'/' + fd).constData(),
                                              target, sizeof target - 1);
            const QString path =
                length > 0 ? QFile::decodeName(QByteArray(target, int(length))) : QString();
            if (path.startsWith(base) && path.endsWith(QLatin1String(" (deleted)")))
                held << pid + u':' + path;
        }
    }
    return held;
}

// `seconds` of a mono 8 kHz tone as WavPack: 120 s decode to 3.84 MB of float.
QString monoWavPack(int seconds) {
    const QString path = tempFile(QStringLiteral("mono-%1.wv").arg(seconds));
    if (!QFile::exists(path) &&
        !test::runFfmpeg(
            {"-f", "lavfi", "-i",
             QStringLiteral("sine=frequency=440:duration=%1:sample_rate=8000").arg(seconds), "-ac",
             "1", "-c:a", "wavpack", path}))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

// ---- a file changed after its decode ahead ------------------------------------------

// How the next track's file changes once its decode made ahead is done.
enum class Change { Replaced, Touched };
struct ChangeCase {
    const char* name;
    Change change;
    double seconds; // what the request then plays
};
const std::vector<ChangeCase> changeCases{
    {"replaced by a shorter file: the new one plays", Change::Replaced, 1.0},
    {"the same contents written again: decoded again", Change::Touched, 2.0},
};

} // namespace

// ---- files whose tags take long to read ------------------------------------------------
// FFmpeg and libmpg123 gather tags at a cost that grows with the square of
// their number: a file with a hundred thousand of them takes tens of seconds
// to open. Played, or placed after the playing track (its rate looked at,
// upsampling on, and its join prepared), the main thread must go on
// answering, and the file plays or is refused with its message. With the
// best quality on (upsampling, so a render is asked for), no ffmpeg or
// ffprobe is ever given such a file: it plays without the processing.
using Tagged = test::Crowded;
constexpr int kTagCount = 100000;
struct TagHeavyCase {
    const char* name;
    Tagged file;
    bool afterPlaying;       // next in the list after a playing track, upsampling on
    bool plays;              // else refused: it carries too many tags
    bool maxQuality = false; // the best quality on, every program a stand-in that logs
    int tags = kTagCount;
};
const std::vector<TagHeavyCase> tagHeavyCases{
    {"an .m4a with 100,000 freeform tags, played: refused", Tagged::M4a, false, false},
    {"an MP3 with 100,000 TXXX frames, played: plays", Tagged::Mp3, false, true},
    {"an .m4a with 100,000 freeform tags after the playing track: refused", Tagged::M4a, true,
     false},
    {"an MP3 with 100,000 TXXX frames after the playing track: plays", Tagged::Mp3, true, true},
    {"best quality: an MP3 with 100,000 TXXX frames plays, no ffmpeg", Tagged::Mp3, false, true,
     true},
    {"best quality: the same MP3 with a zero byte after its tag plays, no ffmpeg",
     Tagged::Mp3ZeroAfterTags, false, true, true},
    {"best quality: Ogg Vorbis with 100,000 comments plays, no ffmpeg", Tagged::Vorbis, false, true,
     true},
    {"best quality: Opus with 100,000 comments plays, no ffmpeg", Tagged::Opus, false, true, true},
    {"best quality: an .m4a with 100,000 freeform tags is refused, no ffmpeg", Tagged::M4a, false,
     false, true},
    // Tags that stand in a container's chunks, or at its end.
    {"best quality: a WAV with an ID3 chunk of 100,000 frames plays, no ffmpeg", Tagged::Wav,
     false, true, true},
    {"best quality: an AIFF with an ID3 chunk of 100,000 frames plays, no ffmpeg", Tagged::Aiff,
     false, true, true},
    {"best quality: Ogg FLAC with 100,000 comments is refused, no ffmpeg", Tagged::OggFlac, false,
     false, true},
    {"best quality: a WavPack with 60,000 APEv2 items is refused, no ffmpeg", Tagged::WavPack,
     false, false, true, 60000},
};
constexpr int kTagHeavyMs = 15000; // played or refused within, from its request
// An open broken off at its deadline returns within a few of FFmpeg's reads
// after it; the bound leaves a loaded machine room, far below the time the
// whole tag block takes.
constexpr int kOverdueAfterMs = 200;
constexpr int kBrokenOffMs = 5000;

class RoadsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        for (const QString& name : decodeOutputs())
            QFile::remove(tempFile(name));
    }

    void decodeRoad_data() { addRows(decodeCases); }
    void decodeRoad() {
        const DecodeCase& c = test::currentCase(decodeCases);
        Rig r;
        r.sink->failOpen = c.outputFails;
        if (c.ffmpeg == Ffmpeg::Missing)
            test::fakes(r.app).tools.decodeProgram = [] {
                return QStringLiteral("/nonexistent/ffmpeg");
            };
        if (c.ffmpeg == Ffmpeg::WritesJunk) {
            const QString junk = script(QStringLiteral("junk-ffmpeg.sh"),
                                        "for out; do :; done\nprintf junk > \"$out\"\n");
            test::fakes(r.app).tools.decodeProgram = [junk] { return junk; };
        }
        const QString previous = tempFile(QStringLiteral("previous-track.caf"));
        QVERIFY(test::writeFile(previous, "the previous track's file"));
        r.app.playback.cacheURL = previous;
        QString path = encoded(QStringLiteral("tone.wv"));
        if (c.input == Input::TextAsFlac) {
            path = tempFile(QStringLiteral("notes.flac"));
            QVERIFY(test::writeFile(path, "not a sound file at all\n"));
        } else if (c.input == Input::HalfAnM4a) {
            const QByteArray whole = test::readFile(encoded(QStringLiteral("whole.m4a")));
            path = tempFile(QStringLiteral("half.m4a"));
            QVERIFY(test::writeFile(path, whole.left(whole.size() / 2)));
        } else if (c.input == Input::LongTagsWv) {
            path = tempFile(QStringLiteral("long-tags.wv"));
            QVERIFY(QFile::exists(path) || test::withLongTags(encoded("tone.wv"), path));
        } else if (c.input == Input::Mp3WithoutLength) {
            path = tempFile(QStringLiteral("vbr.mp3"));
            QVERIFY(test::writeMp3(path, true, true, false));
        }

        r.app.play(trackAt(1, path));
        if (c.input == Input::Mp3WithoutLength) // found out by its first read, off the main thread
            QVERIFY(QTest::qWaitFor(
                [&] { return r.app.playback.roadDecode || r.app.playback.cacheURL; }, kRoadMs));
        QVERIFY(r.roadOver());

        QCOMPARE(r.app.isPlaying(), c.plays);
        QCOMPARE(r.button(), c.button);
        if (c.status.isEmpty())
            QVERIFY2(r.status() != kMarker && r.status() != kDecodeFailed && !r.status().isEmpty(),
                     qPrintable(r.status()));
        else
            QCOMPARE(r.status(), c.status);
        QVERIFY(!r.app.playback.roadDecode);
        // The file of the track before goes with the request, played or not.
        QVERIFY(!QFile::exists(previous));
        if (c.adopted) {
            QVERIFY2(isDecodeOutput(*r.app.playback.cacheURL),
                     qPrintable(*r.app.playback.cacheURL));
            QVERIFY(r.app.playback.audio);
            QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
            if (c.input == Input::Mp3WithoutLength) {
                const double counted = double(test::mp3Samples(path)) / 44100;
                const double duration = r.app.playback.audio->duration();
                QVERIFY2(std::abs(duration - counted) < 0.01 * counted,
                         qPrintable(QString("%1 s, not %2 s").arg(duration).arg(counted)));
            }
        } else {
            QCOMPARE(r.app.playback.cacheURL, std::nullopt);
        }
        QCOMPARE(decodeOutputs().size(), c.outputsLeft);
    }

    // AAC and ALAC play on the direct road: no decoded file is made.
    void directRoad_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("AAC .m4a") << "tone-aac.m4a";
        QTest::newRow("ALAC .m4a") << "tone-alac.m4a";
        QTest::newRow("ADTS .aac") << "tone.aac";
    }
    void directRoad() {
        QFETCH(QString, name);
        Rig r;
        const QString path = encoded(name);
        r.app.play(trackAt(1, path));
        QVERIFY(r.roadOver());
        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.app.playback.audio->path(), path);
        QCOMPARE(r.app.playback.cacheURL, std::nullopt);
        QVERIFY(!r.app.playback.roadDecode);
        QCOMPARE(decodeOutputs(), QStringList{});
    }

    // A FLAC whose 200,000 comments stand behind an ID3v2 tag plays at once
    // through the mask; one whose blocks run past its end, or whose frames do
    // not read behind the mask, is refused by name, and no decode is tried,
    // neither by the request nor ahead: ffmpeg would parse the comments for
    // minutes.
    // So does one whose comments stand before a sparse gigabyte of padding.
    void maskedFlac_data() {
        QTest::addColumn<test::FlacShape>("shape");
        QTest::addColumn<bool>("brokenFrames");
        QTest::addColumn<bool>("plays");
        QTest::addColumn<bool>("sparsePadding");
        using S = test::FlacShape;
        QTest::newRow("ID3v2 tag before fLaC: plays") << S::Id3Before << false << true << false;
        QTest::newRow("a block past the end: refused, no decode")
            << S::BlockPastEnd << false << false << false;
        QTest::newRow("frames that do not read: refused, no decode")
            << S::Id3Before << true << false << false;
        QTest::newRow("a sparse gigabyte of padding after the comments: plays")
            << S::Id3Before << false << true << true;
    }
    void maskedFlac() {
        QFETCH(test::FlacShape, shape);
        QFETCH(bool, brokenFrames);
        QFETCH(bool, plays);
        QFETCH(bool, sparsePadding);
        Rig r;
        const QString plain = tempFile(QStringLiteral("mask-plain.flac"));
        const QString path = tempFile(QStringLiteral("masked.flac"));
        QVERIFY(QFile::exists(plain) ||
                test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac", "2",
                                 "-c:a", "flac", plain}));
        QByteArray bytes = test::shapedFlac(test::readFile(plain), shape, 200000);
        if (brokenFrames) {
            const qsizetype frames = test::flacParts(test::readFile(plain)).audio.size();
            bytes.replace(bytes.size() - frames, frames, QByteArray(frames, 'x'));
        }
        QVERIFY(sparsePadding
                    ? test::writeSparsePadded(path, test::readFile(plain), 200000, qint64(1) << 30)
                    : test::writeFile(path, bytes));
        const QString log = tempFile(QStringLiteral("mask-decodes.log"));
        QFile::remove(log);
        const QString ffmpeg = script(QStringLiteral("mask-ffmpeg.sh"),
                                      "echo \"$@\" >> '" + log.toUtf8() + "'\nexit 1\n");
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };

        // Ahead of its turn: read directly, or not at all.
        DecodeSnapshot ahead;
        ahead.path = path;
        ahead.ffmpeg = ffmpeg;
        ahead.output = tempFile(QStringLiteral("masked-ahead.caf"));
        ahead.currentDir = QDir::currentPath();
        ahead.ahead = true;
        ahead.inFlight = std::make_shared<InFlightFiles>();
        ahead.seats = std::make_shared<QSemaphore>(2);
        ahead.stop = std::make_shared<platform::ChildStop>();
        const DecodeOutcome made = decodeBlocking(ahead);
        QCOMPARE(made.direct, plays);
        QCOMPARE(made.file, std::nullopt);

        QElapsedTimer clock;
        clock.start();
        r.app.play(trackAt(1, path));
        // A read that fails behind the mask ends the track as the device
        // plays on.
        for (int step = 0; brokenFrames && r.status() == kMarker && step < 200; ++step) {
            r.sink->advance(4410);
            QTest::qWait(20);
        }
        QVERIFY(r.roadOver());
        // What the listener waits for, with room for a loaded machine (the
        // gigabyte of padding is never read).
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.app.isPlaying(), plays);
        QVERIFY(!r.app.playback.roadDecode);
        QCOMPARE(test::childrenNamed({QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")}),
                 QList<qint64>{});
        QVERIFY2(!QFile::exists(log), test::readFile(log).constData()); // no decode started
        if (plays) {
            QCOMPARE(r.app.playback.audio->path(), path);
            QCOMPARE(r.button(), kPause);
        } else {
            QCOMPARE(r.status(),
                     failureText(Failure::FileUnreadable, QStringLiteral("masked.flac")));
            QCOMPARE(r.button(), kPlay);
        }
    }

    // Five requests in a row, each for a track that needs decoding: the four
    // older decodes are stopped, their partial files deleted at once, and
    // only the last track plays.
    void quickPlaysLeaveOnlyTheLast() {
        Rig r;
        const QString ffmpeg = slowFfmpeg();
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        QStringList partials;
        for (qint64 id = 1; id <= 5; ++id) {
            const QString path = id < 5 ? encoded(QStringLiteral("slow-%1.wv").arg(id))
                                        : encoded(QStringLiteral("last.wv"));
            QVERIFY(test::playTaken(r.app, trackAt(id, path)));
            QVERIFY(r.app.playback.roadDecode);
            if (id > 1) // the one before it, gone with the request
                QVERIFY2(!QFile::exists(partials.constLast()), qPrintable(partials.constLast()));
            if (id < 5) { // the partial output is there before the next request
                partials << r.app.playback.roadDecode->job.output;
                QVERIFY(QTest::qWaitFor(
                    [&] { return test::readFile(partials.constLast()) == "partial"; }, kRoadMs));
            }
        }
        QVERIFY(r.roadOver());

        QCOMPARE(r.app.playback.current->id, qint64(5));
        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
        QTRY_COMPARE_WITH_TIMEOUT(test::childProcesses(QStringLiteral("sleep")).size(), 0, kRoadMs);
        for (const QString& partial : partials)
            QVERIFY2(!QFile::exists(partial), qPrintable(partial));
        QCOMPARE(decodeOutputs(), QStringList{QFileInfo(*r.app.playback.cacheURL).fileName()});
        QCOMPARE(r.button(), kPause);
    }

    // A track playing from its decoded file, then a request for one whose
    // decode takes long: the file of the track no longer playing goes with
    // the request, and nothing holds it open, so its room comes back.
    void theFileOfATrackLeftGoesAtOnce() {
        Rig r;
        const QString ffmpeg = slowFfmpeg();
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        r.app.play(trackAt(1, encoded(QStringLiteral("left.wv"))));
        QVERIFY(r.roadOver());
        QVERIFY(r.app.isPlaying());
        const QString left = *r.app.playback.cacheURL;

        r.app.play(trackAt(2, encoded(QStringLiteral("slow-after-left.wv"))));
        QVERIFY(r.app.playback.loading);
        QVERIFY(!QFile::exists(left));
        QTRY_COMPARE_WITH_TIMEOUT(deletedButHeld(), QStringList{}, kRoadMs);
    }

    // A decode overtaken by a track that plays directly: its partial output
    // goes at once, and the requests after it find no stale decode.
    void decodeOvertakenByADirectPlay() {
        Rig r;
        const QString ffmpeg = slowFfmpeg();
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        QVERIFY(test::playTaken(r.app, trackAt(1, encoded(QStringLiteral("slow-overtaken.wv")))));
        QVERIFY(r.app.playback.roadDecode);
        const QString partial = r.app.playback.roadDecode->job.output;
        // Written by the stand-in, not merely made empty for it: the stand-in
        // is then past its write, in the wait its kill ends.
        QVERIFY(QTest::qWaitFor([&] { return test::readFile(partial) == "partial"; }, kRoadMs));
        const QString direct = floatCaf(tempFile(QStringLiteral("direct-b.caf")), 3);
        QVERIFY(test::playTaken(r.app, trackAt(2, direct)));

        QVERIFY(!QFile::exists(partial));
        QVERIFY(!r.app.playback.roadDecode);
        QCOMPARE(r.app.playback.audio->path(), direct);
        QVERIFY(test::playTaken(r.app, trackAt(3, direct)));
        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.button(), kPause);
        QTRY_COMPARE_WITH_TIMEOUT(test::childProcesses(QStringLiteral("sleep")).size(), 0, kRoadMs);
    }

    // Decodes nobody will hear are stopped with the request that overtakes
    // them: never more than two ffmpeg decodes at once (the track's own and
    // the next one's), the work folder holds only the files in use, and the
    // track landed on plays with room for two decodes.
    void nextsThroughDecodedTracks_data() { addRows(nextsCases); }
    void nextsThroughDecodedTracks() {
        const NextsCase& c = test::currentCase(nextsCases);
        // 10 MiB: two of these decodes and a little more.
        test::TinyMount tiny(workFolderBases().value(0), 10 * 1024);
        if (!tiny.skip.isEmpty())
            QSKIP(qPrintable(tiny.skip));
        Rig r;
        r.app.playback.maxQuality = c.maxQuality;
        r.app.listening.levelingOn = true;
        const QString ffmpeg =
            script(QStringLiteral("ffmpeg-at-10x.sh"), "exec ffmpeg -readrate 10 \"$@\"\n");
        const QString reader =
            script(QStringLiteral("ffmpeg-at-1x.sh"), "exec ffmpeg -readrate 1 \"$@\"\n");
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        test::fakes(r.app).tools.loudnessProgram = [reader] { return reader; };
        test::fakes(r.app).tools.probeTool = [reader](const QString& name) {
            return name == QLatin1String("ffmpeg") ? reader : toolPath(name);
        };
        const qint64 landed = c.presses + 1;
        std::vector<Track> tracks;
        for (int n = 1; n <= c.presses + 2; ++n) {
            // Each its own file, as in a list of albums.
            const QString path = tempFile(QStringLiteral("next-%1.wv").arg(n));
            QFile::remove(path);
            QVERIFY(QFile::copy(monoWavPack(n >= landed ? 5 : 120), path));
            tracks.push_back(trackAt(n, path));
        }
        r.app.library.rows = tracks;
        r.app.browser.filtered = tracks;
        qsizetype most = 0;
        const auto count = [&most] {
            // A decode writes float PCM; the loudness and the waveform read.
            most =
                std::max(most, test::childProcesses(QStringLiteral("ffmpeg"), "pcm_f32le").size());
        };

        r.app.play(tracks[0]);
        for (int press = 0; press < c.presses; ++press) {
            QElapsedTimer apart;
            apart.start();
            do
                count(), QTest::qWait(5);
            while (apart.elapsed() < c.apartMs);
            r.app.next();
        }
        QVERIFY(QTest::qWaitFor(
            [&] {
                return count(), !r.app.playback.loading || r.app.playback.current->id != landed;
            },
            kRoadMs));

        QCOMPARE(r.app.playback.current->id, landed);
        QVERIFY2(r.app.isPlaying(), qPrintable(r.status()));
        QVERIFY2(most <= 2, qPrintable(QString("%1 ffmpeg writers at once").arg(most)));
        // No reader of a skipped track reads on (the landed track's and its
        // successor's may), nor holds a file of the work folder.
        const auto skippedReaders = [&] {
            QList<qint64> pids;
            for (std::size_t n = 0; n + 1 < std::size_t(landed); ++n)
                pids << test::childProcesses(QStringLiteral("ffmpeg"),
                                             ffmpegInput(tracks[n].path, {}).toUtf8());
            return pids;
        };
        QTRY_COMPARE_WITH_TIMEOUT(skippedReaders(), QList<qint64>{}, kRoadMs);
        QTRY_COMPARE_WITH_TIMEOUT(deletedButHeld(), QStringList{}, kRoadMs);
        // Once the next track is made ahead too: its files and the playing one.
        QSet<QString> kept{QFileInfo(*r.app.playback.cacheURL).fileName()};
        const std::optional<DecodeAheadEntry>& ahead = r.app.playback.decodeAhead;
        if (c.maxQuality) {
            // Rendered (its decode made before its rate was known may stay,
            // for the road without processing).
            QVERIFY(QTest::qWaitFor([&] { return count(), r.app.playback.fxCache.has_value(); },
                                    kRoadMs));
            kept << QFileInfo(r.app.playback.fxCache->path).fileName();
            QVERIFY(!ahead || !ahead->running);
        } else {
            QVERIFY(QTest::qWaitFor([&] { return count(), ahead && !ahead->running; }, kRoadMs));
            QVERIFY(ahead->file);
        }
        if (ahead && ahead->file) {
            QCOMPARE(ahead->source, tracks[std::size_t(landed)].path);
            kept << QFileInfo(*ahead->file).fileName();
        }
        QVERIFY2(most <= 2, qPrintable(QString("%1 ffmpeg writers at once").arg(most)));
        QTRY_COMPARE_WITH_TIMEOUT(deletedButHeld(), QStringList{}, kRoadMs);
        const QStringList left = test::ourFiles({QStringLiteral("Quavelark-*")});
        QCOMPARE(QSet<QString>(left.cbegin(), left.cend()), kept);
    }

    // The loudness of a track skipped, and of one no longer next, is not
    // measured on: its reader (here one that never ends) is stopped when the
    // look ahead moves on, and the current and next tracks' are measured.
    void loudnessReadersFollowThePlayingAndNextTracks() {
        Rig r;
        r.app.listening.levelingOn = true;
        const QString marks = QDir::temp().filePath(QStringLiteral("loud-marks"));
        QDir(marks).removeRecursively();
        QVERIFY(QDir().mkpath(marks));
        // Notes which file it reads under its own pid, then reads for ever.
        const QString meter =
            script(QStringLiteral("loudness-for-ever.sh"),
                   "echo \"$4\" > '" + QFile::encodeName(marks) + "'/$$\nexec sleep 600\n");
        test::fakes(r.app).tools.loudnessProgram = [meter] { return meter; };
        std::vector<Track> tracks;
        for (int n = 1; n <= 4; ++n)
            tracks.push_back(
                trackAt(n, floatCaf(tempFile(QStringLiteral("loud-%1.caf").arg(n)), 3)));
        r.app.library.rows = tracks;
        r.app.browser.filtered = tracks;
        // The files the running readers read, once the look ahead is aimed
        // as the tick aims it (a request that waited for its open did not).
        const auto reading = [&] {
            r.app.aimLookAhead();
            QSet<QString> files;
            for (const qint64 pid : test::childProcesses(QStringLiteral("sleep")))
                files << QString::fromUtf8(test::readFile(marks + u'/' + QString::number(pid)))
                             .trimmed()
                             .section(u'/', -1);
            return files;
        };

        r.app.play(tracks[0]);
        QVERIFY(QTest::qWaitFor([&] { return r.app.isPlaying(); }, kRoadMs));
        QTRY_COMPARE_WITH_TIMEOUT(reading(), (QSet<QString>{"loud-1.caf", "loud-2.caf"}), kRoadMs);
        r.app.play(tracks[2]);
        QVERIFY(QTest::qWaitFor([&] { return r.app.isPlaying(); }, kRoadMs));
        QTRY_COMPARE_WITH_TIMEOUT(reading(), (QSet<QString>{"loud-3.caf", "loud-4.caf"}), kRoadMs);
        QCOMPARE(r.app.playback.loudPending, (QSet<QString>{tracks[2].path, tracks[3].path}));
    }

    void renderRoad_data() { addRows(renderCases); }
    void renderRoad() {
        const RenderCase& c = test::currentCase(renderCases);
        Rig r;
        r.sink->failOpen = c.outputFails;
        test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
        const QString render = tempFile(QStringLiteral("Quavelark-fx-road.caf"));
        test::fakes(r.app).analysers.renderFX = [&c, render](const RenderSnapshot&) {
            if (c.render == Render::Nothing)
                return RenderResult{};
            if (c.render == Render::Unreadable)
                test::writeFile(render, "no sound in here");
            else
                floatCaf(render, 3, c.renderRate);
            return RenderResult{render, c.note};
        };
        r.app.playback.rateMatchOn = c.renderRate != 44100;
        const Track source = trackAt(1, tempFile(QStringLiteral("source.flac")));
        r.app.playback.current = source; // a rebuild where it stood
        r.app.playback.pendingSeek = c.pendingSeek;

        r.app.play(source);
        QCOMPARE(r.status(), kRendering);
        if (c.laterMessage)
            r.app.status->setStringValue(kMarker);
        QVERIFY(r.roadOver());

        QCOMPARE(r.status(), c.status);
        QCOMPARE(r.button(), c.button);
        QCOMPARE(r.app.isPlaying(), c.plays);
        QCOMPARE(QFile::exists(render), c.renderKept);
        QCOMPARE(r.app.playback.pendingSeek, std::nullopt); // taken, or gone with the road
        if (c.renderRate != 44100) { // the row's premise: starting the render moved the device
            SimHardware& hw = r.rig.hw();
            QCOMPARE(hw.device(hw.idOf(test::kAnalogB))->nominalRate, double(c.renderRate));
        }
        if (c.plays) {
            QCOMPARE(r.app.playback.cacheURL, std::optional(render));
            QVERIFY(std::abs(r.app.playback.audio->currentTime() - c.pendingSeek.value_or(0)) <
                    0.15);
        }
        QFile::remove(render);
    }

    // A track that yields no samples fails once, with the message for a file
    // that cannot be read, and is not asked for again.
    void aFileWithNoSamplesFailsOnce_data() { addRows(emptyCases); }
    void aFileWithNoSamplesFailsOnce() {
        const EmptyCase& c = test::currentCase(emptyCases);
        Rig r(SimClock::RealTime); // a player that plays ends by itself
        std::atomic<int> renders = 0;
        const auto renderFile = [](int n) {
            return tempFile(QStringLiteral("empty-render-%1.caf").arg(n));
        };
        if (c.effects) {
            test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
            test::fakes(r.app).analysers.renderFX = [&renders, renderFile](const RenderSnapshot&) {
                return RenderResult{floatCaf(renderFile(++renders), 0), {}};
            };
        }
        std::vector<Track> shown;
        for (qint64 id = 1; id <= c.listed; ++id) {
            test::AudioShape empty;
            empty.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            empty.frames = 0;
            shown.push_back(
                trackAt(id, test::writeTemp(QStringLiteral("empty-%1.wav").arg(id), empty)));
        }
        r.app.library.rows = shown;
        r.app.browser.filtered = shown;
        int requests = 0;
        test::fakes(r.app).observer.playRequest = [&requests](const Track&) { ++requests; };

        r.app.play(shown.front());
        QVERIFY(r.roadOver());
        // The track's own render, and the look-ahead's of the track that
        // follows it (itself, when alone); nothing after the failure.
        QVERIFY(test::readersSettled({r.app.renderQueue.get()}));
        const int rendered = renders.load();
        QTest::qWait(kWatchMs);

        QCOMPARE(requests, 1);
        QCOMPARE(r.status(), kDecodeFailed);
        QCOMPARE(r.button(), kPlay);
        QVERIFY(!r.app.isPlaying());
        QVERIFY(!r.app.playback.loading);
        QCOMPARE(r.app.playback.current->id, qint64(1));
        QCOMPARE(renders.load(), rendered);
        QCOMPARE(rendered > 0, c.effects);
        // The played render is gone; a look-ahead's may wait in the cache.
        QVERIFY(!QFile::exists(renderFile(1)) || !QFile::exists(renderFile(2)));
        QCOMPARE(decodeOutputs(), QStringList{});
    }

    void aFileThatCannotBeReadIsToldSo_data() { addRows(unreadableCases); }
    void aFileThatCannotBeReadIsToldSo() {
        const UnreadableCase& c = test::currentCase(unreadableCases);
        Rig r;
        if (c.effects)
            test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
        r.app.playback.maxQuality = c.upsample;
        test::fakes(r.app).analysers.probeAudio = [](const QString&) {
            return StreamFacts{"flac", 44100, 16, 2, 2}; // as the catalog knew it
        };
        test::fakes(r.app).analysers.upsampleTarget = [](double, int, const std::vector<double>&) {
            return std::optional(96000.0);
        };
        const QString path = tempFile(QStringLiteral("words-as.flac"));
        QVERIFY(test::writeFile(path, "not a sound file at all\n"));
        const bool rendered = c.effects || c.upsample;
        QCOMPARE(r.app.fxNeeded(trackAt(1, path)), rendered); // the row's premise

        QVERIFY(test::playTaken(r.app, trackAt(1, path)));
        QCOMPARE(r.status(), rendered ? kRendering : kMarker);
        QVERIFY(r.roadOver());

        QCOMPARE(r.status(), kDecodeFailed);
        QCOMPARE(r.button(), kPlay);
        QVERIFY(!r.app.isPlaying());
        r.app.renderQueue->waitForDone();
        QCOMPARE(test::fxFiles(), QStringList{});
        QCOMPARE(decodeOutputs(), QStringList{});
    }

    void aWorkFolderThatTakesNoFile_data() { addRows(workFaultCases); }
    void aWorkFolderThatTakesNoFile() {
        const WorkFaultCase& c = test::currentCase(workFaultCases);
        // 64 KiB: the folder and its lock fit, not a second of float sound.
        std::optional<test::TinyMount> tiny;
        if (c.folder == Folder::NoRoom) {
            tiny.emplace(workFolderBases().value(0), 64);
            if (!tiny->skip.isEmpty())
                QSKIP(qPrintable(tiny->skip));
        }
        std::optional<test::NoPrivateBase> noFolder;
        if (c.folder != Folder::NoRoom) {
            noFolder.emplace(true, c.folder == Folder::GroupOnly ? 0770 : 0777);
            QVERIFY(noFolder->ok);
            noFolder->applyHere();
            if (c.folder == Folder::NoneYet || c.folder == Folder::GroupOnly)
                QVERIFY(QDir(noFolder->tmpBase).removeRecursively());
        }
        Rig r;
        r.app.status->setClock([] { return qint64(0); }); // the line's turns stand still
        const QString source = workSource(r, c.wants, c.kind);
        // The base the user can look at: where the folder was looked for first.
        const QString base = noFolder ? noFolder->blocker + "/Quavelark/work"
                                      : QFileInfo(r.app.workDir()).absolutePath();
        QCOMPARE(r.app.fxNeeded(trackAt(1, source)), c.wants != Wants::Nothing); // the premise

        const bool plays = c.kind == Kind::Caf;
        r.app.play(trackAt(1, source));
        // The MP3 is found out by its first read, off the main thread, and
        // goes on to the decode road.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !r.app.playback.loading && r.status() != kRendering &&
                       (plays || r.button() == kPlay);
            },
            kRoadMs));

        const QString cause = c.folder == Folder::NoRoom
                                  ? QStringLiteral("작업 폴더에 공간이 없어 ")
                                  : QStringLiteral("작업 폴더에 파일을 만들 수 없어 ");
        const QString then = plays ? QStringLiteral("효과·업샘플링 없이 재생합니다: ")
                                   : QStringLiteral("이 파일을 재생할 수 없습니다: ");
        QCOMPARE(r.status(), cause + then + base);
        // A failure either way: the list's count when a catalog comes does
        // not hide it.
        r.app.filter(false);
        QCOMPARE(r.status(), cause + then + base);
        QCOMPARE(r.app.isPlaying(), plays);
        QCOMPARE(r.button(), plays ? kPause : kPlay);
        if (plays)
            QCOMPARE(r.app.playback.audio->path(), source); // the file itself, unprocessed
        QCOMPARE(r.app.playback.cacheURL, std::nullopt);
        r.app.renderQueue->waitForDone();
        QCOMPARE(test::fxFiles(), QStringList{});
        QCOMPARE(decodeOutputs(), QStringList{});
        QCOMPARE(QDir::temp().entryList({QStringLiteral("Quavelark-*")}, QDir::Files),
                 QStringList{});
        if (noFolder)
            QCOMPARE(QDir::temp().entryList({QStringLiteral("quavelark-*")},
                                            QDir::Dirs | QDir::CaseSensitive),
                     c.folder == Folder::NoneYet || c.folder == Folder::GroupOnly
                         ? QStringList{}
                         : QStringList{QFileInfo(noFolder->tmpBase).fileName()});
    }

    // The upsampling that finds no room in the work folder is dropped: the
    // track plays what the first stage made, and the line says the folder
    // had no room, naming its base (never the stage's file with a hint at
    // permissions).
    void noRoomToUpsampleIsTold_data() { addRows(upsampleRoomCases); }
    void noRoomToUpsampleIsTold() {
        const UpsampleRoomCase& c = test::currentCase(upsampleRoomCases);
        // 2 MiB: the first stage's 1 MiB of float sound fits, its 2.2 MiB
        // upsampled to 96 kHz does not.
        test::TinyMount tiny(workFolderBases().value(0), 2048);
        if (!tiny.skip.isEmpty())
            QSKIP(qPrintable(tiny.skip));
        Rig r;
        r.app.status->setClock([] { return qint64(0); }); // the line's turns stand still
        const QString source = workSource(r, Wants::Upsampling, Kind::Caf);
        if (c.effects)
            test::fakes(r.app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };

        r.app.play(trackAt(1, source));
        QVERIFY(QTest::qWaitFor(
            [&] { return !r.app.playback.loading && r.status() != kRendering; }, kRoadMs));

        QCOMPARE(r.status(), QString::fromUtf8(kNoRoomToUpsample) + r.app.workBase());
        QVERIFY(r.app.isPlaying());
        QVERIFY(r.app.playback.cacheURL);
        QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
        QCOMPARE(test::fxFiles(), QStringList{QFileInfo(*r.app.playback.cacheURL).fileName()});
    }

    void aRemovedWorkFolderIsMadeAgain_data() { addRows(removedCases); }
    void aRemovedWorkFolderIsMadeAgain() {
        const RemovedCase& c = test::currentCase(removedCases);
        Rig r;
        const QString source = workSource(r, c.wants, c.kind);
        const QString removed = r.app.workDir();
        const QString base = QFileInfo(removed).absolutePath();
        QVERIFY(QDir(base).removeRecursively()); // the base and the run's folder in it

        r.app.play(trackAt(1, source));
        QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading && r.status() != kRendering; },
                                kRoadMs));

        QCOMPARE(r.status(), c.status);
        QVERIFY(r.app.isPlaying());
        const QString made = r.app.workDir();
        QVERIFY(made != removed);
        QVERIFY(r.app.playback.cacheURL);
        QCOMPARE(QFileInfo(*r.app.playback.cacheURL).absolutePath(), made);
        QCOMPARE(QFileInfo(made).absolutePath(), base);
        QVERIFY(isPrivateFolder(base) && isPrivateFolder(made));
        QVERIFY(QFileInfo::exists(made + "/.lock"));
    }

    // The next track's decode begun ahead and still running when a request
    // for it comes: the request plays its result, ffmpeg decodes it once.
    void aRequestJoinsTheDecodeBegunAhead() {
        Rig r;
        const QString runs = tempFile(QStringLiteral("decodes.txt"));
        const QString ffmpeg =
            script(QStringLiteral("counting-ffmpeg.sh"),
                   "echo \"$5\" >> '" + runs.toUtf8() + "'\nsleep 1\nexec ffmpeg \"$@\"\n");
        test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
        const Track first = trackAt(1, floatCaf(tempFile(QStringLiteral("first.caf")), 3));
        const Track next = trackAt(2, encoded(QStringLiteral("next.wv")));
        r.app.library.rows = {first, next};
        r.app.browser.filtered = std::vector<Track>{first, next};
        QVERIFY(test::playTaken(r.app, first));
        r.app.aimLookAhead(); // as the next tick does after a request that waited for its open
        QVERIFY(r.app.playback.decodeAhead && r.app.playback.decodeAhead->running);

        r.app.play(next);
        QVERIFY(r.roadOver());

        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
        QVERIFY(isDecodeOutput(*r.app.playback.cacheURL));
        QCOMPARE(QString::fromUtf8(test::readFile(runs)).count(QStringLiteral("next.wv")), 1);
    }

    // A decode made ahead stands for its file only while the file's size
    // and modification time are those it had when the decode began.
    void aFileChangedAfterItsDecodeAhead_data() { addRows(changeCases); }
    void aFileChangedAfterItsDecodeAhead() {
        const ChangeCase& c = test::currentCase(changeCases);
        Rig r;
        // Long enough that its end is not near: nothing takes the decode ahead early.
        const Track first = trackAt(1, floatCaf(tempFile(QStringLiteral("first-long.caf")), 10));
        const QString path = tempFile(QStringLiteral("changes.wv"));
        QFile::remove(path);
        QVERIFY(QFile::copy(encoded(QStringLiteral("tone.wv")), path));
        const Track next = trackAt(2, path);
        r.app.library.rows = {first, next};
        r.app.browser.filtered = std::vector<Track>{first, next};
        QVERIFY(test::playTaken(r.app, first));
        r.app.aimLookAhead(); // as the next tick does after a request that waited for its open
        const std::optional<DecodeAheadEntry>& ahead = r.app.playback.decodeAhead;
        QVERIFY(QTest::qWaitFor([&] { return ahead && !ahead->running; }, kRoadMs));
        QVERIFY(ahead->file);
        const QString old = *ahead->file;

        QTest::qWait(20); // a modification time the file system tells apart
        const QByteArray contents = c.change == Change::Replaced
                                        ? test::readFile(encoded(QStringLiteral("short.wv")))
                                        : test::readFile(path);
        QVERIFY(test::writeFile(path + ".new", contents));
        QVERIFY(std::rename(QFile::encodeName(path + ".new"), QFile::encodeName(path)) == 0);
        r.app.play(next);
        QVERIFY(r.roadOver());

        QVERIFY(r.app.isPlaying());
        QVERIFY(!QFile::exists(old));
        QVERIFY(*r.app.playback.cacheURL != old);
        QCOMPARE(r.app.playback.audio->path(), *r.app.playback.cacheURL);
        QVERIFY2(std::abs(r.app.playback.audio->duration() - c.seconds) < 0.05,
                 qPrintable(QString::number(r.app.playback.audio->duration())));
    }

    // A render that arrives after a newer request deletes its file and
    // changes nothing of what the newer request set up.
    void staleRenderDeletesItsFile() {
        Rig r;
        bool effects = true;
        test::fakes(r.app).analysers.fxSignature = [&effects] {
            return effects ? std::optional(QStringLiteral("eq:warm")) : std::nullopt;
        };
        QSemaphore go;
        const QString render = tempFile(QStringLiteral("Quavelark-fx-stale.caf"));
        test::fakes(r.app).analysers.renderFX = [&go, render](const RenderSnapshot&) {
            go.acquire();
            return RenderResult{floatCaf(render, 3), {}};
        };
        r.app.play(trackAt(1, tempFile(QStringLiteral("source.flac"))));
        effects = false;
        const QString direct = tempFile(QStringLiteral("direct.caf"));
        floatCaf(direct, 3);
        QVERIFY(test::playTaken(r.app, trackAt(2, direct)));
        QVERIFY(r.app.isPlaying());
        r.app.status->setStringValue(kMarker);

        go.release();
        r.app.renderQueue->waitForDone();
        QVERIFY(QTest::qWaitFor([&render] { return !QFile::exists(render); }, kRoadMs));
        QCOMPARE(r.app.playback.current->id, qint64(2));
        QCOMPARE(r.app.playback.audio->path(), direct);
        QCOMPARE(r.app.playback.cacheURL, std::nullopt);
        QCOMPARE(r.status(), kMarker);
        QCOMPARE(r.button(), kPause);
    }
    // FFmpeg reading a file's tags is broken off at the open's deadline:
    // the reader returns soon after it, refused, rather than once FFmpeg is
    // done with the tags (many seconds), so the open's thread ends and the
    // file is told too slow to open. (Asked through AudioFile, a file this
    // crowded never reaches FFmpeg: the reader is asked directly.)
    void anOverdueOpenIsBrokenOffInsideFfmpeg() {
        // Half the tags of the rows above: read whole, still far longer
        // than the bound below, and the row that fails does not wait long.
        const QString path = test::crowdedFile(test::Crowded::M4a, kTagCount / 2);
        struct Outcome {
            std::atomic<bool> done = false;
            platform::CodecReader::Opened opened;
        };
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const auto outcome = std::make_shared<Outcome>();
        std::thread opening([outcome, path, fd] {
            outcome->opened =
                platform::CodecReader::open(fd, path, QDeadlineTimer(kOverdueAfterMs));
            outcome->done = true;
        });
        const bool returned = QTest::qWaitFor([&] { return outcome->done.load(); }, kBrokenOffMs);
        opening.join(); // at once, or once FFmpeg has read every tag
        QVERIFY2(returned, qPrintable(QStringLiteral("an open given %1 ms still ran after %2 ms")
                                          .arg(kOverdueAfterMs)
                                          .arg(kBrokenOffMs)));
        QVERIFY(!outcome->opened.reader);
        QVERIFY2(outcome->opened.why.contains(QStringLiteral("too long")),
                 qPrintable(outcome->opened.why));
    }

    void aTagHeavyFileLeavesTheWindowAnswering_data() { addRows(tagHeavyCases); }
    void aTagHeavyFileLeavesTheWindowAnswering() {
        const TagHeavyCase& c = test::currentCase(tagHeavyCases);
        const QString path = test::crowdedFile(c.file, c.tags);
        Rig r;
        // Every program that could read the file: each run leaves a line.
        const QString log = tempFile(QStringLiteral("tag-heavy-programs.log"));
        QFile::remove(log);
        if (c.maxQuality) {
            const QString program = script(QStringLiteral("tag-heavy-program.sh"),
                                           "echo \"$@\" >> '" + log.toUtf8() + "'\nexit 1\n");
            test::fakes(r.app).tools.decodeProgram = [program] { return program; };
            test::fakes(r.app).tools.coverProgram = [program] { return program; };
            test::fakes(r.app).tools.loudnessProgram = [program] { return program; };
            test::fakes(r.app).tools.probeTool = [program](const QString&) { return program; };
            r.app.playback.maxQuality = true;
            r.app.listening.levelingOn = true;
        }
        const Track before = trackAt(1, floatCaf(tempFile(QStringLiteral("before.caf")), 2));
        const Track tagged = trackAt(2, path);
        if (c.afterPlaying) {
            r.app.library.rows = {before, tagged};
            r.app.browser.filtered = r.app.library.rows;
            // Upsampling asks every track's rate; none of these is raised.
            r.app.playback.maxQuality = true;
            test::fakes(r.app).analysers.upsampleTarget = [](double rate, int,
                                                             const std::vector<double>&) {
                return rate == 48000 ? std::optional(96000.0) : std::nullopt;
            };
            test::fakes(r.app).analysers.probeAudio = [](const QString&) {
                return StreamFacts{"aac", 44100, 16, 2, 2};
            };
        }
        test::MainThreadAsker asker;
        QElapsedTimer watched;
        watched.start();
        QElapsedTimer due;
        if (c.afterPlaying) {
            r.app.play(before);
            QTRY_VERIFY_WITH_TIMEOUT(r.app.isPlaying(), kRoadMs);
            test::playInTime(*r.sink, 2 * 44100);
        } else {
            r.app.play(tagged);
        }
        due.start();
        // Its tags keep it from FFmpeg, the only reader of its kind: refused
        // at once, for what it is (its format is one the player reads).
        const QString refused = failureText(Failure::FileCrowded, QFileInfo(path).fileName());
        const auto outcome = [&] {
            return r.app.playback.current && r.app.playback.current->id == 2 &&
                   (c.plays ? r.app.isPlaying() : r.status() == refused);
        };
        QVERIFY2(QTest::qWaitFor(outcome, kTagHeavyMs),
                 qPrintable(QStringLiteral("after %1 ms: %2, %3")
                                .arg(due.elapsed())
                                .arg(r.status(), r.button())));
        // A second of questions at least, however soon the outcome came.
        QTest::qWait(int(std::max<qint64>(0, 1000 - watched.elapsed())));
        asker.stop();
        QCOMPARE(r.button(), c.plays ? kPause : kPlay);
        if (c.maxQuality) {
            // The readers aside (cover, waveform, loudness, quality label)
            // have had their turn by now.
            r.app.requestQuality(tagged);
            QTRY_VERIFY_WITH_TIMEOUT(r.app.library.qual.contains(path), kRoadMs);
            QVERIFY(QThreadPool::globalInstance()->waitForDone(kRoadMs));
            QCOMPARE(test::childrenNamed({QStringLiteral("ffmpeg"), QStringLiteral("ffprobe")}),
                     QList<qint64>{});
            QVERIFY2(!QFile::exists(log), test::readFile(log).constData());
            if (c.plays) // played as it is, and told so
                QCOMPARE(r.status(),
                         L10n::tr(QStringLiteral(
                             "태그가 너무 많은 파일이라 효과·업샘플링 없이 재생합니다: ")) +
                             QFileInfo(path).fileName());
        }
        // A late answer now and then is the machine's; a file read on the
        // main thread leaves every answer of many seconds late.
        QVERIFY2(asker.asked() > 0 && asker.late() * 10 <= asker.asked(),
                 qPrintable(QStringLiteral("%1 of %2 answers later than 100 ms, the longest %3 ms")
                                .arg(asker.late())
                                .arg(asker.asked())
                                .arg(asker.longestMs())));
    }
};

QL_TEST_MAIN(RoadsTest)
#include "RoadsTest.moc"
