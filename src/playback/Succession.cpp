#include "playback/Succession.h"

#include <algorithm>

namespace ql {

namespace {
auto byId(qint64 id) {
    return [id](const Track& t) { return t.id == id; };
}
} // namespace

std::optional<Track> peekNext(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                              const std::vector<Track>& filtered,
                              const std::optional<Track>& current) {
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

} // namespace ql
