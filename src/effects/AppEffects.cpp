// ---- effects: the render identity, the render cache and the prefetch ----
//
// Every field of the cache (`fxCache`, `fxRendering`) is read and written
// here on the main thread. A render job gets a snapshot of what it needs
// (renderSnapshot) and hands its result back through the main queue, where
// the render key decides: a prefetch result that no longer matches the
// current settings is deleted. A file belongs to one holder at a time: the
// render, then the cache entry or the playback engine; whoever lets go of it
// without passing it on deletes it.
//
// Upsampling alone sends a track down the effects road when its source rate
// has a target among the device's rates (upsampleTarget, RateMatch.h); the
// source rate is read once per path and kept for the run (trackRate): from
// the stream's header by the player's own reader, which opens the file off
// the main thread (AppFileOpens.cpp), else asked of ffprobe off the main
// thread; either answer counts from when it comes. Whoever acts on a track
// about to play looks its rate up first (lookUpRate); fxNeeded only reads
// what is known.
#include "app/App.h"

#include "analysis/ProbeAudio.h"
#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "effects/FXPanel.h"
#include "library/ToolPaths.h"
#include "platform/PluginHost.h"
#include "platform/UserFiles.h"
#include "playback/RateMatch.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <utility>

namespace ql {

namespace {
// Play renders go before prefetches on the render queue.
constexpr int kPlayPriority = 1;
constexpr int kPrefetchPriority = 0;
} // namespace

void App::fxChanged() {
    PlaybackState& p = playback;
    if (p.fxCache) {
        QFile::remove(p.fxCache->path);
        p.fxCache.reset();
    }
    if (!p.current)
        return;
    if (p.audio)
        p.pendingSeek = audioCurrentTime().value_or(0.0);
    cancelPrepared();
    const bool effects = fxChainActive().has_value();
    play(*p.current);
    // Said after the request, so the render road's shorter "applying" gives
    // way to the one that explains the pause; a request that already failed
    // keeps its own message.
    if (p.loading || isPlaying())
        status->setStringValue(L10n::tr(
            effects
                ? QStringLiteral("🎛 사운드 효과 적용 중… (잠시 소리가 멈췄다 "
                                 "이어집니다)")
                : QStringLiteral("🎛 사운드 효과를 껐습니다.")));
}

void App::toggleFXPanel() {
    fxPanel->toggle();
}

std::optional<QString> App::fxSignature() const {
    return services.analysers->fxSignature(*this);
}

bool App::fxNeeded(const std::optional<Track>& track) const {
    if (playback.bitPerfect)
        return false;
    if (fxSignature())
        return true;
    // Without a device there is no target, and no reason to probe the file.
    if (effUpMode() > 0 && track && outputDeviceID())
        return upsampleTarget(trackRate(*track)).has_value();
    return false;
}

std::optional<QString> App::fxChainActive() const {
    if (playback.bitPerfect)
        return std::nullopt;
    std::optional<QString> signature = fxSignature();
    if (const int up = effUpMode(); up > 0)
        return signature.value_or(QStringLiteral("-")) + QStringLiteral("|up") +
               QString::number(up);
    return signature;
}

QString App::fxKey(const Track& track, const QString& signature) {
    return track.path + u'|' + signature;
}

std::optional<double> App::upsampleTarget(double rate) const {
    const int mode = effUpMode();
    const std::optional<platform::DeviceId> device = outputDeviceID();
    if (mode <= 0 || !device)
        return std::nullopt;
    const std::vector<double> rates = supportedRates(*device);
    return services.analysers->upsampleTarget(rate, mode, rates);
}

double App::trackRate(const Track& track) const {
    const PlaybackState& p = playback;
    if (const auto known = p.rateCache.constFind(track.path); known != p.rateCache.constEnd())
        return *known;
    // Read from the stream's header by the player's own reader, once its
    // open has answered (lookUpRate starts it).
    if (const std::shared_ptr<FileOpen> open = p.opens.value(track.path))
        return open->rate();
    return 0;
}

void App::probeOffMain(const QString& path,
                       std::function<void(App&, const StreamFacts&, bool cutShort)> done) {
    ProbeOptions options;
    options.program = probeTool(QStringLiteral("ffprobe"));
    options.registry = children;
    const Delivery delivery(this);
    const bool asked =
        platform::UserFiles::read(path, [delivery, analysers = services.analysers, options, path,
                                         done](const platform::UserFiles::Touch&) {
            bool cutShort = false;
            ProbeOptions asked = options;
            asked.cutShort = &cutShort;
            const StreamFacts facts = analysers->probeAudio(path, asked);
            delivery.post([done, facts, cutShort](App& app) { done(app, facts, cutShort); });
        });
    // A file refused as slow: a run cut short, which says nothing lasting.
    if (!asked)
        delivery.post([done](App& app) { done(app, StreamFacts(), true); });
}

void App::probeRate(const QString& path) {
    playback.rateProbing.insert(path);
    probeOffMain(path, [path](App& app, const StreamFacts& facts, bool cutShort) {
        app.rateProbed(path, facts.rate, cutShort);
    });
}

void App::rateProbed(const QString& path, double rate, bool cutShort) {
    PlaybackState& p = playback;
    p.rateProbing.remove(path);
    // A run cut short says nothing lasting about the file: no rate is kept.
    if (cutShort) {
        p.rateCutShort.insert(path);
        return;
    }
    p.rateCache.insert(path, rate);
    // The look ahead at the successor chose its road without the rate: a
    // render made ahead may be called for now, in place of its decode.
    if (p.aheadAim == path) {
        p.aheadAim.reset();
        aimLookAhead();
    }
    if (!p.current || p.current->path != path)
        return;
    // A request still waiting for its decode was sent down a road without
    // upsampling for want of the rate: it is sent again, now with it.
    if (p.loading && !p.bitPerfect && !fxSignature() && upsampleTarget(rate)) {
        qCDebug(lcPlayback, "the rate of %s came; its request takes the upsampling road",
                qUtf8Printable(path));
        play(*p.current);
    }
}

RenderSnapshot App::renderSnapshot(const Track& track) const {
    RenderSnapshot s;
    s.path = track.path;
    s.duration = track.duration;
    s.chain = fxPanel->chain();
    s.plugins = fxPanel->activePlugins();
    s.upMode = effUpMode();
    if (const std::optional<platform::DeviceId> device = outputDeviceID())
        s.deviceRates = supportedRates(*device);
    s.ffmpeg = services.tools->decodeProgram();
    s.tempDir = workDir();
    s.currentDir = QDir::currentPath();
    s.children = children;
    s.inFlight = playback.inFlight;
    s.seats = playback.writerSeats;
    s.stages.upsampleTarget = [analysers = services.analysers](double rate, int mode,
                                                               const std::vector<double>& rates) {
        return analysers->upsampleTarget(rate, mode, rates);
    };
    return s;
}

void App::queueRender(const RenderSnapshot& snapshot, bool prefetch,
                      std::function<void(const RenderResult&)> done) {
    const std::function<RenderResult(const RenderSnapshot&)> renderer =
        [analysers = services.analysers](const RenderSnapshot& s) {
            return analysers->renderFX(s);
        };
    // The job outlives nothing it reads: App waits for the render queue when
    // it goes, and the quit has ended the job's children by then. A render
    // overtaken by a newer play request still comes back, as `done` must take
    // its file back from the files in flight and delete it.
    //
    // The source is first touched by its reader (UserFiles), never on the
    // render queue: a source its disk holds holds no other render or decode.
    const int priority = prefetch ? kPrefetchPriority : kPlayPriority;
    const Delivery delivery(this);
    const bool asked =
        platform::UserFiles::read(snapshot.path, [snapshot, renderer, done, delivery,
                                                  priority](const platform::UserFiles::Touch&) {
            delivery.post([snapshot, renderer, done, delivery, priority](App& app) {
                app.renderQueue->start(
                    [snapshot, renderer, done, delivery] {
                        RenderResult result = renderer(snapshot);
                        // The quit took the files in flight: this one is ours to delete.
                        if (result.file && !snapshot.inFlight->add(*result.file)) {
                            QFile::remove(*result.file);
                            return;
                        }
                        delivery.post([done, result](App&) { done(result); });
                    },
                    priority);
            });
        });
    if (!asked) {
        RenderResult refused;
        refused.tooSlow = true;
        delivery.post([done, refused](App&) { done(refused); });
    }
}

void App::discoverPlugins() {
    // Ahead of any render: a render queued meanwhile waits the short while.
    renderQueue->start(
        [delivery = Delivery(this)] {
            std::shared_ptr<platform::PluginHost> host = platform::makePluginHost();
            // The list is made on first ask; ask here, off the main thread,
            // as describing a large collection takes a while.
            host->installedEffects();
            delivery.post([host](App& app) {
                app.pluginHost = host;
                app.fxPanel->setHost(host);
            });
        },
        kPlayPriority + 1);
}

void App::prefetchFX(const Track& track) {
    PlaybackState& p = playback;
    const std::optional<QString> identity =
        fxNeeded(track) ? fxChainActive() : std::optional<QString>();
    const std::optional<QString> key =
        identity ? std::optional(fxKey(track, *identity)) : std::nullopt;
    if (key && ((p.fxCache && p.fxCache->key == key) || p.fxRendering == key))
        return;
    // The render ahead of a track that no longer plays next is of no use.
    if (p.fxRendering) {
        p.fxPrefetchStop->request();
        p.fxRendering.reset();
    }
    if (!key)
        return;
    p.fxRendering = key;
    RenderSnapshot snapshot = renderSnapshot(track);
    p.fxPrefetchStop = snapshot.stop;
    queueRender(snapshot, true, [this, key = *key, track](const RenderResult& result) {
        prefetchFinished(key, track, result);
    });
}

void App::prefetchFinished(const QString& key, const Track& track, const RenderResult& result) {
    PlaybackState& p = playback;
    // A newer prefetch may be running under another key: its mark stays.
    if (p.fxRendering == key)
        p.fxRendering.reset();
    // The quit deleted it already: nothing of it is ours any more.
    if (result.file && !p.inFlight->take(*result.file))
        return;
    if (!result.file)
        return;
    const std::optional<QString> identity = fxChainActive();
    if (!identity || fxKey(track, *identity) != key) {
        QFile::remove(*result.file);
        return;
    }
    if (p.fxCache)
        QFile::remove(p.fxCache->path);
    p.fxCache = RenderCacheEntry{key, *result.file, result.note};
}

} // namespace ql
