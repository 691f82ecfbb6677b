// Guards against: self-test runs that pass when the program is broken, or open files they must not.
#include "app/Validation.h"

#include "NoPrivateBase.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include <cmath>
#include <optional>
#include <vector>

using namespace ql;

namespace {

const QByteArray kPass =
    "PASS: native decode/play/pause/seek/volume and persisted volume across launches\n";
const QByteArray kPassDecoded =
    "PASS: ffmpeg decode, native play/pause/seek/volume and persisted volume across launches\n";

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

QString configDir() {
    return QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/Quavelark";
}
QString suiteFile() {
    return configDir() + "/Quavelark.Validation.conf";
}

// `logRules`: QT_LOGGING_RULES for the run (none: the default levels).
Run quavelark(const QStringList& args, const QString& logRules = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!logRules.isEmpty())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), logRules);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setWorkingDirectory(QDir::tempPath());
    p.start(test::TestHome::buildDir() + "/quavelark", args);
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A second of a 440 Hz tone, stereo at 44.1 kHz, as FLAC of `bits` bits per
// sample: libFLAC writes any size from 4 to 32 bits.
bool writeFlac(const QString& path, unsigned bits) {
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    if (!encoder)
        return false;
    constexpr unsigned kRate = 44100;
    FLAC__stream_encoder_set_channels(encoder, 2);
    FLAC__stream_encoder_set_bits_per_sample(encoder, bits);
    FLAC__stream_encoder_set_sample_rate(encoder, kRate);
    FLAC__stream_encoder_set_streamable_subset(encoder, false); // 15 bits is outside the subset
    bool ok = FLAC__stream_encoder_init_file(encoder, QFile::encodeName(path).constData(), nullptr,
                                             nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    const double peak = std::ldexp(0.5, int(bits) - 1);
    std::vector<FLAC__int32> frames;
    for (unsigned i = 0; i < kRate; ++i) {
        const auto v = FLAC__int32(std::lround(peak * std::sin(2 * M_PI * 440 * i / kRate)));
        frames.push_back(v);
        frames.push_back(-v);
    }
    ok = ok && FLAC__stream_encoder_process_interleaved(encoder, frames.data(), kRate);
    ok = FLAC__stream_encoder_finish(encoder) && ok;
    FLAC__stream_encoder_delete(encoder);
    return ok;
}

} // namespace

class ValidationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        test::AudioShape tone;
        tone.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        tone.signal = test::Signal::Sine;
        tone.frequency = 440;
        tone.frames = 44100;
        QVERIFY(test::writeAudio(QDir::tempPath() + "/tone.wav", tone));
        for (const unsigned bits : {12u, 15u, 20u})
            QVERIFY(writeFlac(QDir::tempPath() + QStringLiteral("/tone%1.flac").arg(bits), bits));
        QVERIFY(test::writeFile(
            QDir::tempPath() + "/tone12-crowded.flac",
            test::withComments(test::readFile(QDir::tempPath() + "/tone12.flac"), 200000)));
        QFile text(QDir::tempPath() + "/notes.flac");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not audio at all\n");
    }
    void init() { QFile::remove(suiteFile()); }

    // Each row is a series of launches from a clean suite; the last one is
    // checked. Every launch must leave the normal settings and the
    // application-support folder alone.
    void launches_data() {
        QTest::addColumn<QList<QStringList>>("runs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<bool>("suiteKept");
        const QStringList save{"--self-test", "--save"};
        const QStringList check{"--self-test", "tone.wav"};
        QTest::newRow("store run")
            << QList<QStringList>{save} << 0 << QByteArray("volume saved\n") << "" << true;
        QTest::newRow("store then check passes")
            << QList<QStringList>{save, check} << 0 << kPass << "" << false;
        QTest::newRow("check without a store run") << QList<QStringList>{check} << 1 << QByteArray()
                                                   << "volume persistence failed" << false;
        QTest::newRow("second check after a pass")
            << QList<QStringList>{save, check, check} << 1 << QByteArray()
            << "volume persistence failed" << false;
        QTest::newRow("no file: opening \"--self-test\" fails")
            << QList<QStringList>{save, {"--self-test"}} << 1 << QByteArray() << "--self-test"
            << true;
        QTest::newRow("a failed check keeps the setting for the next")
            << QList<QStringList>{save, {"--self-test"}, check} << 0 << kPass << "" << false;
        QTest::newRow("text file named .flac")
            << QList<QStringList>{save, {"--self-test", "notes.flac"}} << 1 << QByteArray()
            << "notes.flac" << true;
    }
    void launches() {
        QFETCH(QList<QStringList>, runs);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        QFETCH(bool, suiteKept);
        Run last;
        for (const QStringList& args : runs) {
            last = quavelark(args);
            QVERIFY2(!QFile::exists(configDir() + "/Quavelark.conf"), "normal settings created");
            QVERIFY2(
                !QDir(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Quavelark").exists(),
                "application-support folder created");
        }
        QCOMPARE(last.exitCode, exitCode);
        QCOMPARE(last.out, out);
        QVERIFY2(QString::fromUtf8(last.err).contains(err), last.err.constData());
        if (exitCode != 0)
            QVERIFY2(last.err.contains("self-test failed"), last.err.constData());
        QCOMPARE(QFile::exists(suiteFile()), suiteKept);
        // A pass on the simulated device says so, on standard error only.
        if (out == kPass)
            QVERIFY(last.err.contains("simulated output device"));
    }

    // The self-test plays, pauses and seeks on the simulated device: with the
    // debug lines asked for in the environment, standard error tells the
    // device's opening; at the default levels it does not. (That a normal
    // play prints nothing at all is checked on a device that keeps no time of
    // its own: a real-time one may genuinely run dry on a loaded machine.)
    void logRulesReachStandardError_data() {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("told");
        QTest::newRow("debug asked for") << "quavelark.*.debug=true" << true;
        QTest::newRow("default levels") << "" << false;
    }
    void logRulesReachStandardError() {
        QFETCH(QString, rules);
        QFETCH(bool, told);
        QCOMPARE(quavelark({"--self-test", "--save"}).exitCode, 0);
        const Run r = quavelark({"--self-test", "tone.wav"}, rules);
        QCOMPARE(r.out, kPass);
        QCOMPARE(r.err.contains("quavelark.audio: device ") && r.err.contains(" opened at "), told);
    }

    // The file takes the window's roads: what our player reads itself plays
    // directly, what it does not (FLAC of 12, 15 or 20 bits) through ffmpeg's
    // decode; a pass names the road, its line says who decoded the file, and
    // the decode leaves no file behind.
    void takesTheWindowsRoads_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("road");
        QTest::addColumn<QByteArray>("pass"); // empty: the check fails
        QTest::addColumn<bool>("noFolder");   // no private folder can be made anywhere
        QTest::newRow("16-bit WAV plays directly")
            << "tone.wav" << QByteArray("road: direct") << kPass << false;
        QTest::newRow("12-bit FLAC plays decoded")
            << "tone12.flac" << QByteArray("road: decode") << kPassDecoded << false;
        QTest::newRow("15-bit FLAC plays decoded")
            << "tone15.flac" << QByteArray("road: decode") << kPassDecoded << false;
        QTest::newRow("20-bit FLAC plays decoded")
            << "tone20.flac" << QByteArray("road: decode") << kPassDecoded << false;
        QTest::newRow("12-bit FLAC, no private folder anywhere: not decoded into a shared one")
            << "tone12.flac" << QByteArray("decode road: no private folder") << QByteArray()
            << true;
        // Its 200,000 comments are not ffmpeg's to parse (for minutes), and
        // our reader does not take 12 bits: no road at all.
        QTest::newRow("12-bit FLAC with 200,000 comments is refused undecoded")
            << "tone12-crowded.flac" << QByteArray("self-test failed: Cannot read") << QByteArray()
            << false;
    }
    void takesTheWindowsRoads() {
        QFETCH(QString, file);
        QFETCH(QByteArray, road);
        QFETCH(QByteArray, pass);
        QFETCH(bool, noFolder);
        QCOMPARE(quavelark({"--self-test", "--save"}).exitCode, 0);
        std::optional<test::NoPrivateBase> none;
        if (noFolder) {
            none.emplace(true);
            QVERIFY(none->ok);
            none->applyHere();
        }
        const Run r = quavelark({"--self-test", file});
        QVERIFY2((r.exitCode == 0) == !pass.isEmpty(), r.err.constData());
        QCOMPARE(r.out, pass);
        QVERIFY2(r.err.contains(road), r.err.constData());
        QCOMPARE(test::ourFiles({QStringLiteral("Quavelark-*")}), QStringList());
    }

    // A store run whose setting cannot reach the disk must not say it did.
    void storeThatCannotBeWrittenFails() {
        QDir().rmpath(configDir());
        QDir().mkpath(QFileInfo(configDir()).path());
        QFile blocker(configDir()); // a file where the settings folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Run r = quavelark({"--self-test", "--save"});
        QFile::remove(configDir());
        QVERIFY(r.exitCode != 0);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.contains("could not store"), r.err.constData());
    }

    void volumeCheck_data() {
        QTest::addColumn<float>("reported");
        QTest::addColumn<bool>("passes");
        QTest::newRow("exact") << 0.37f << true;
        QTest::newRow("0.375 is within 0.01") << 0.375f << true;
        QTest::newRow("0.385 is not") << 0.385f << false;
        QTest::newRow("never set") << 1.0f << false;
    }
    void volumeCheck() {
        QFETCH(float, reported);
        QFETCH(bool, passes);
        QCOMPARE(volumeReadsBack(reported), passes);
    }
};

QL_TEST_MAIN_CORE(ValidationTest)
#include "ValidationTest.moc"
