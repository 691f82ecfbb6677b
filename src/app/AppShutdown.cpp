// ---- app: the quit ----
//
// applicationWillTerminate() runs once, on the main thread, when the
// application quits (the menu, the last window closed, or a terminating
// signal): connected to aboutToQuit at launch. In this order: the cached
// effects render and the decode made ahead are deleted, the output device is given back from
// exclusive use, settings still waiting for their write are written, the stores are written (and
// the last writes of the catalog cache and "genres.json" finished), the helpers are stopped, late
// file imports are invalidated (the one running killed with its process group), the view state is saved (and written at once), the volume-key
// monitors removed, late decode and render results invalidated, the decode and the player stopped,
// the backend detached and its input closed (it saves its cache and exits; the teardown waits for
// that 1 s at most, then kills its process group), the current track's temporary file deleted, and Now Playing cleared. A step whose object is
// absent is skipped; the others still run. Each step is reported to Observer::trace by name as it
// runs.
//
// The device is released before the stores are written, so a slow disk
// never keeps another program waiting for the sound card.
//
// Outputs still being produced by decodes (also those a newer play request
// already terminated) and by renders, and render results not yet taken, are
// deleted too, once their processes have ended: a decode or a render stopped
// mid-way would otherwise leave its partial file in the temporary folder.
// The child programs of renders and probes are ended by the registry's
// terminateAll just before. The sonic analyses then get about 1 s to end:
// their loops stop between files, and their last results are dropped.
//
// The phone remote's server, when one runs, stops listening after the stores
// are written and before the downloader stops; it is not released, so an
// answer already on its way still reaches the phone.
#include "app/App.h"

#include "app/UserDefaults.h"

#include "downloader/FlacFetcher.h"
#include "platform/audio/AudioPlayer.h"
#include "remote/RemoteServer.h"

#include <QCoreApplication>
#include <QFile>

namespace ql {

namespace {
// How long the quit waits for the catalog cache's last write.
constexpr int kCatalogWriteMs = 3000;
// How long it waits for the last write of "genres.json".
constexpr int kGenreWriteMs = 3000;
} // namespace

void App::applicationWillTerminate() {
    if (core.terminated)
        return;
    core.terminated = true;
    PlaybackState& p = playback;

    if (p.fxCache) {
        step("deleteFXCache");
        QFile::remove(p.fxCache->path);
    }
    // A decode made ahead: the prepared player's goes back to the look ahead.
    cancelPrepared();
    dropDecodeAhead();
    step("releaseHog");
    setHog(false, std::nullopt);
    // Settings changed in the last second are still waiting for their write.
    step("syncSettings");
    UserDefaults().sync();
    step("saveExtras");
    saveExtras();
    // "sonic.json" is written: a sonic result arriving from now on would be
    // lost anyway, and one of an analysis the quit cuts short is no result.
    listening.sonicJobs->close();
    // The catalog cache being written, or waiting for its write, is the
    // catalog last shown: it is finished, not cut short.
    catalogWork().finish(kCatalogWriteMs);
    // Likewise "genres.json": the file ends as the last batch left the genres.
    library.saveDueGenres(core.store);
    library.genreSaves->finish(kGenreWriteMs);
    if (remote) {
        step("stopRemote");
        remote->stop();
    }
    step("stopFetcher");
    fetcher->terminateIfRunning();
    step("dropImports");
    ++library.fileOpenGeneration;
    library.importStop->request();
    step("saveViewState");
    saveViewState();
    UserDefaults().sync();
    step("removeVolumeMonitors");
    for (std::unique_ptr<QObject>& monitor : p.volumeMonitors)
        monitor.reset();
    p.volumeMonitors.clear();
    step("bumpGeneration");
    ++p.generation;
    if (const std::optional<RoadDecode> road = std::exchange(p.roadDecode, std::nullopt)) {
        step("stopDecoder");
        stopDecode(road->job);
    }
    if (p.audio) {
        step("stopPlayer");
        p.audio->stop();
    }
    if (library.backend) {
        step("detachBackendOutput");
        step("closeBackendInput");
        stopBackend();
    }
    if (p.cacheURL) {
        step("deleteCacheFile");
        QFile::remove(*p.cacheURL);
    }
    // Renders, probes and waveforms still running are ended now (each child
    // terminated, killed after 1 s), not waited for; their outputs are among
    // the files in flight deleted next, and no child starts after this.
    // A genre scan stops between files instead of running through the
    // catalog with every probe refused.
    library.genreStop->store(true);
    children->terminateAll();
    endSonicJobs();
    if (endDecodes() > 0)
        step("deleteInFlight");
    step("clearNowPlaying");
    clearNowPlaying();
}

int App::endDecodes() {
    // Their completions find nothing of theirs left: their outputs go below.
    if (const std::optional<RoadDecode> road = std::exchange(playback.roadDecode, std::nullopt))
        stopDecode(road->job);
    dropDecodeAhead();
    const QStringList left = playback.inFlight->close();
    for (const QString& path : left)
        QFile::remove(path);
    return int(left.size());
}

} // namespace ql
