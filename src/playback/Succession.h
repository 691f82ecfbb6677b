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
// Pure unit: values in, values out.
#pragma once

#include "app/Records.h"

#include <QList>

#include <optional>
#include <vector>

namespace ql {

std::optional<Track> peekNext(const QList<qint64>& radioQueue, const std::vector<Track>& rows,
                              const std::vector<Track>& filtered,
                              const std::optional<Track>& current);

} // namespace ql
