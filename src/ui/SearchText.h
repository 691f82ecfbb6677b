// Loose comparison of names: the one normalisation every search and grouping of
// the program compares through, and the search match of one track.
//
// Pure unit, thread-safe, no state.
//
// normalizedSearch: two texts that differ only in letter case, accents and
// other nonspacing marks, full-width/half-width form or Unicode composition
// give the same result (composed and decomposed Hangul alike).
//
// trackMatches: the query is normalised and split at white space into tokens;
// the track matches when every token is a substring of its normalised haystack
// or of the same text with all white space removed (so "introlumen" finds
// "Intro Lumen"). An empty query, or one of white space only, matches.
#pragma once

#include "app/Records.h"

#include <QString>

namespace ql {

QString normalizedSearch(const QString& text);

// The text a track is searched in, before normalisation: title, artist, album,
// file name with extension, the name of the file's own folder, and "." with
// the extension, separated by blanks:
// "Intro Lumen Harbor 01 Intro.flac Lumen .flac".
QString searchHaystack(const Track& track);

// The text with every Unicode White_Space character removed.
QString withoutWhiteSpace(const QString& text);

// The normalised haystack without white space. A token never holds white
// space, so a token found in the haystack is also found here: this one text
// answers both substring tests of the match.
QString compactHaystack(const Track& track);

bool trackMatches(const Track& track, const QString& query);

} // namespace ql
