// The stream facts probe: ffprobe reports read member by member in their own
// types, real ffprobe runs on generated files, a missing or hung ffprobe, and
// the format line made from the facts.
#include "analysis/ProbeAudio.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <sndfile.h>

using namespace ql;
using test::tempFile;

namespace {

const StreamFacts kFailed{};

struct ParseCase {
    const char* name;
    const char* report;
    StreamFacts facts;
};

// clang-format off
const std::vector<ParseCase>& parseCases() {
    static const std::vector<ParseCase> cases{
        {"24-bit FLAC", R"({"streams":[{"codec_name":"flac","sample_rate":"96000","bits_per_raw_sample":"24","bits_per_sample":0,"channels":2}],"format":{"duration":"3.5"}})",
         {"flac", 96000, 24, 2, 3.5}},
        {"16-bit WAV with bits_per_sample only", R"({"streams":[{"codec_name":"pcm_s16le","sample_rate":"44100","bits_per_sample":16,"channels":1}],"format":{"duration":"1"}})",
         {"pcm_s16le", 44100, 16, 1, 1}},
        {"MP3 has no sample width", R"({"streams":[{"codec_name":"mp3","sample_rate":"44100","bits_per_sample":0,"channels":2}],"format":{"duration":"2"}})",
         {"mp3", 44100, 0, 2, 2}},
        {"a rate given as a JSON number counts as missing", R"({"streams":[{"codec_name":"flac","sample_rate":44100,"channels":2}]})",
         {"flac", 0, 0, 2, 0}},
        {"a raw width of \"0\" wins over bits_per_sample", R"({"streams":[{"codec_name":"flac","sample_rate":"44100","bits_per_raw_sample":"0","bits_per_sample":16,"channels":2}]})",
         {"flac", 44100, 0, 2, 0}},
        {"no format: duration 0, the rest filled", R"({"streams":[{"codec_name":"flac","sample_rate":"48000","bits_per_raw_sample":"16","channels":2}]})",
         {"flac", 48000, 16, 2, 0}},
        {"a nan rate and an inf duration count as missing", R"({"streams":[{"codec_name":"flac","sample_rate":"nan","channels":2}],"format":{"duration":"inf"}})",
         {"flac", 0, 0, 2, 0}},
        {"a negative rate counts as missing", R"({"streams":[{"codec_name":"flac","sample_rate":"-44100","channels":2.5}]})",
         {"flac", 0, 0, 0, 0}},
        {"no audio stream keeps the container's duration", R"({"streams":[],"format":{"duration":"7.25"}})",
         {"?", 0, 0, 0, 7.25}},
        {"a top level that is not an object fails", R"([{"codec_name":"flac"}])", kFailed},
        {"no JSON at all fails", "", kFailed},
    };
    return cases;
}

struct RunCase {
    const char* name;
    QString file;    // generated here; "" = none
    QString program; // "" = the real ffprobe
    int timeoutMs;
    StreamFacts facts; // duration checked only to 0.05 s
};

QString script(const char* name, const QByteArray& body) {
    const QString path = tempFile(QString::fromUtf8(name));
    test::writeExecutable(path, body);
    return path;
}

const std::vector<RunCase>& runCases() {
    static const std::vector<RunCase> cases{
        {"a 24-bit FLAC", "probe 24.flac", "", 30000, {"flac", 44100, 24, 2, 1}},
        {"a 16-bit WAV", "probe 16.wav", "", 30000, {"pcm_s16le", 44100, 16, 2, 1}},
        {"a path with spaces and Hangul arrives as one argument", "곡 이름 with spaces.flac", "", 30000, {"flac", 44100, 24, 2, 1}},
        {"a report followed by an error exit is still used", "probe 16.wav",
         script("ffprobe-then-fail.sh", R"(echo '{"streams":[{"codec_name":"mp3","sample_rate":"48000","channels":2}]}'; exit 1)"), 30000,
         {"mp3", 48000, 0, 2, 0}},
        {"no ffprobe gives the failure result", "probe 16.wav", "/nonexistent/ffprobe", 30000, kFailed},
        {"a child that never ends is killed at its limit", "probe 16.wav",
         script("ffprobe-hangs.sh", R"(echo '{"streams":[{"sample_rate":"48000"}]}'; exec sleep 60)"), 200, kFailed},
    };
    return cases;
}

struct LineCase {
    const char* name;
    StreamFacts facts;
    QString line;
};

const std::vector<LineCase>& lineCases() {
    static const std::vector<LineCase> cases{
        {"mono 16-bit 44.1 kHz FLAC", {"flac", 44100, 16, 1, 0}, "FLAC | 16/44.1kHz Mono"},
        {"stereo 24/96 FLAC", {"flac", 96000, 24, 2, 0}, "FLAC | 24/96kHz Stereo"},
        {"stereo MP3 has no bits part", {"mp3", 44100, 0, 2, 0}, "MP3 | 44.1kHz Stereo"},
        {"six channels", {"aac", 48000, 0, 6, 0}, "AAC | 48kHz 6ch"},
        {"a failed probe leaves the line empty", kFailed, ""},
    };
    return cases;
}
// clang-format on

} // namespace

class StreamFactsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const auto& [name, format] :
             {std::pair{"probe 24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
              std::pair{"곡 이름 with spaces.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
              std::pair{"probe 16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16}}) {
            test::AudioShape shape;
            shape.format = format;
            QVERIFY(test::writeAudio(tempFile(QString::fromUtf8(name)), shape));
        }
    }

    void parses_data() { test::addRows(parseCases()); }
    void parses() {
        const ParseCase& c = test::currentCase(parseCases());
        QCOMPARE(parseStreamFacts(QByteArray(c.report)), c.facts);
    }

    void runs_data() { test::addRows(runCases()); }
    void runs() {
        const RunCase& c = test::currentCase(runCases());
        ProbeOptions options;
        options.program = c.program;
        options.timeoutMs = c.timeoutMs;
        StreamFacts facts = probeAudio(tempFile(c.file), options);
        QVERIFY(std::abs(facts.duration - c.facts.duration) < 0.05);
        facts.duration = c.facts.duration;
        QCOMPARE(facts, c.facts);
    }

    void formatLine_data() { test::addRows(lineCases()); }
    void formatLine() {
        const LineCase& c = test::currentCase(lineCases());
        QCOMPARE(ql::formatLine(c.facts), c.line);
    }
};

QL_TEST_MAIN_CORE(StreamFactsTest)
#include "StreamFactsTest.moc"
