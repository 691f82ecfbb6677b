// Guards against: a genre read in-process that differs from what ffprobe prints for the
// same file, a file whose tags are its streams' (Ogg) taken for one without a genre, and a
// file the libraries cannot open taken for one without a genre.
// Each row is made by ffmpeg; the expected text is ffprobe's own output for it: the file's
// tags ("format_tags"), else, when it prints nothing, the streams' ("stream_tags").
#include "platform/audio/FormatTags.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QProcess>

using namespace ql;

namespace {

// `args`: ffmpeg's options between the tone and the output name, empty for a
// file that is not there; `lines`: what ffprobe prints for it.
struct Case {
    const char *name, *file;
    QStringList args;
    QByteArray lines;
};
// clang-format off
const std::vector<Case> kCases{
    {"ID3v2.3", "v23.mp3", {"-id3v2_version", "3", "-metadata", "genre=rock"}, "rock\n"},
    {"ID3v2.4", "v24.mp3", {"-id3v2_version", "4", "-metadata", "genre=Hip-Hop/Rap"}, "Hip-Hop/Rap\n"},
    {"ID3v2.3 numbered genre", "num.mp3", {"-id3v2_version", "3", "-metadata", "genre=(17)"}, "Rock\n"},
    {"ID3v1 only: nothing, as ffprobe", "v1.mp3", {"-id3v2_version", "0", "-write_id3v1", "1", "-metadata", "genre=Jazz"}, ""},
    {"Vorbis comments in FLAC", "vc.flac", {"-metadata", "genre=  électro ; blues"}, "  électro ; blues\n"},
    {"Vorbis comments in Ogg: the stream's tags", "vc.ogg", {"-c:a", "libvorbis", "-metadata", "genre=Ambient"}, "Ambient\n"},
    {"Opus: the stream's tags", "ballad.opus", {"-c:a", "libopus", "-metadata", "genre=발라드"}, "발라드\n"},
    {"FLAC in Ogg: the stream's tags", "ballad.oga", {"-c:a", "flac", "-metadata", "genre=발라드; 팝"}, "발라드; 팝\n"},
    {"Ogg without a genre", "plain.ogg", {"-c:a", "libvorbis", "-metadata", "title=Nothing"}, ""},
    {"Matroska: the file's tag before the stream's", "both.mka", {"-metadata", "genre=Rock", "-metadata:s:a:0", "genre=Jazz"}, "Rock\n"},
    {"Matroska: the stream's tag alone", "stream.mka", {"-metadata:s:a:0", "genre=Jazz"}, "Jazz\n"},
    {"MP4", "tag.m4a", {"-c:a", "aac", "-metadata", "genre=발라드"}, "발라드\n"},
    {"WAV INFO", "info.wav", {"-metadata", "genre=K-Pop"}, "K-Pop\n"},
    {"no tag", "plain.flac", {"-map_metadata", "-1"}, ""},
    {"no file", "missing.flac", {}, ""},
};
// clang-format on

QByteArray ffprobeLines(const QString& input, const char* entries) {
    QProcess probe;
    probe.start("ffprobe",
                {"-v", "quiet", "-show_entries", entries, "-of", "default=nw=1:nk=1", input});
    probe.waitForFinished(60000);
    return probe.readAllStandardOutput();
}

QByteArray ffprobeLines(const QString& input) {
    const QByteArray file = ffprobeLines(input, "format_tags=genre");
    return file.isEmpty() ? ffprobeLines(input, "stream_tags=genre") : file;
}

} // namespace

class FormatTagsTest : public QObject {
    Q_OBJECT
private slots:
    void sameAsFfprobe_data() { test::addRows(kCases); }
    void sameAsFfprobe() {
        const Case& c = test::currentCase(kCases);
        const QString path = test::tempFile(c.file);
        QFile::remove(path);
        if (!c.args.isEmpty())
            QVERIFY(test::runFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=duration=0.5"} + c.args +
                                    QStringList{path}));
        const QString input = "file:" + path;
        const QByteArray expected = ffprobeLines(input);
        const std::optional<QByteArray> lines = platform::tagLines(input, "genre");
        QCOMPARE(lines.has_value(), !c.args.isEmpty()); // what cannot be opened is said so
        QCOMPARE(lines.value_or(QByteArray()), expected);
        QCOMPARE(QString::fromUtf8(expected), QString::fromUtf8(c.lines));
    }
};

QL_TEST_MAIN_CORE(FormatTagsTest)
#include "FormatTagsTest.moc"
