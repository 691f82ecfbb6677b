#include "playback/Transport.h"

#include <algorithm>

namespace ql {

namespace {
std::optional<std::size_t> indexOf(const TrackList& tracks, qint64 id) {
    const auto it = std::ranges::find(tracks, id, &Track::id);
    if (it == tracks.end())
        return std::nullopt;
    return std::size_t(it - tracks.begin());
}
} // namespace

void recordHistory(QList<qint64>& history, std::optional<qint64> outgoing, qint64 incoming,
                   bool goingBack) {
    if (goingBack || !outgoing || *outgoing == incoming)
        return;
    appendHistory(history, *outgoing);
}

void appendHistory(QList<qint64>& history, qint64 id) {
    history.append(id);
    if (history.size() > kHistoryLimit)
        history.removeFirst();
}

std::optional<std::size_t> skipIndex(const TrackList& visible, std::optional<qint64> current,
                                     int by) {
    if (visible.empty())
        return std::nullopt;
    const auto count = qint64(visible.size());
    const std::optional<std::size_t> found = current ? indexOf(visible, *current) : std::nullopt;
    const qint64 i = found ? qint64(*found) : (by > 0 ? -1 : 0);
    // A step below -count would leave a negative remainder: fold it back.
    const qint64 step = (i + by) % count;
    return std::size_t(step < 0 ? step + count : step);
}

std::optional<std::size_t> takeHistoryBack(QList<qint64>& history, const TrackList& visible) {
    while (!history.isEmpty()) {
        const qint64 id = history.takeLast();
        if (const std::optional<std::size_t> place = indexOf(visible, id))
            return place;
    }
    return std::nullopt;
}

FileEnd fileEndAction(const FileEndFacts& f) {
    if (!f.fromCurrent)
        return FileEnd::Ignore;
    if (f.repeatOn && f.successfully && f.hasCurrent)
        return FileEnd::Replay;
    if (f.successfully && f.hasQueued)
        return FileEnd::Promote;
    if (!f.successfully)
        return FileEnd::ReportError;
    return FileEnd::Next;
}

QString playingTitle() {
    return QStringLiteral("⏸ 일시정지");
}
QString stoppedTitle() {
    return QStringLiteral("▶ 재생");
}
QString preparingTitle() {
    return QStringLiteral("준비 중…");
}

double speedAt(int index) {
    return kSpeeds[std::size_t(std::clamp(index, 0, int(kSpeeds.size()) - 1))];
}

} // namespace ql
