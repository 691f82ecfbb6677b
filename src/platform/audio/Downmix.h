// How a file's channels reach a stream with another channel count.
//
// Each channel has a speaker position: from the file's channel mask where
// the container stores one (WAVE_FORMAT_EXTENSIBLE, CAF, AIFF), else the
// container's fixed order for that count (WAV, FLAC and FFmpeg's native
// order alike; Ogg Vorbis and Opus their own).
//
// Fewer stream channels than file channels: the file is folded down to
// stereo with the ITU-R BS.775 coefficients (centre and surrounds at −3 dB,
// the LFE left out), then to mono for a mono stream, and the whole matrix
// is scaled so that every channel at full scale in phase just reaches full
// scale: a downmix never clips. More stream channels than file channels:
// mono goes to the front left and right only, otherwise channel i feeds
// channel i; the rest is silent. Equal counts pass through untouched (the bit-perfect path).
#pragma once

#include <cstddef>
#include <vector>

namespace ql::platform {

enum class Speaker {
    Left,
    Right,
    Centre,
    Lfe,
    BackLeft,
    BackRight,
    BackCentre,
    SideLeft,
    SideRight,
    LeftOfCentre,
    RightOfCentre,
    TopLeft,
    TopRight,
    TopCentre,
    Other,
};

// The fixed order of `channels` channels when the file stores no mask:
// WAV's (also FLAC's and FFmpeg's), or Ogg Vorbis's and Opus's.
std::vector<Speaker> defaultLayout(int channels, bool vorbisOrder);

// A matrix from the channels of `layout` to `outChannels`: row-major, one
// row of layout.size() gains per output channel.
std::vector<double> channelMatrix(const std::vector<Speaker>& layout, int outChannels);

// out[f][o] = Σ matrix[o][i] · in[f][i] for `frames` interleaved frames.
void applyMatrix(const double* in, int inCh, double* out, int outCh, const double* matrix,
                 std::size_t frames);

} // namespace ql::platform
