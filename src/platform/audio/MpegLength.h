// The length of an MPEG audio stream (MP3, MP2, MP1) counted frame by frame.
//
// An MP3 made without a length header (no Xing, Info or VBRI frame at its
// start) gives its decoder nothing but the file size and the first frame's
// bit rate to guess its length from; for a variable bit rate the guess can
// be off by half, and libsndfile stops reading at it. Walking every frame
// header (each says how long its frame is and how many samples it holds)
// gives the true count.
//
// Leading ID3v2 tags are skipped; the walk ends at the end of the data or at
// a trailing tag (ID3v1, APE, Lyrics3). Bytes that are not a frame between
// frames (a damaged stretch) are passed over to the next pair of chained
// headers. A stream in free format (no bit rate in its headers) has no
// length that can be counted this way.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace ql::platform {

struct MpegLength {
    bool hasLengthHeader = false; // a Xing, Info or VBRI frame: the decoder's length holds
    std::int64_t frames = 0;      // samples per channel (without a length header)
};

// Nothing when no chained frame headers are found (not MPEG audio, free format).
std::optional<MpegLength> mpegLength(const unsigned char* data, std::size_t size);
std::optional<MpegLength> mpegLengthOfFile(const QString& path);

// Where the leading ID3v2 tags of the file open as `fd` end, and where its first frame starts:
// found as decoders resync, the first header within `reach` bytes past the
// tags whose frame is followed by another of the same stream (or by the end
// of the file); none when there is none there, or when the tags take fewer
// than `leastTags` bytes (no frame is looked for then).
struct MpegStart {
    std::int64_t pastTags = 0;
    std::optional<std::int64_t> frame;
};
MpegStart mpegStartOfFile(int fd, std::int64_t reach, std::int64_t leastTags = 0);

} // namespace ql::platform
