// Reads a large JSON document piece by piece.
//
// A parsed document costs simdjson about thirteen bytes of memory per byte of
// text (its tape, string buffer and structural index are sized on the text),
// so a 21 MB catalog reply would briefly take some 280 MB. The catalog's
// documents are one long array of small objects: these functions find the
// array's elements with a light scan of the text and parse them a bounded
// batch at a time with one reused parser, which caps that memory at a few
// megabytes whatever the catalog's size.
//
// The result is the strict codec's result: every byte still goes through the
// strict parse (the batches, and the document around the array with the array
// left empty), and the scan only has to be exact for valid JSON. Where the
// scan sees something it does not expect (the array's key spelt with escapes,
// given twice), the whole document is parsed at once as before.
#pragma once

#include "app/Records.h"

#include <QByteArrayView>

#include <optional>
#include <vector>

namespace ql::jsonpieces {

// Bytes of array text parsed at once.
inline constexpr qsizetype kBatch = qsizetype(1) << 20;

// A reply whose "tracks" are read in batches (a short one is read at once).
std::optional<Library> readLibrary(QByteArrayView json, qsizetype batch = kBatch);
// A list of tracks (the catalog cache) read in batches.
std::optional<std::vector<Track>> readTrackList(QByteArrayView json, qsizetype batch = kBatch);

} // namespace ql::jsonpieces
