// The length of a FLAC stream that does not store it (written through a
// pipe: STREAMINFO's total is 0), read from the headers of its last frames:
// each frame header carries its first sample (or its frame number) and its
// block size, guarded by a CRC-8.
//
// A run of 0xFFF8 in the audio data can pass for a header, so a header only
// counts when an earlier one in the tail ends exactly where it begins.
// Without such a pair nothing is returned; the decoder then finds the end.
#pragma once

#include <cstdint>
#include <optional>

namespace ql::platform {

// Of the file open as `fd` (its position is moved; the caller keeps it).
std::optional<std::int64_t> flacLengthFromFrames(int fd);

} // namespace ql::platform
