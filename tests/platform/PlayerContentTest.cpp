// What the player makes of files that are awkward to play: a FLAC written
// through a pipe, which stores no length.
#include "PlayerRig.h"

#include <sndfile.h>

#include <QProcess>
#include <QTest>

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

// `wav` encoded by ffmpeg to FLAC on its standard output, which it cannot
// seek back on to store the length.
bool pipedFlac(const QString& wav, const QString& flac) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(flac);
    p.start(QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", wav, "-c:a", "flac", "-f", "flac", "pipe:1"});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class PlayerContentTest : public QObject {
    Q_OBJECT
private slots:
    // The whole file plays, from where it was placed, and ends normally; the
    // length is the decoded one once the end was reached.
    void aFileWithoutStoredLengthPlaysToItsEnd_data() {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<qint64>("from");
        QTest::newRow("1 s") << qint64(44100) << qint64(0);
        QTest::newRow("61 s") << qint64(44100 * 61) << qint64(0);
        QTest::newRow("61 s, placed at 30 s") << qint64(44100 * 61) << qint64(44100 * 30 + 7);
    }
    void aFileWithoutStoredLengthPlaysToItsEnd() {
        QFETCH(qint64, frames);
        QFETCH(qint64, from);
        test::AudioShape shape;
        shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        shape.frames = frames;
        const QString wav = test::tempFile("piped.wav"), flac = test::tempFile("piped.flac");
        QVERIFY(test::writeAudio(wav, shape));
        QVERIFY(pipedFlac(wav, flac));
        const test::Samples want = test::readSamples(wav);

        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        auto player = rig.open(flac);
        QVERIFY(player);
        test::Finishes fin(*player);
        if (from > 0)
            player->setCurrentTime(double(from) / 44100);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 60000);
        QCOMPARE(player->duration(), double(frames) / 44100);
        const auto heard = rig.b->recordedInt32(0);
        QCOMPARE(qint64(heard.size()), 2 * (frames - from));
        // A start placed by the user fades in over 5 ms (221 frames).
        const std::vector<std::int32_t> tail(want.data.begin() + 2 * from, want.data.end());
        QVERIFY(test::equalWithFadeIn(heard, tail, 0, 2, from > 0 ? 221 : 0, 1 << 16));
    }
};

QTEST_GUILESS_MAIN(PlayerContentTest)
#include "PlayerContentTest.moc"
