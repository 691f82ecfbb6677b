// The sizes an ID3v2 tag states in its 10-byte header, read one way for
// every walk past the tags at a file's start (the MP3 frame search, the FLAC
// mask, FfmpegGate).
#pragma once

#include <cstdint>

namespace ql::platform {

// A tag's header: "ID3", version, revision, flags, a 28-bit body size.
inline constexpr std::int64_t kId3Header = 10;

// Seven bits of each of four bytes, as ID3v2 stores its sizes.
inline std::int64_t id3Syncsafe(const std::uint8_t* p) {
    return std::int64_t(p[0] & 0x7F) << 21 | std::int64_t(p[1] & 0x7F) << 14 |
           std::int64_t(p[2] & 0x7F) << 7 | std::int64_t(p[3] & 0x7F);
}

// The bytes the tag whose header `h` points at takes: header, body and the
// footer its flags announce.
inline std::int64_t id3TagBytes(const std::uint8_t* h) {
    return kId3Header + id3Syncsafe(h + 6) + ((h[5] & 0x10) ? kId3Header : 0);
}

} // namespace ql::platform
