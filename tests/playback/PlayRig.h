// A controller on the simulated two-device rig with a small catalog of
// generated WAV files, for the play-request and transport tests. The devices
// run on the manual clock: nothing advances or ends unless a test says so, so
// positions stay where a test puts them. Header only; link ql_app.
#pragma once

#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/PlayButton.h"
#include "ui/l10n/L10n.h"

#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>

#include <sndfile.h>

namespace ql::test {

// Five seconds of 16-bit stereo noise at `rate`, written once per path.
inline QString generatedWav(const QString& name, int rate = 44100) {
    const QString path = QDir::temp().filePath(name);
    if (!QFile::exists(path)) {
        AudioSpec spec;
        spec.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        spec.rate = rate;
        spec.frames = 5 * rate;
        if (!writeAudio(path, spec))
            qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// A file no audio library reads.
inline QString garbageFile(const QString& name) {
    const QString path = QDir::temp().filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("not audio at all") < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

inline Track catalogTrack(qint64 id, const QString& path) {
    return Track{
        id, path, QStringLiteral("Title %1").arg(id), QStringLiteral("Artist %1").arg(id), {},
        5,  {}};
}

struct PlayRig {
    RiggedApp rig{twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}}};
    App& app = rig.app;
    // Tracks 1 … 3 on 44.1 kHz files, 4 on a 48 kHz file, 5 on a file that
    // does not open; all in the catalog.
    std::vector<Track> tracks;
    // The roads the play requests took, in order ("render" / "decode").
    QStringList roads;

    PlayRig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        for (qint64 id = 1; id <= 3; ++id)
            tracks.push_back(catalogTrack(id, generatedWav(QStringLiteral("t%1.wav").arg(id))));
        tracks.push_back(catalogTrack(4, generatedWav(QStringLiteral("t4-48k.wav"), 48000)));
        tracks.push_back(catalogTrack(5, garbageFile(QStringLiteral("t5.wav"))));
        app.library.rows = tracks;
        app.browser.filtered = {tracks[0], tracks[1], tracks[2]};
        app.seams.fallbackRoad = [this](const char* road, const Track&, quint64) {
            roads << QString::fromLatin1(road);
        };
    }

    const Track& track(qint64 id) const { return tracks[std::size_t(id - 1)]; }
    // The visible list, by ids.
    void show(std::initializer_list<qint64> ids) {
        app.browser.filtered.clear();
        for (qint64 id : ids)
            app.browser.filtered.push_back(track(id));
    }
    // Plays track `id`, then holds its player paused at `seconds`.
    void playPausedAt(qint64 id, double seconds) {
        app.play(track(id));
        app.playback.audio->pause();
        app.playback.audio->setCurrentTime(seconds);
    }
    std::optional<qint64> currentId() const {
        return app.playback.current ? std::optional(app.playback.current->id) : std::nullopt;
    }
    QString buttonTitle() const { return app.views.playButton->title(); }
};

} // namespace ql::test
