// Which track plays next, read without changing anything.
//
// The radio queue comes first: its first id that names a catalog track (the
// first track in `rows` with that id) is the answer; ids naming nothing are
// passed over and left where they are. Otherwise the visible list decides:
// the entry after the current track (by id, its first occurrence), wrapping
// from the last entry to the first; the first entry when there is no current
// track or it is not visible. A list holding only the current track gives
// that track again. Nothing when the queue resolves to nothing and the list
// is empty. Repeat and shuffle are not looked at: shuffle is the list's
// order, repeat is the callers' business.
//
// The gapless arming rules are here too: how much listening is left at the
// player's speed, the window in which a successor is armed, and what arming
// takes off the radio queue.
//
// Pure unit: values in, values out.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"

#include <QList>

#include <optional>
#include <vector>

namespace ql {

std::optional<Track> peekNext(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                              const TrackList& filtered, const std::optional<Track>& current);

// The next track would come round again to the top of the visible list:
// no track of the radio queue comes first, and `current` is the list's last
// entry (its only one, or the last of several). False when `current` is not
// in the list.
bool nextWrapsAround(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                     const TrackList& filtered, const std::optional<Track>& current);

// Seconds of listening left before the end: the source time left divided
// by the speed, a speed below 0.25 counting as 0.25.
double listeningLeft(double duration, double currentTime, double rate);

// A successor is armed with more than 0.6 s and at most 4.0 s left: early
// enough for the player to be ready, late enough to be opened only once.
bool inArmingWindow(double left);

// In bit-perfect mode a successor whose source rate is more than 1 Hz from
// the playing one's is not armed: the device runs at the playing rate. A rate
// that is not known (0 or less) refuses nothing.
bool bitPerfectRefuses(double playingRate, double successorRate);

// Arming `successorId`: when the radio queue gave it (its first id naming a
// catalog track is that id), that id and the ids naming nothing in front of
// it leave the queue, as the next-track action would drop them, and the
// answer is true. Otherwise the queue is left as it is and the answer false.
bool takeRadioHead(QList<qint64>& radioQueue, const std::vector<Track>& rows, qint64 successorId);

} // namespace ql
