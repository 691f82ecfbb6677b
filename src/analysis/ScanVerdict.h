// The second half of the quality analysis: where the spectrum ends, how loud
// the noise above it is, what that says about the file against what its
// format declares, and the texts the analysis panel shows.
//
// The findings, in order: at most one bandwidth finding (upsampling, a lossy
// source, or the narrow-bandwidth note), at most one bit-depth finding
// (padding or a 16-bit noise floor), the lossy format, the DC offset. Only the
// note and the lossy format are not serious (`good` stays true). Pure unit.
#pragma once

#include "analysis/ScanBands.h"
#include "analysis/StreamFacts.h"

#include <QString>

#include <vector>

namespace ql {

struct ScanResult {
    QString expected;         // what the format declares: "24/96 (FLAC)", "MP3 44.1kHz"
    QString detected;         // what was found: "16/44.1 (CD급)", "24/96 Hi-Res ✓"
    QString bitdepth;         // "24bit (표기) ✓", "24bit (표기) · 실효 16비트급", "?"
    QString bandwidth;        // "16021Hz", "22050Hz (전 대역)"
    QString noise;            // "-101 dBFS (≈ 16.1bit)"
    QString channels;         // "모노", "스테레오", "6채널"
    int dc = 0;               // 1 when the DC offset exceeds 1 % of full scale
    QString verdict;          // the findings, one per line, or one positive sentence
    bool good = true;         // no serious finding
    double enob = 0;          // effective number of bits, 8 … 32
    std::vector<float> curve; // 512 band levels in dB below the loudest band
    double rate = 44100;      // Hz, as probed
    double cutoff = 0;        // Hz
};

// What is read off the spectrum.
struct ScanMeasures {
    double cutoff = 0;   // Hz: the upper edge of the highest band group well above the floor
    double noise = -300; // dB per sample relative to full scale
    double enob = 32;    // effective bits, 8 … 32
    int usedBits = 0;    // as measured on the samples
    bool dc = false;
};
// The measures of an excerpt (512 bands, as scanSpectrum() gives them).
ScanMeasures scanMeasures(double rate, const ScanBands& spectrum);
// The texts and the verdict for a file with these facts and measures; the
// curve is left empty.
ScanResult scanJudge(const StreamFacts& facts, const ScanMeasures& measures);
// Both, with the spectrum's curve.
ScanResult scanVerdict(const StreamFacts& facts, const ScanBands& spectrum);

} // namespace ql
