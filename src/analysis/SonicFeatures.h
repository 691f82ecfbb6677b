// The sonic features of a track, measured on a mono excerpt at 11025 Hz:
// tempo, mean loudness and its spread, zero-crossing rate; and the release
// year read from ffprobe's tag text. The smart-listening features compare
// tracks by them. Pure unit.
#pragma once

#include "app/Records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace ql {

inline constexpr int kSonicRate = 11025;
// Under this many samples (8 s) the excerpt from 30 s is replaced by one from
// the start; under kSonicMinSamples (4 s) there is nothing to measure.
inline constexpr int kSonicRetrySamples = 88200;
inline constexpr int kSonicMinSamples = 44100;

// The arguments after ffmpeg: 45 s from `start` (seconds as text), mixed to
// one channel at 11025 Hz, raw signed 16-bit little-endian on standard
// output. `input` as ffmpegInput() gives it.
QStringList sonicDecodeArguments(const QString& start, const QString& input);
// The arguments after ffprobe: the values of the date-like tags, one per line.
QStringList sonicYearArguments(const QString& input);

std::vector<std::int16_t> sonicSamples(const QByteArray& raw);

// The features of an excerpt, `ok` set and `year` 0; none under 44100 samples.
std::optional<Sonic> measureSonic(const std::vector<std::int16_t>& samples);

// Beats per minute for an onset period of `lag` frames of 256 samples,
// folded into 70 ≤ bpm < 160.
double tempoForLag(int lag);

// The first "19xx" or "20xx" anywhere in ffprobe's output (UTF-8, bad bytes
// replaced); 0 when there is none.
int yearFromTags(const QByteArray& output);

} // namespace ql
