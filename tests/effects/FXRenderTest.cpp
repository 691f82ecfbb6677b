// Guards against: a misread probe or a render that leaves wrong or stray files.
// ffprobe reports read member by member, real and stand-in ffprobe runs, and
// the blocking render with the real ffmpeg: the files it leaves and what they hold.
#include "effects/FXRender.h"
#include "analysis/ProbeAudio.h"
#include "app/DecodeCommand.h"
#include "app/FailureText.h"
#include "effects/FXChain.h"
#include "effects/FXEdit.h"
#include "effects/UpsampleFile.h"
#include "library/ToolPaths.h"
#include "platform/audio/AudioFile.h"
#include "playback/InFlightFiles.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TinyMount.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSemaphore>

#include <sndfile.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <future>

using namespace ql;
using test::tempFile;

namespace {

const StreamFacts kFailed{};

QString script(const char* name, const QByteArray& body) {
    test::writeExecutable(tempFile(name), body);
    return tempFile(name);
}

std::optional<QString> rockChain() {
    FXState state;
    choosePreset(state, QStringLiteral("록"));
    return fxChain(state, false);
}

// clang-format off
struct ParseCase { const char* name; const char* report; StreamFacts facts; };
const std::vector<ParseCase> parseCases{
    {"16-bit WAV with bits_per_sample only", R"({"streams":[{"codec_name":"pcm_s16le","sample_rate":"44100","bits_per_sample":16,"channels":1}],"format":{"duration":"1"}})", {"pcm_s16le", 44100, 16, 1, 1}},
    {"MP3 has no sample width", R"({"streams":[{"codec_name":"mp3","sample_rate":"44100","bits_per_sample":0,"channels":2}],"format":{"duration":"2"}})", {"mp3", 44100, 0, 2, 2}},
    {"a rate as a JSON number counts as missing", R"({"streams":[{"codec_name":"flac","sample_rate":44100,"channels":2}]})", {"flac", 0, 0, 2, 0}},
    {"a raw width of \"0\" wins over bits_per_sample", R"({"streams":[{"codec_name":"flac","sample_rate":"44100","bits_per_raw_sample":"0","bits_per_sample":16,"channels":2}]})", {"flac", 44100, 0, 2, 0}},
    {"no format: duration 0, the rest filled", R"({"streams":[{"codec_name":"flac","sample_rate":"48000","bits_per_raw_sample":"16","channels":2}]})", {"flac", 48000, 16, 2, 0}},
    {"nan rate, inf duration, fractional channels: missing", R"({"streams":[{"codec_name":"flac","sample_rate":"nan","channels":2.5}],"format":{"duration":"inf"}})", {"flac", 0, 0, 0, 0}},
    {"a negative rate counts as missing", R"({"streams":[{"sample_rate":"-44100"}]})", {"?", 0, 0, 0, 0}},
    {"negative counts are missing; a negative raw width yields to bits_per_sample", R"({"streams":[{"sample_rate":"48000","channels":-2,"bits_per_raw_sample":"-24","bits_per_sample":16}]})", {"?", 48000, 16, 0, 0}},
    {"no audio stream keeps the container's duration", R"({"streams":[],"format":{"duration":"7.25"}})", {"?", 0, 0, 0, 7.25}},
    {"a top level that is not an object fails", R"([{"codec_name":"flac"}])", kFailed},
};

struct RunCase { const char* name; QString file; QString program; int timeoutMs; StreamFacts facts; };
const std::vector<RunCase> runCases{
    {"a 16-bit WAV", "probe 16.wav", "", 30000, {"pcm_s16le", 44100, 16, 2, 1}},
    {"a 24-bit FLAC whose path has spaces and Hangul", "곡 이름 with spaces.flac", "", 30000, {"flac", 44100, 24, 2, 1}},
    {"a report then an error exit is still used", "probe 16.wav", script("probe-fails.sh", R"(echo '{"streams":[{"codec_name":"mp3","sample_rate":"48000","channels":2}]}'; exit 1)"), 30000, {"mp3", 48000, 0, 2, 0}},
    {"no ffprobe gives the failure result", "probe 16.wav", "/nonexistent/ffprobe", 30000, kFailed},
    {"a child that never ends is killed at its limit", "probe 16.wav", script("probe-hangs.sh", R"(echo '{"streams":[{"sample_rate":"48000"}]}'; exec sleep 60)"), 200, kFailed},
    {"a FLAC with 200,000 comments after an ID3v2 tag is never given to ffprobe", "many tags id3.flac", script("probe-answers.sh", R"(echo '{"streams":[{"sample_rate":"48000"}]}')"), 30000, kFailed},
};

// The source of a render row: the three-second FLAC, the same with tags of
// hundreds of kilobytes or with 200,000 comments (which ffmpeg gathers for
// minutes; also behind a small comment block, or before a block that runs
// past the end of the file), a text file named like one, or a path with no
// file. A rejected filter on the FLAC must not blame it.
enum class Source { Flac, LongTags, ManyTags, ManyTagsSecond, ManyTagsDamaged, SparsePadding, Text, Gone };
struct RenderCase { const char* name; std::optional<QString> chain; std::vector<PluginSlot> plugins; bool rendered; std::optional<RenderNote> note;
                    Source source = Source::Flac; bool sourceBlamed = false; bool ffmpegMissing = false; };
const std::vector<RenderCase> renderCases{
    {"the rock chain gives one float file", rockChain(), {}, true, std::nullopt},
    {"no chain copies the source into float", std::nullopt, {}, true, std::nullopt},
    {"a source with 60 KB of lyrics and a 250,000-character title renders to a file that opens", rockChain(), {}, true, std::nullopt, Source::LongTags},
    {"a FLAC with 200,000 comments renders within its limit, its masked copy gone", rockChain(), {}, true, std::nullopt, Source::ManyTags},
    {"200,000 comments behind a small comment block: masked all the same", rockChain(), {}, true, std::nullopt, Source::ManyTagsSecond},
    {"200,000 comments and a sparse gigabyte of padding: renders with files of 50 MB at most", rockChain(), {}, true, std::nullopt, Source::SparsePadding},
    {"200,000 comments before a block past the end: the source is blamed without ffmpeg", rockChain(), {}, false, std::nullopt, Source::ManyTagsDamaged, true, true},
    {"a rejected filter gives no file and leaves none", QStringLiteral("bass=g=abc"), {}, false, std::nullopt},
    {"a plug-in stage whose program is missing keeps ffmpeg's file", rockChain(), {PluginSlot{"Tape Echo", 1, 2, 3, {}}}, true,
     RenderNote{3, QStringLiteral("오프라인 렌더링 오류"), {}, {}}},
    {"a text file named .flac without a chain: the source is blamed", std::nullopt, {}, false, std::nullopt, Source::Text, true},
    {"a text file named .flac under the rock chain: the source is blamed", rockChain(), {}, false, std::nullopt, Source::Text, true},
    {"a source that is gone: the source is blamed", rockChain(), {}, false, std::nullopt, Source::Gone, true},
    {"no ffmpeg: the source is not blamed", std::nullopt, {}, false, std::nullopt, Source::Flac, false, true},
};

// The 3 s files end in a read of 1228 frames, short of a block.
struct UpCase { const char* name; bool cut; double rate; bool diskFull; std::optional<RenderNote> note; };
const std::vector<UpCase> upCases{
    {"3 s stereo 44.1k sine to 176.4k float CAF", false, 176400, false, std::nullopt},
    {"a read error in the middle ends in an error", true, 176400, false, RenderNote{4, failureKorean(Failure::FileUnreadable), "cut.flac"}},
    {"a short write ends in an error", false, 176400, true, RenderNote{4, failureKorean(Failure::FileNotWritable), "up.caf"}},
    {"rate 0: no converter", false, 0, false, RenderNote{4, QStringLiteral("업샘플링 변환기를 만들 수 없습니다."), {}}},
};
// clang-format on

// clang-format off
// A work folder's base on a disk of `kib` KiB: the CAF header and the first
// blocks fit or not, the three seconds at 176.4 kHz (4 MiB) never do.
struct NoRoomCase { const char* name; int kib; };
const std::vector<NoRoomCase> noRoomCases{
    {"no room for the first block",      64},
    {"no room part-way through",         1024},
};
// clang-format on

// The left channel of a sound file, or nothing when it does not open.
std::vector<double> leftChannel(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<double> all(std::size_t(info.frames * info.channels));
    const sf_count_t got = sf_readf_double(f, all.data(), info.frames);
    sf_close(f);
    std::vector<double> left(static_cast<std::size_t>(got));
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = all[i * std::size_t(info.channels)];
    return left;
}

// The lag (output behind source, in frames, within ±`reach`) at which `out`
// best matches `src` over `frames` frames from `from`.
int bestLag(const std::vector<double>& src, const std::vector<double>& out, std::size_t from,
            std::size_t frames, int reach) {
    int best = 0;
    double bestSum = -1e300;
    for (int lag = -reach; lag <= reach; ++lag) {
        double sum = 0;
        for (std::size_t i = from; i < from + frames; ++i) {
            const auto j = std::ptrdiff_t(i) + lag;
            if (j >= 0 && std::size_t(j) < out.size())
                sum += src[i] * out[std::size_t(j)];
        }
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

} // namespace

class FXRenderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const auto& [name, format, seconds] :
             {std::tuple{"곡 이름 with spaces.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1},
              std::tuple{"probe 16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
              std::tuple{"three seconds.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 3}}) {
            QVERIFY(test::writeAudio(tempFile(QString::fromUtf8(name)),
                                     {.format = format, .frames = seconds * 44100}));
        }
        QVERIFY(test::writeFile(
            tempFile(QStringLiteral("many tags id3.flac")),
            test::shapedFlac(test::readFile(tempFile(QStringLiteral("곡 이름 with spaces.flac"))),
                             test::FlacShape::Id3Before, 200000)));
    }
    void cleanup() { test::removeFxFiles(); }

    void parses_data() { test::addRows(parseCases); }
    void parses() {
        const ParseCase& c = test::currentCase(parseCases);
        QCOMPARE(parseStreamFacts(QByteArray(c.report)), c.facts);
    }

    void probes_data() { test::addRows(runCases); }
    void probes() {
        const RunCase& c = test::currentCase(runCases);
        QCOMPARE(probeAudio(tempFile(c.file), {c.program, c.timeoutMs, nullptr}), c.facts);
    }

    void renders_data() { test::addRows(renderCases); }
    void renders() {
        const RenderCase& c = test::currentCase(renderCases);
        RenderSnapshot snapshot;
        snapshot.path = tempFile(QStringLiteral("three seconds.flac"));
        snapshot.duration = 3;
        snapshot.chain = c.chain;
        snapshot.plugins = c.plugins;
        snapshot.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
        if (c.source == Source::LongTags) {
            snapshot.path = tempFile(QStringLiteral("long tags.flac"));
            QVERIFY(
                QFile::exists(snapshot.path) ||
                test::withLongTags(tempFile(QStringLiteral("three seconds.flac")), snapshot.path));
        } else if (c.source == Source::ManyTags) {
            snapshot.path = tempFile(QStringLiteral("many tags.flac"));
            QVERIFY(QFile::exists(snapshot.path) ||
                    test::writeFile(snapshot.path,
                                    test::withComments(test::readFile(tempFile(
                                                           QStringLiteral("three seconds.flac"))),
                                                       200000)));
        } else if (c.source == Source::ManyTagsSecond || c.source == Source::ManyTagsDamaged) {
            const bool damaged = c.source == Source::ManyTagsDamaged;
            snapshot.path = tempFile(damaged ? QStringLiteral("many tags damaged.flac")
                                             : QStringLiteral("many tags second.flac"));
            QVERIFY(test::writeFile(
                snapshot.path,
                test::shapedFlac(test::readFile(tempFile(QStringLiteral("three seconds.flac"))),
                                 damaged ? test::FlacShape::BlockPastEnd
                                         : test::FlacShape::SmallCommentsFirst,
                                 200000)));
        } else if (c.source == Source::SparsePadding) {
            snapshot.path = tempFile(QStringLiteral("sparse padding.flac"));
            QVERIFY(QFile::exists(snapshot.path) ||
                    test::writeSparsePadded(
                        snapshot.path,
                        test::readFile(tempFile(QStringLiteral("three seconds.flac"))), 200000,
                        qint64(1) << 30));
        } else if (c.source == Source::Text) {
            snapshot.path = tempFile(QStringLiteral("words.flac"));
            QVERIFY(test::writeFile(snapshot.path, "not a sound file at all\n"));
        } else if (c.source == Source::Gone) {
            snapshot.path = tempFile(QStringLiteral("gone.flac"));
            QFile::remove(snapshot.path);
        }
        if (c.ffmpegMissing)
            snapshot.ffmpeg = QStringLiteral("/nonexistent/ffmpeg");
        snapshot.tempDir = QDir::tempPath();
        snapshot.inFlight = std::make_shared<InFlightFiles>();
        // The padding is not copied: no file the render writes reaches 50 MB
        // (a write past that fails, and so would the render).
        rlimit open{}, bounded{};
        getrlimit(RLIMIT_FSIZE, &open);
        bounded = {c.source == Source::SparsePadding ? rlim_t(50) << 20 : open.rlim_cur,
                   open.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &bounded);
        const RenderResult result = renderFXBlocking(snapshot);
        setrlimit(RLIMIT_FSIZE, &open);

        QCOMPARE(result.note, c.note);
        QCOMPARE(result.file.has_value(), c.rendered);
        QCOMPARE(result.sourceUnreadable, c.sourceBlamed);
        const QStringList left = test::fxFiles();
        QCOMPARE(left.size(), c.rendered ? 1 : 0);
        // Only the result is still registered for the quit to delete.
        QCOMPARE(snapshot.inFlight->close(),
                 c.rendered ? QStringList{*result.file} : QStringList{});
        QVERIFY(!renderArguments("a", std::nullopt, "o.caf", "/").contains("-af"));
        if (!c.rendered)
            return;
        static const QRegularExpression name(QStringLiteral("^Quavelark-fx-[0-9A-F-]{36}\\.caf$"));
        QVERIFY2(name.match(left.front()).hasMatch(), qPrintable(left.front()));
        // Whatever stage wrote it last, the render is readable by its owner only.
        QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                          QFileDevice::WriteGroup | QFileDevice::WriteOther;
        QCOMPARE(QFile::permissions(*result.file) & others, QFileDevice::Permissions{});
        QCOMPARE(probeAudio(*result.file), (StreamFacts{"pcm_f32le", 44100, 32, 2, 3}));
        const platform::AudioFile::Opened opened = platform::AudioFile::open(*result.file);
        QVERIFY2(opened.file, qPrintable(opened.error));
        QCOMPARE(opened.file->frames(), std::int64_t(3 * 44100));
    }

    // No filter of the chain may delay the render: it keeps the source's
    // length, so a delay would start it late and cut its end (the limiter's
    // look-ahead once did). One chain holds every filter the presets put
    // before the limiter: the five bands of rock (shelves and peaks), the
    // crossfeed of the headphone preset and the compressor of night mode.
    void aRenderKeepsEveryFrameInPlace() {
        FXState state;
        choosePreset(state, QStringLiteral("록"));
        state.crossfeed = state.night = true;
        RenderSnapshot snapshot;
        snapshot.path = tempFile(QStringLiteral("three seconds.flac"));
        snapshot.duration = 3;
        snapshot.chain = fxChain(state, false);
        snapshot.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
        snapshot.tempDir = QDir::tempPath();
        snapshot.inFlight = std::make_shared<InFlightFiles>();
        const RenderResult result = renderFXBlocking(snapshot);
        QVERIFY(result.file);

        const std::vector<double> src = leftChannel(snapshot.path);
        const std::vector<double> out = leftChannel(*result.file);
        QCOMPARE(out.size(), src.size());
        const auto silent = [](auto first, auto last) {
            return std::all_of(first, last, [](double v) { return v == 0.0; });
        };
        QVERIFY2(!silent(out.begin(), out.begin() + 16), "the render starts with silence");
        QVERIFY2(!silent(out.end() - 16, out.end()), "the render ends with silence");
        constexpr std::size_t kSpan = 4410; // 0.1 s
        QCOMPARE(bestLag(src, out, 0, kSpan, 400), 0);
        QCOMPARE(bestLag(src, out, src.size() - kSpan - 400, kSpan, 400), 0);
    }

    // The render's ffmpeg is a writer like a decode's: with both writers'
    // seats taken it does not start; stopped while it waits, it starts
    // nothing and leaves nothing; a seat given back lets a render run.
    void aRenderWaitsForAWriterSeat() {
        const QString log = tempFile(QStringLiteral("seat-ffmpeg.log"));
        QFile::remove(log);
        RenderSnapshot s;
        s.path = tempFile(QStringLiteral("three seconds.flac"));
        s.duration = 3;
        s.ffmpeg = script("seat-ffmpeg.sh",
                          "echo started >> '" + QFile::encodeName(log) + "'\nexec ffmpeg \"$@\"\n");
        s.tempDir = QDir::tempPath();
        s.inFlight = std::make_shared<InFlightFiles>();
        s.seats = std::make_shared<QSemaphore>(2);
        QVERIFY(s.seats->tryAcquire(2)); // two decodes write
        std::future<RenderResult> waiting =
            std::async(std::launch::async, [s] { return renderFXBlocking(s); });
        // Long enough for its ffmpeg to have started, were it let.
        QTest::qWait(1000);
        QVERIFY2(!QFile::exists(log), "a third ffmpeg writer started");
        s.stop->request();
        QCOMPARE(waiting.get().file, std::nullopt);
        QVERIFY(!QFile::exists(log));
        QCOMPARE(test::fxFiles(), QStringList{});

        s.seats->release(1); // a decode ended
        s.stop = std::make_shared<platform::ChildStop>();
        const RenderResult made = renderFXBlocking(s);
        QVERIFY(made.file);
        QCOMPARE(s.seats->available(), 1); // its seat given back
        QVERIFY(QFile::remove(*made.file));
    }

    // A full disk is the work folder's fault, told in the play road's words
    // with the base the user can look at: never the stage's file name with a
    // hint at permissions. No partial file stays.
    void anUpsamplingWithoutRoomNamesTheWorkFolder_data() { test::addRows(noRoomCases); }
    void anUpsamplingWithoutRoomNamesTheWorkFolder() {
        const NoRoomCase& c = test::currentCase(noRoomCases);
        const QString base = tempFile(QStringLiteral("tiny-base"));
        const test::TinyMount tiny(base, c.kib);
        if (!tiny.skip.isEmpty())
            QSKIP(qPrintable(tiny.skip));
        const QString run = base + QStringLiteral("/run");
        QVERIFY(QDir().mkpath(run));
        const QString in = tempFile(QStringLiteral("up-in.wav"));
        QVERIFY(test::writeAudio(in, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 3 * 44100,
                                      test::Signal::Sine, 1000}));
        const QString out = run + QStringLiteral("/Quavelark-fx-full.caf");

        const std::optional<RenderNote> note = upsampleCAF(in, out, 176400);

        QCOMPARE(note, (RenderNote{4, QString::fromUtf8(kNoRoomToUpsample), base, {}}));
        QVERIFY(!QFile::exists(out));
    }

    // An upsampling asked to stop gives up and leaves no file.
    void aStoppedUpsamplingLeavesNoFile() {
        const QString out = tempFile(QStringLiteral("Quavelark-fx-stopped.caf"));
        const std::optional<RenderNote> note = upsampleCAF(
            tempFile(QStringLiteral("three seconds.flac")), out, 96000, [] { return true; });
        QVERIFY(note);
        QVERIFY(!QFile::exists(out));
    }

    void upsamples_data() { test::addRows(upCases); }
    void upsamples() {
        const UpCase& c = test::currentCase(upCases);
        const QString in = tempFile(c.cut ? "cut.flac" : "up-in.wav"), out = tempFile("up.caf");
        QVERIFY(c.cut ? test::writeBrokenFlac(in, 8 * 44100)
                      : test::writeAudio(in, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 3 * 44100,
                                              test::Signal::Sine, 1000}));
        rlimit open{}, full{};
        getrlimit(RLIMIT_FSIZE, &open);
        full = {c.diskFull ? 1 << 20 : open.rlim_cur, open.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
        setrlimit(RLIMIT_FSIZE, &full);
        const std::optional<RenderNote> note = upsampleCAF(in, out, c.rate);
        setrlimit(RLIMIT_FSIZE, &open);
        QCOMPARE(note, c.note);
        QCOMPARE(QFile::exists(out), !c.note);
        if (c.note)
            return;
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(out).constData(), SFM_READ, &info);
        std::vector<double> heard(std::size_t(info.frames * info.channels));
        sf_readf_double(file, heard.data(), info.frames);
        sf_close(file);
        QCOMPARE(std::tuple(info.format, info.samplerate, info.channels),
                 std::tuple(SF_FORMAT_CAF | SF_FORMAT_FLOAT, 176400, 2));
        QVERIFY(std::abs(info.frames - 4 * 3 * 44100) <= 2048);
        // Over the middle second, sign changes are twice the tone's frequency.
        QVERIFY(std::abs(test::signChanges(heard, 2, 176400, 2 * 176400) / 2.0 - 1000) <= 5);
    }
};

QL_TEST_MAIN_CORE(FXRenderTest)
#include "FXRenderTest.moc"
