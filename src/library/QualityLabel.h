// What ffprobe tells about a file, in the words the table shows: the quality
// label ("FLAC 96kHz/24bit ★", "MP3 320kbps ⬆"), the facts read from its
// JSON report, the genre from its tag, and a file's added date. Pure unit.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace ql {

// The first audio stream's facts, each with its fallback.
struct ProbeFacts {
    QString codec = QStringLiteral("?");
    double rate = 0;    // Hz
    int bits = 0;       // 0 = unknown
    double bitRate = 0; // bits per second
};

// The facts of an ffprobe JSON report (stream=codec_name, sample_rate,
// bits_per_raw_sample, bits_per_sample, bit_rate and format=bit_rate). Each
// member counts only in its own JSON type: the rate, the raw bits and the bit
// rates as strings, bits_per_sample as a number. A string that parses counts
// even as "0"; a number that is not finite or beyond the integer range counts
// as 0. None when the bytes are not a JSON object.
std::optional<ProbeFacts> readProbeFacts(const QByteArray& report);

// The label of the facts. Lossless codecs (flac, alac, ape, wavpack, tta,
// pcm_*): "<NAME> <kHz>kHz", "/<bits>bit" when known, " ★" from 24 bits or
// 88.2 kHz. Every other codec is lossy: "<NAME> <kbps>kbps ⬆", or
// "<NAME> ⬆" without a bit rate. Numbers in the C locale.
QString qualityLabel(const QString& codec, double rate, int bits, double bitRate);

// The genre of ffprobe's "format_tags=genre" output: the first line's first
// piece between ";", "/", "," and NUL, spaces and tabs trimmed, its first
// character upper-cased, cut to kTagLimit characters (library/TagBound.h);
// "" when there is none. Bytes that are not UTF-8 become U+FFFD.
QString genreValue(const QByteArray& output);

// A file's added date in seconds since 1970: its birth time, else its
// modification time, else 0 (milliseconds in, none = not given).
double addedDate(std::optional<qint64> birthMs, std::optional<qint64> modifiedMs);

} // namespace ql
