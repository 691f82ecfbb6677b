// What the track table shows in its cells and what a double-click on a cell
// or on a column title asks for, by column identifier ("title", "artist",
// "album", "format", "quality", "duration").
//
// Pure unit: the track and the facts the caller looked up come in, texts and
// filters go out. The quality label is looked up (and a probe started) by the
// caller, since that has effects.
#pragma once

#include "app/Records.h"
#include "ui/CatalogFilter.h"

#include <QString>

#include <optional>

namespace ql {

// Shown in the quality column while a file's label is not known.
inline const QString kQualityPending = QStringLiteral("…");

// The file's extension in upper case ("flac" -> "FLAC"); "" without one.
QString formatText(const QString& path);

// The text of one cell. "title": "♥ " before the title of a favourite;
// "artist", "album": as stored; "duration": m:ss (TimeText.h); "quality":
// `quality` as given; any other identifier: the format text.
QString trackCellText(const QString& identifier, const Track& track, bool favorite,
                      const QString& quality);

// A double-click on a row's cell: the album or artist cell of a track with a
// non-empty value filters by it; anything else (another column, an empty
// value, a click beside the columns: identifier "") gives none, which plays
// the row.
std::optional<CellFilter> rowDoubleClickFilter(const QString& identifier, const Track& track);

// A double-click on a column title, for the chosen track: "title", "artist",
// "album" filter by the track's value, "format" by "." and the lower-case
// extension; an empty value, a file without extension and every other column
// give none (nothing happens).
std::optional<CellFilter> headerDoubleClickFilter(const QString& identifier, const Track& track);

} // namespace ql
