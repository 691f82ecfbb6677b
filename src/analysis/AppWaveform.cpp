// ---- analysis: the transport bar's waveform ----
//
// Each track start shows the cached peaks at once, or the flat line at once
// and starts its own computation on the shared pool: several may run side by
// side after quick skips, so the track that is current never waits for the
// decode of one that was skipped, and every track that was current gets its
// peaks. A result is cached whatever plays by then, but shown only while its
// file is still the current track's (compared by path: coming back to the
// same track still shows it). The quit ends the decoders (the child registry)
// and a result that comes back after the App is gone is dropped.
#include "app/App.h"

#include "analysis/ComputeWaveform.h"
#include "analysis/WaveformView.h"
#include "app/Delivery.h"

#include <QThreadPool>

namespace ql {

void App::loadWaveform(const Track& track) {
    if (const auto cached = waveCache.constFind(track.path); cached != waveCache.cend()) {
        wave->setPeaks(*cached);
        return;
    }
    wave->setPeaks({});
    WaveformOptions options;
    options.program = probeTool(QStringLiteral("ffmpeg"));
    options.duration = track.duration;
    options.registry = children;
    // Kept whatever plays by then: the cache is by path, and the view takes
    // the peaks only while their track is current.
    QThreadPool::globalInstance()->start([delivery = Delivery(this), path = track.path, options] {
        const WavePeaks peaks = computeWaveform(path, options);
        delivery.post([path, peaks](App& app) { app.waveformComputed(path, peaks); });
    });
}

void App::waveformComputed(const QString& path, const WavePeaks& peaks) {
    storeWaveform(waveCache, path, peaks);
    if (playback.current && playback.current->path == path)
        wave->setPeaks(peaks);
}

} // namespace ql
