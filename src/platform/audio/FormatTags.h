// A tag read in-process with the FFmpeg libraries, as ffprobe prints it with
// "-of default=nw=1:nk=1": each value of a tag whose name is KEY (letter case
// aside), in the order the file holds them, each followed by a line feed,
// with what is not UTF-8 dropped as ffprobe drops it. The container's tags
// come first ("-show_entries format_tags=KEY"); only when the container has
// no such tag are the streams' tags read, stream by stream
// ("-show_entries stream_tags=KEY"): Ogg (Vorbis, Opus, FLAC in Ogg, Speex)
// keeps its comments with each stream, never with the file. The file is
// opened and its streams looked at as ffprobe does, so the values are the
// ones it would find. Any thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ql::platform {

// `input` is the file's name for FFmpeg ("file:" and the absolute path, as
// app/DecodeCommand's ffmpegInput gives it). nullopt when the libraries
// cannot open the file at all (the caller may ask ffprobe itself); an empty
// text when neither the file nor any stream has such a tag, or when the file
// is one FFmpeg must not read (FlacMetaMask::keptFromFfmpeg). A read that outlasts kProbeLimitMs is
// given up as one the libraries cannot open (ffprobe then runs at its limit).
std::optional<QByteArray> tagLines(const QString& input, const char* key);

} // namespace ql::platform
