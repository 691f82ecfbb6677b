#include "playback/Succession.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {
auto byId(qint64 id) {
    return [id](const Track& t) { return t.id == id; };
}
} // namespace

std::optional<Track> peekNext(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                              const TrackList& filtered, const std::optional<Track>& current) {
    for (const qint64 id : radioQueue) {
        const auto it = std::find_if(rows.begin(), rows.end(), byId(id));
        if (it != rows.end())
            return *it;
    }
    if (filtered.empty())
        return std::nullopt;
    std::size_t next = 0;
    if (current) {
        const auto it = std::find_if(filtered.begin(), filtered.end(), byId(current->id));
        if (it != filtered.end())
            next = std::size_t(it - filtered.begin() + 1) % filtered.size();
    }
    return filtered[next];
}

bool nextWrapsAround(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                     const TrackList& filtered, const std::optional<Track>& current) {
    for (const qint64 id : radioQueue)
        if (std::find_if(rows.begin(), rows.end(), byId(id)) != rows.end())
            return false;
    if (!current)
        return false;
    const auto it = std::find_if(filtered.begin(), filtered.end(), byId(current->id));
    return it != filtered.end() && std::size_t(it - filtered.begin()) + 1 == filtered.size();
}

double listeningLeft(double duration, double currentTime, double rate) {
    return (duration - currentTime) / std::max(0.25, rate);
}

bool inArmingWindow(double left) {
    return left > 0.6 && left <= 4.0;
}

bool bitPerfectRefuses(double playingRate, double successorRate) {
    return playingRate > 0 && successorRate > 0 && std::abs(playingRate - successorRate) > 1.0;
}

bool takeRadioHead(QList<qint64>& radioQueue, const std::vector<Track>& rows, qint64 successorId) {
    for (qsizetype i = 0; i < radioQueue.size(); ++i) {
        const qint64 id = radioQueue[i];
        if (std::find_if(rows.begin(), rows.end(), byId(id)) == rows.end())
            continue;
        if (id != successorId)
            return false;
        radioQueue.remove(0, i + 1);
        return true;
    }
    return false;
}

} // namespace ql
