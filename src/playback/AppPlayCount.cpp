// ---- play counting: the first playback check of every tick ----
#include "app/App.h"

#include "playback/PlayCount.h"

#include <QDateTime>

namespace ql {

void App::countTick() {
    const std::optional<double> duration = audioDuration();
    countTick(duration.has_value() && isPlaying(), duration.value_or(0.0),
              double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
}

void App::countTick(bool playing, double duration, double now) {
    if (!playing || !playback.current || playback.counted)
        return;
    if (!advancePlayCount(playback.playedSecs, playback.counted, duration))
        return;
    recordPlay(playback.stats, playback.current->path, now);
    // Written at once, so a crash later in the run keeps the count.
    playback.statsDirty = !core.store.save(QString::fromLatin1(stores::kPlayStats), playback.stats);
}

} // namespace ql
