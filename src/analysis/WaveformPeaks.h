// The waveform overview of a track: the ffmpeg command that decodes it to a
// small mono stream, the reduction of that stream to peak values, and the
// rule of the in-memory cache that keeps them per file.
//
// ffmpeg writes the first audio stream mixed down to one channel at 4000 Hz
// as signed 16-bit little-endian samples (8000 bytes per second of audio).
// The samples are read where they lie in the output, as 16-bit values; the
// stream is never copied or widened, so a three-hour file costs its 86.4 MB
// of output and nothing more. Pure functions; any thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace ql {

// Peak values per track, oldest sample first, each 0 … 1; empty: no waveform.
using WavePeaks = std::vector<float>;

inline constexpr int kWaveBuckets = 900;
// The cache is emptied whole when an insertion finds more entries than this.
inline constexpr int kWaveCacheLimit = 40;

// The arguments after the program, for an input already made safe with
// ffmpegInput().
QStringList waveformArguments(const QString& input);

// The peaks of a stream of s16le samples (an odd last byte is ignored):
// `buckets` equal runs of samples (the rest at the end is left out), each
// the largest absolute sample ÷ 32768, then √(v ÷ m) with m the larger of
// 0.05 and the loudest run. Empty when there are no more samples than
// buckets, or buckets < 1.
WavePeaks waveformPeaks(const QByteArray& s16le, int buckets = kWaveBuckets);

// Stores a computed result: empty results are never kept, and a cache
// holding more than kWaveCacheLimit entries is emptied before the insertion.
void storeWaveform(QHash<QString, WavePeaks>& cache, const QString& path, const WavePeaks& peaks);

} // namespace ql
