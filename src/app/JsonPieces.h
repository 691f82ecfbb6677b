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
//
// Texts are kept once where a large catalog repeats them (a document of one
// batch or less is small enough to read as it is): a track's artist, album
// and cover path equal to the previous track's (an album's tracks sit
// together) share that track's text, and each text of a track equal to the
// same text of the same row of `like` (the catalog already held, which most
// replies repeat) shares that one. QString shares its data, so equal values
// cost one allocation instead of two, and the values read are unchanged.
#pragma once

#include "app/Records.h"
#include "app/SafeWrite.h"

#include <QByteArrayView>

#include <optional>
#include <vector>

namespace ql::jsonpieces {

// Bytes of array text parsed at once. The parser takes some fifteen times a
// batch while it runs, so a quarter of a megabyte keeps that near 4 MB.
inline constexpr qsizetype kBatch = qsizetype(1) << 18;

// A reply whose "tracks" are read in batches (a short one is read at once),
// sharing equal texts with `like` when given. With `same` too, tracks equal
// to `like` row for row are not kept: the reply's list is left empty and
// `*same` set, and nothing of it is held while it is read.
std::optional<Library> readLibrary(QByteArrayView json, qsizetype batch = kBatch,
                                   const std::vector<Track>* like = nullptr, bool* same = nullptr);
// A list of tracks (the catalog cache) read in batches.
std::optional<std::vector<Track>> readTrackList(QByteArrayView json, qsizetype batch = kBatch);

// Tracks written at once when a list is written in pieces.
inline constexpr std::size_t kWriteBatch = 2000;

// The text JsonCodec writes for `rows` (which must outlive the pieces),
// made `batch` tracks at a time: a 21 MB catalog cache is written without
// ever being held whole. A value that cannot be written (a duration that is
// not a finite number) abandons the write.
FilePieces writeTrackList(const std::vector<Track>& rows, std::size_t batch = kWriteBatch);

} // namespace ql::jsonpieces
