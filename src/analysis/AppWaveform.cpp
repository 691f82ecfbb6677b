// ---- analysis: the transport bar's waveform ----
//
// Each track start shows the cached peaks at once, or the flat line at once
// and the peaks once computed. A result is cached whatever plays by then, but
// shown only while its file is still the current track's (compared by path:
// coming back to the same track still shows it).
//
// A computation decodes the whole file, so they run one at a time on a queue
// of their own (never holding the global pool that the quality analysis and
// the probes share). A file being computed is not queued again, and only the
// latest start waits for its turn: skipping through an album computes the
// track that was playing when the queue was free and the one playing when it
// frees up again, not every track passed on the way.
#include "app/App.h"

#include "analysis/ComputeWaveform.h"
#include "analysis/WaveformView.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace ql {

void App::loadWaveform(const Track& track) {
    if (const auto cached = waveCache.constFind(track.path); cached != waveCache.cend()) {
        wave->setPeaks(*cached);
        return;
    }
    wave->setPeaks({});
    if (track.path == waveInFlight)
        return; // shown when it arrives
    if (waveInFlight.isEmpty())
        startWaveform(track);
    else
        waveNext = track;
}

void App::startWaveform(const Track& track) {
    waveInFlight = track.path;
    WaveformOptions options;
    options.program = probeTool(QStringLiteral("ffmpeg"));
    options.duration = track.duration;
    options.registry = children;
    waveQueue->start([app = QPointer<App>(this), path = track.path, options] {
        const WavePeaks peaks = computeWaveform(path, options);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [app, path, peaks] {
                if (app)
                    app->waveformComputed(path, peaks);
            },
            Qt::QueuedConnection);
    });
}

void App::waveformComputed(const QString& path, const WavePeaks& peaks) {
    storeWaveform(waveCache, path, peaks);
    if (playback.current && playback.current->path == path)
        wave->setPeaks(peaks);
    if (path != waveInFlight)
        return;
    waveInFlight.clear();
    // The waiting track runs only if it still plays and nothing computed it.
    if (const std::optional<Track> next = std::exchange(waveNext, std::nullopt);
        next && playback.current && playback.current->path == next->path &&
        !waveCache.contains(next->path))
        startWaveform(*next);
}

} // namespace ql
