// ---- window: the now-playing info labels ----
//
// At every track start the artist line shows album and artist at once and
// the format line is cleared; the file's stream facts are probed by the
// file's reader (UserFiles) and written into the format line on the main thread, but only
// while that file is still the current track's (a quick skip drops the older
// answer). A probe that finds nothing leaves the line empty. Both labels show
// catalog text as plain text and are never translated.
#include "app/App.h"

#include "analysis/ProbeAudio.h"
#include "app/Delivery.h"
#include "platform/UserFiles.h"

#include <QLabel>

namespace ql {

void App::updateInfoLabels(const Track& track) {
    views.infoLabel->clear();
    views.artistLabel->setText(albumArtistLine(track.album, track.artist));
    const QString path = track.path;
    // A file refused as slow shows no facts.
    platform::UserFiles::read(
        path, [delivery = Delivery(this), analysers = services.analysers, registry = children, path,
               program = probeTool(QStringLiteral("ffprobe"))](const platform::UserFiles::Touch&) {
            ProbeOptions options;
            options.program = program;
            options.registry = registry;
            const StreamFacts facts = analysers->probeAudio(path, options);
            // The facts are the file's: shown while that file plays, from
            // whichever request of it.
            delivery.post([path, facts](App& app) {
                if (app.playback.current && app.playback.current->path == path)
                    app.views.infoLabel->setText(formatLine(facts));
            });
        });
}

} // namespace ql
