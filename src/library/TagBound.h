// The bound of a tag value where the program reads it: the genre here, the
// title, artist and album in the library backend, whose bounded() keeps the
// same number of characters and cuts the same way. Real values stay far
// below it; a tag of megabytes (a damaged file, a tagger's slip) would
// otherwise go whole into "genres.json", the groupings and the grid's
// labels, and hold the window while it lays the text out.
//
// Pure unit.
#pragma once

#include <QString>
#include <QStringView>

namespace ql {

// Characters (Unicode code points) a value keeps, the cut mark included.
inline constexpr qsizetype kTagLimit = 1000;

// `text` cut to at most kTagLimit characters, "…" marking the cut: a
// character is not parted from the marks that combine with it, nor from a
// joiner's other side, and blanks before the cut go. Only the first
// kTagLimit + 1 characters are looked at. A text within the bound is
// returned as it is.
QString boundedTag(QStringView text);

} // namespace ql
