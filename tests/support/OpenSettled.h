// Guards against: (fixture) a row looking at a play request, the gapless
// check or the player opened ahead in the same turn while the file they
// asked for is still being opened off the main thread.
// Every file of the user's is opened on a pool thread (playback/FileOpen.h):
// a play request waits a short while for its open and otherwise takes its
// road when the open answers; the gapless check and the open ahead ask again
// at a later tick. An ordinary file answers within that short while on an
// idle machine, not always on a busy one, so a row waits for what the
// program does next (as a user would) before it looks: these helpers wait on
// the program's own state, never make an open synchronous. Header only.
#pragma once

#include "app/App.h"
#include "playback/FileOpen.h"
#include "playback/PlaybackState.h"

#include <QDeadlineTimer>
#include <QTest>

#include <algorithm>

#include <memory>
#include <vector>

namespace ql::test {

// Far above any open's own deadline (after which the request is answered
// with a refusal), so that only a program that never answers runs into it.
constexpr int kOpenSettleMs = FileOpen::kLimitMs + 30000;

// The current play request waits for its file's open.
inline bool requestAwaitsOpen(const App& app) {
    return app.playback.openWait.has_value();
}

// The opens still running: neither answered nor past their deadline.
inline std::vector<std::shared_ptr<FileOpen>> opensRunning(const App& app) {
    std::vector<std::shared_ptr<FileOpen>> running;
    for (const std::shared_ptr<FileOpen>& open : app.playback.opens)
        if (!open->answered() && !open->overdue())
            running.push_back(open);
    return running;
}

// Waits until the current play request has taken its road (playing, handed
// to a fallback road, or refused): it no longer waits for its file's open.
// A request that waited left the look ahead to the next tick, which these
// rigs do not run: it is aimed here, as that tick would.
inline bool waitRoadTaken(App& app, int timeoutMs = kOpenSettleMs) {
    if (!requestAwaitsOpen(app))
        return true;
    if (!QTest::qWaitFor([&app] { return !requestAwaitsOpen(app); }, timeoutMs))
        return false;
    app.aimLookAhead();
    return true;
}

// A play request, and the wait until it has taken its road.
inline bool playTaken(App& app, const Track& track, int timeoutMs = kOpenSettleMs) {
    app.play(track);
    return waitRoadTaken(app, timeoutMs);
}

// Runs `check` (the gapless check, the open ahead, the crossfade check) and,
// while an open it may have started still runs, or the check of the source
// of a decode made ahead it was told to wait for, waits for that and runs
// it again, as the next tick would; false when one was still running after
// `timeoutMs`. A check that took its player, or gave up, leaves no open of
// its own running, and a second run of it changes nothing.
template <class Check> bool checkOnceOpened(App& app, Check check, int timeoutMs = kOpenSettleMs) {
    const QDeadlineTimer deadline(timeoutMs);
    const auto stampAwaited = [&app] {
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        return ahead && ahead->awaited;
    };
    check();
    for (;;) {
        if (stampAwaited()) {
            if (!QTest::qWaitFor([&] { return !stampAwaited(); },
                                 int(std::max<qint64>(1, deadline.remainingTime()))))
                return false;
            check();
            continue;
        }
        const std::vector<std::shared_ptr<FileOpen>> running = opensRunning(app);
        if (running.empty())
            return true;
        const bool answered = QTest::qWaitFor(
            [&running] {
                for (const std::shared_ptr<FileOpen>& open : running)
                    if (!open->answered() && !open->overdue())
                        return false;
                return true;
            },
            int(std::max<qint64>(1, deadline.remainingTime())));
        if (!answered)
            return false;
        check();
    }
}

inline bool gaplessCheckOpened(App& app, int timeoutMs = kOpenSettleMs) {
    return checkOnceOpened(
        app, [&app] { app.gaplessCheck(); }, timeoutMs);
}

inline bool openAheadOpened(App& app, int timeoutMs = kOpenSettleMs) {
    return checkOnceOpened(
        app, [&app] { app.openAhead(); }, timeoutMs);
}

} // namespace ql::test
