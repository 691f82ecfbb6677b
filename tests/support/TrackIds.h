// Guards against: (fixture) playback tests that each name their tracks their own way.
// Tracks named by id in the catalog and the visible list of a rig's App, for
// the playback tests: a rig derives from TrackIds<Rig> and has a member `app`.
#pragma once

#include "app/App.h"

#include <QList>

#include <optional>

namespace ql::test {

template <typename Rig> struct TrackIds {
    // A catalog track "T<id>" on `path`.
    void add(qint64 id, const QString& path, double duration = 0) {
        app().library.rows.push_back(
            Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, duration, {}});
    }
    const Track& track(qint64 id) const {
        for (const Track& t : app().library.rows)
            if (t.id == id)
                return t;
        qFatal("no track %lld", qint64(id));
    }
    // The visible list becomes these catalog tracks, in this order.
    void show(const QList<qint64>& ids) {
        std::vector<Track> shown;
        for (qint64 id : ids)
            shown.push_back(track(id));
        app().browser.filtered = shown;
    }
    std::optional<qint64> currentId() const {
        const auto& current = app().playback.current;
        return current ? std::optional(current->id) : std::nullopt;
    }

private:
    App& app() const { return static_cast<const Rig*>(this)->app; }
};

} // namespace ql::test
