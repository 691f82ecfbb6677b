// The first half of the quality analysis: the excerpt a file is measured on,
// and what is measured of it: the bits in use, the DC offset and an averaged
// spectrum of 512 bands.
//
// The spectrum is the mean power of up to 240 Hann-windowed 8192-point
// transforms spread evenly over the excerpt. Its scale is that of a packed
// real FFT that returns twice the plain DFT: bin k holds 4·|X_k|², bin 0
// holds 4·(X_0² + X_4096²). The verdict's thresholds are set on that scale,
// so it must stay exactly so. FFTW 3 single precision does the transforms;
// its plans are made and destroyed under one lock for the whole program.
// Pure unit; any thread.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace ql {

inline constexpr int kScanPoints = 8192;
inline constexpr int kScanBands = 512;
inline constexpr int kScanMinSamples = 32768;

struct ScanBands {
    int usedBits = 0; // 32 minus the trailing zero bits of all samples OR-ed; 0 for silence
    bool dc = false;  // the mean sample is more than 1 % of full scale
    int frames = 0;   // transforms averaged
    int hop = 0;      // samples between their starts
    std::vector<float> bandPower; // 512 linear band powers
    std::vector<float> curve;     // 512 band levels in dB below the loudest band
};

// Where the excerpt starts: the middle 30 s, or the beginning of a file of
// 30 s or less, in seconds with one decimal ("285.0").
QString scanStartText(double duration);
// The arguments after ffmpeg: 30 s from `start` of the first audio stream's
// first channel alone (no down-mix), as raw signed 32-bit little-endian
// samples on standard output. `input` as ffmpegInput() gives it.
QStringList scanDecodeArguments(const QString& start, const QString& input);

// The samples of ffmpeg's output (whole samples; a trailing part is ignored).
std::vector<std::int32_t> scanSamples(const QByteArray& raw);

// Measures the excerpt; none under 32768 samples or when no transform can be
// made.
std::optional<ScanBands> scanSpectrum(const std::vector<std::int32_t>& samples);

// The 4096 power values of one 8192-point frame as the spectrum adds them up
// (the frame already windowed). Empty when no transform can be made.
std::vector<float> framePower(const std::vector<float>& frame);

} // namespace ql
