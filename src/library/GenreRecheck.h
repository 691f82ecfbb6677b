// Genres stored empty by an older reader that looked only at a file's own
// tags. Ogg files (Vorbis, Opus, FLAC in Ogg, Speex) keep their comments with
// each stream, never with the file, so that reader stored every one of them
// as having no genre, and a stored entry is never probed again.
//
// At launch, until one genre scan has ended after it (the setting
// "genreStreamTags"), such entries are forgotten in memory: the next scan
// finds those files without an entry and reads them again, with the stream
// tags. The stored file keeps its entries until a batch of that scan saves
// the whole map; a quit before the scan ends forgets them again at the next
// launch, so each is read at most until one scan has ended, never for ever.
//
// Pure unit.
#pragma once

#include "library/GenreMap.h"

#include <QString>

namespace ql {

// The file is an Ogg file by its name (letter case aside).
bool keepsTagsInStreams(const QString& path);

// Removes the entries of `genres` that hold "" for an Ogg file; how many.
qsizetype forgetEmptyStreamTagGenres(GenreMap& genres);

} // namespace ql
