#include "app/Validation.h"

#include "app/CommandLine.h"
#include "app/DecodeCommand.h"
#include "app/WorkFolder.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/SystemPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FfmpegGate.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>
#include <QUuid>

#include <cmath>
#include <cstdio>

namespace ql {

namespace {

// The pass line names who decoded the file: our player reading it itself,
// or the ffmpeg program before our player played its output.
const char* const kPassDirect =
    "PASS: native decode/play/pause/seek/volume and persisted volume across launches\n";
const char* const kPassDecoded = "PASS: ffmpeg decode, native play/pause/seek/volume and "
                                 "persisted volume across launches\n";
const QString kVolumeKey = QStringLiteral("playerVolume");
constexpr double kStoredVolume = 37.0;

// The decode may take as long as a long file needs; the window waits for it
// without a limit, the check only so that it cannot hang for ever.
constexpr int kDecodeLimitMs = 30 * 60 * 1000;

int fail(const QString& what) {
    std::fprintf(stderr, "self-test failed: %s\n", qUtf8Printable(what));
    return 1;
}

// The decode road as the window takes it: ffmpeg writes the first audio
// stream as float PCM into a private temporary file, which then plays.
struct Decoded {
    std::unique_ptr<WorkFolder> folder; // removes the file with it
    QString file;
    QString error;
};

Decoded decode(const QString& path) {
    Decoded d;
    d.folder = WorkFolder::open();
    // Never straight into a folder others can write: no private folder, no decode.
    if (!d.folder) {
        d.error = QStringLiteral("decode road: no private folder for its file can be made");
        return d;
    }
    d.file = decodeOutputPath(d.folder->path(), QUuid::createUuid());
    if (!reserveFile(d.file)) {
        d.error = QStringLiteral("decode road: cannot make %1").arg(d.file);
        return d;
    }
    platform::ChildOptions options;
    options.timeoutMs = kDecodeLimitMs;
    options.discardStdout = true;
    const platform::ChildRun run =
        platform::runChild(toolPath(QStringLiteral("ffmpeg")),
                           decodeArguments(path, d.file, QDir::currentPath()), options);
    if (!run.succeeded()) {
        QFile::remove(d.file);
        d.error = !run.started
                      ? QStringLiteral("decode road: ffmpeg did not start: %1").arg(run.errorText)
                      : QStringLiteral("decode road: ffmpeg could not decode the file");
    }
    return d;
}

} // namespace

bool volumeReadsBack(float reported) {
    return std::fabs(reported - 0.37f) < 0.01f;
}

int runValidation(const QStringList& args) {
    QSettings suite(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quavelark"),
                    QStringLiteral("Quavelark.Validation"));

    if (isSaveRun(args)) {
        suite.setValue(kVolumeKey, kStoredVolume);
        suite.sync();
        // A store that did not reach the disk must not claim it did.
        if (suite.status() != QSettings::NoError)
            return fail(
                QStringLiteral("could not store the test setting in %1").arg(suite.fileName()));
        std::fputs("volume saved\n", stdout);
        return 0;
    }

    bool isNumber = false;
    const double stored = suite.value(kVolumeKey, 0.0).toDouble(&isNumber);
    if (!isNumber || stored != kStoredVolume)
        return fail(QStringLiteral("volume persistence failed"));

    // The roads of the window: the file itself when our player opens and
    // starts it, else ffmpeg's decode of it. Only a file that neither plays
    // is refused, with both reasons.
    platform::Platform platform = platform::makeSystemPlatform();
    const QString file = validationFile(args);
    auto opened = platform::AudioPlayer::openPlayable(*platform.outputs, file);
    QString directError = opened.error;
    if (opened.player) {
        opened.player->setVolume(0.0f);
        opened.player->prepareToPlay();
        if (!opened.player->play()) {
            directError = QStringLiteral("play check: %1").arg(opened.player->lastError());
            opened.player.reset();
        }
    }
    const char* road = "direct (the player reads the file itself)";
    const char* passLine = kPassDirect;
    Decoded decoded;
    if (!opened.player) {
        road = "decode (ffmpeg decodes the file, then the player plays that)";
        passLine = kPassDecoded;
        // As the window does: a file ffmpeg must not read is refused.
        if (opened.keptFromFfmpeg || platform::FfmpegGate::kept(file))
            return fail(directError);
        decoded = decode(file);
        if (!decoded.error.isEmpty())
            return fail(QStringLiteral("%1; %2").arg(directError, decoded.error));
        opened = platform::AudioPlayer::openPlayable(*platform.outputs, decoded.file);
        if (!opened.player)
            return fail(QStringLiteral("%1; decode road: %2").arg(directError, opened.error));
        opened.player->setVolume(0.0f);
        opened.player->prepareToPlay();
        if (!opened.player->play())
            return fail(QStringLiteral("%1; decode road: play check: %2")
                            .arg(directError, opened.player->lastError()));
    }
    platform::AudioPlayer& player = *opened.player;
    QThread::msleep(100);
    player.pause();
    if (player.isPlaying())
        return fail(QStringLiteral("pause check: the player still plays after pause"));
    player.setCurrentTime(0.2);
    player.setVolume(0.37f);
    if (!volumeReadsBack(player.volume()))
        return fail(QStringLiteral("volume check: set 0.37, read back %1").arg(player.volume()));
    player.stop();

    suite.clear();
    suite.sync();
    if (QFile::exists(suite.fileName()) && !QFile::remove(suite.fileName()))
        return fail(QStringLiteral("could not remove the test setting %1").arg(suite.fileName()));

    std::fprintf(stderr, "road: %s\n", road);
    if (platform.isSimulated)
        std::fputs("note: played on the simulated output device (no sound card)\n", stderr);
    std::fputs(passLine, stdout);
    return 0;
}

} // namespace ql
