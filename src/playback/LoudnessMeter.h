// The ffmpeg run that measures a file's integrated loudness (EBU R128), and
// how its log is read.
//
// The meter writes its summary to standard error; the integrated loudness is
// the "I:" line of that summary. A file ffmpeg cannot meter, and silence,
// give no usable value: such files are measured again the next time.
//
// Pure unit: values in, values out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace ql {

// The arguments after the program for the file ffmpeg reads as `input`
// (see ffmpegInput): no progress, no banner, the meter with its per-frame
// log silenced, and no output file.
QStringList loudnessArguments(const QString& input);

// The last "I: <number> LUFS" in the meter's log (decoded as UTF-8, damaged
// bytes replaced), the number read in the C locale; none without one.
std::optional<double> integratedLoudness(const QByteArray& log);

// Whether a measured value is kept: −70 LUFS and below is what the meter
// reports for silence or a failed measurement, not the file's loudness.
bool loudnessKept(double lufs);

// The longest a measurement may run, in milliseconds: two minutes plus the
// track's own length (unknown lengths count as 0).
int loudnessTimeoutMs(double trackSeconds);

} // namespace ql
