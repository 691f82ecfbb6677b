// The arithmetic of the transport: where next and previous land in the
// visible list, how the play history grows and is walked back, what the end
// of a file leads to, and the speed list.
//
// Tracks are the same track when their ids are equal; a track's place in a
// list is its first occurrence there.
//
// Pure unit: values in, values out.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"

#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace ql {

// A play request keeps the history at this many ids.
inline constexpr int kHistoryLimit = 500;
// previous() rewinds the current track instead of going back when it has
// played more than this many seconds.
inline constexpr double kRewindAfter = 3.0;

// The history of a play request from `outgoing` (the current track, if any)
// to `incoming`: the outgoing id is appended unless there is none, it is the
// incoming one (a replay) or the request goes back; then, past
// kHistoryLimit, the oldest id is dropped (one per request).
void recordHistory(QList<qint64>& history, std::optional<qint64> outgoing, qint64 incoming,
                   bool goingBack);

// Appends `id` and drops the oldest past kHistoryLimit. Every road that moves
// to another track (play request, gapless promotion, crossfade) goes through
// here, so a long session of joins cannot grow the history without bound.
void appendHistory(QList<qint64>& history, qint64 id);

// The place in `visible` that a step of `by` from `current` lands on,
// wrapping at both ends (a true modulo, so any step stays in the list).
// Without `current` in the list a forward step starts before the first entry
// and any other step at the first entry: `next` plays the first, `previous`
// the last. None for an empty list.
std::optional<std::size_t> skipIndex(const TrackList& visible, std::optional<qint64> current,
                                     int by);

// Walks the history back for previous() in shuffle mode: removes ids from its
// end until one names a visible track, and gives that track's place. The ids
// passed over are gone; none (and an empty history) when nothing matches.
std::optional<std::size_t> takeHistoryBack(QList<qint64>& history, const TrackList& visible);

// What the end of a file leads to.
enum class FileEnd {
    Ignore,      // not the current player (replaced, cancelled, faded out)
    Replay,      // repeat: the current track again, as a new play request
    Promote,     // the prepared gapless successor takes over
    ReportError, // the player stopped on an error: say so, change nothing
    Next,        // the next track
};
struct FileEndFacts {
    bool fromCurrent = false; // the reporting player is the current one
    bool successfully = false;
    bool repeatOn = false;
    bool hasCurrent = false;
    bool hasQueued = false;
};
FileEnd fileEndAction(const FileEndFacts& facts);

// The play button's titles (it draws its icon from them): while playing,
// while not, and while a track is being prepared.
QString playingTitle();   // "⏸ 일시정지"
QString stoppedTitle();   // "▶ 재생"
QString preparingTitle(); // "준비 중…"

// The speed pop-up's entries, in its order; index 3 is normal speed.
inline constexpr std::array<double, 8> kSpeeds{0.5, 0.75, 0.9, 1.0, 1.1, 1.25, 1.5, 2.0};
// The speed of a pop-up index, clamped into the list.
double speedAt(int index);

} // namespace ql
