// The five facts about a file's first audio stream that ffprobe reports, how
// ffprobe is asked for them, and how they read on the now-playing bar.
//
// ffprobe's JSON writer prints "sample_rate", "bits_per_raw_sample" and
// "duration" as strings and "bits_per_sample" and "channels" as numbers; each
// member is read only in that type, and one of another type counts as
// missing. A rate or duration that is not finite or is negative ("nan",
// "inf", "-44100") counts as missing too, as does a negative bit width or
// channel count. A report that is not a JSON object gives the failure result
// ("?", 0, 0, 0, 0). Pure unit.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ql {

struct StreamFacts {
    QString codec = QStringLiteral("?"); // as FFmpeg names it: "flac", "mp3", "pcm_s16le"…
    double rate = 0;                     // Hz; 0 when no facts were found
    int bits = 0;                        // bits per stored sample; 0 for lossy codecs
    int channels = 0;
    double duration = 0; // of the whole file, seconds
    bool operator==(const StreamFacts&) const = default;
};

// The nine arguments after the program; `input` as ffmpegInput() gives it.
QStringList probeArguments(const QString& input);

// Reads ffprobe's report; the failure result when it is not a JSON object.
StreamFacts parseStreamFacts(const QByteArray& report);

// The format line: "FLAC | 24/96kHz Stereo", "MP3 | 44.1kHz Stereo",
// "AAC | 48kHz 6ch". Empty when no facts were found (rate not above 0): a
// line claiming "? | 0kHz 0ch" would be false. A codec or channel count the
// report lacks is left out ("24/48kHz").
QString formatLine(const StreamFacts& facts);

// Album and artist, the non-empty ones in that order, one per line.
QString albumArtistLine(const QString& album, const QString& artist);

} // namespace ql
