// ---- analysis: the transport bar's waveform ----
//
// Each track start shows the cached peaks at once, or the flat line at once
// and starts its own computation on the file's reader (UserFiles). One computation runs
// at a time: a track start stops the one of a track that no longer plays
// (its ffmpeg reads the whole file, minutes of a long track nobody looks at
// any more), so skipping through tracks leaves only the current track's
// reader. A result is cached whatever plays by then, but shown only while
// its file is still the current track's (compared by path: coming back to
// the same track still shows it). The quit ends the decoders (the child
// registry) and a result that comes back after the App is gone is dropped.
#include "app/App.h"

#include "analysis/ComputeWaveform.h"
#include "analysis/WaveformView.h"
#include "app/Delivery.h"
#include "platform/UserFiles.h"

#include <utility>

namespace ql {

void App::loadWaveform(const Track& track) {
    if (const auto cached = waveCache.constFind(track.path); cached != waveCache.cend()) {
        stopWaveform();
        wave->setPeaks(*cached);
        return;
    }
    wave->setPeaks({});
    // The same file again (a restart for new effects, say): its run goes on.
    if (waveRun && waveRun->first == track.path)
        return;
    stopWaveform();
    WaveformOptions options;
    options.program = probeTool(QStringLiteral("ffmpeg"));
    options.duration = track.duration;
    options.registry = children;
    const auto stop = std::make_shared<platform::ChildStop>();
    options.stop = stop;
    waveRun = std::pair(track.path, stop);
    // Kept whatever plays by then: the cache is by path, and the view takes
    // the peaks only while their track is current.
    // A file refused as slow shows no waveform; asked for again, it is tried again.
    const bool asked =
        platform::UserFiles::read(track.path, [delivery = Delivery(this), path = track.path,
                                               options, stop](const platform::UserFiles::Touch&) {
            const WavePeaks peaks = computeWaveform(path, options);
            delivery.post([path, peaks, stop](App& app) {
                if (app.waveRun && app.waveRun->second == stop)
                    app.waveRun.reset();
                app.waveformComputed(path, peaks);
            });
        });
    if (!asked)
        waveRun.reset();
}

void App::stopWaveform() {
    if (const auto run = std::exchange(waveRun, std::nullopt))
        run->second->request();
}

void App::waveformComputed(const QString& path, const WavePeaks& peaks) {
    storeWaveform(waveCache, path, peaks);
    if (playback.current && playback.current->path == path)
        wave->setPeaks(peaks);
}

} // namespace ql
