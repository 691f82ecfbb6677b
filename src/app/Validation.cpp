#include "app/Validation.h"

#include "app/CommandLine.h"
#include "platform/SystemPlatform.h"
#include "platform/audio/AudioPlayer.h"

#include <QFile>
#include <QSettings>
#include <QThread>

#include <cmath>
#include <cstdio>

namespace ql {

namespace {

const char* const kPassLine =
    "PASS: native decode/play/pause/seek/volume and persisted volume across launches\n";
const QString kVolumeKey = QStringLiteral("playerVolume");
constexpr double kStoredVolume = 37.0;

int fail(const QString& what) {
    std::fprintf(stderr, "self-test failed: %s\n", qUtf8Printable(what));
    return 1;
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

    platform::Platform platform = platform::makeSystemPlatform();
    auto opened = platform::AudioPlayer::open(*platform.outputs, validationFile(args));
    if (!opened.player)
        return fail(opened.error);
    platform::AudioPlayer& player = *opened.player;

    player.setVolume(0.0f);
    player.prepareToPlay();
    if (!(player.duration() > 0))
        return fail(QStringLiteral("duration check: the player reports no duration"));
    if (!player.play())
        return fail(QStringLiteral("play check: %1").arg(player.lastError()));
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

    if (platform.isSimulated)
        std::fputs("note: played on the simulated output device (no sound card)\n", stderr);
    std::fputs(kPassLine, stdout);
    return 0;
}

} // namespace ql
