// A container-level tag read in-process with the FFmpeg libraries, as
// ffprobe's "-show_entries format_tags=KEY -of default=nw=1:nk=1" prints it:
// each value of a tag whose name is KEY (letter case aside), in the order the
// file holds them, each followed by a line feed, with what is not UTF-8
// dropped as ffprobe drops it. The file is opened and its streams looked at as
// ffprobe does, so the values are the ones it would find. Any thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ql::platform {

// `input` is the file's name for FFmpeg ("file:" and the absolute path, as
// playback/DecodeCommand's ffmpegInput gives it). nullopt when the libraries
// cannot open the file at all (the caller may ask ffprobe itself); an empty
// text when the file has no such tag. A read that outlasts kProbeLimitMs is
// given up as one the libraries cannot open (ffprobe then runs at its limit).
std::optional<QByteArray> formatTagLines(const QString& input, const char* key);

} // namespace ql::platform
