#include "platform/audio/Downmix.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ql::platform {

namespace {

using S = Speaker;

// −3 dB.
const double kHalfPower = std::sqrt(0.5);

// A speaker's share of the left and right outputs.
std::array<double, 2> stereoShare(Speaker s) {
    switch (s) {
    case S::Left:
    case S::LeftOfCentre:
        return {1.0, 0.0};
    case S::Right:
    case S::RightOfCentre:
        return {0.0, 1.0};
    case S::Lfe:
        return {0.0, 0.0};
    case S::BackLeft:
    case S::SideLeft:
    case S::TopLeft:
        return {kHalfPower, 0.0};
    case S::BackRight:
    case S::SideRight:
    case S::TopRight:
        return {0.0, kHalfPower};
    case S::Centre:
    case S::BackCentre:
    case S::TopCentre:
    case S::Other:
        break;
    }
    // A position of its own, or one we do not know: both sides equally.
    return {kHalfPower, kHalfPower};
}

} // namespace

std::vector<Speaker> defaultLayout(int channels, bool vorbisOrder) {
    static const std::vector<std::vector<Speaker>> wav = {
        {S::Centre},
        {S::Left, S::Right},
        {S::Left, S::Right, S::Centre},
        {S::Left, S::Right, S::BackLeft, S::BackRight},
        {S::Left, S::Right, S::Centre, S::BackLeft, S::BackRight},
        {S::Left, S::Right, S::Centre, S::Lfe, S::BackLeft, S::BackRight},
        {S::Left, S::Right, S::Centre, S::Lfe, S::BackCentre, S::SideLeft, S::SideRight},
        {S::Left, S::Right, S::Centre, S::Lfe, S::BackLeft, S::BackRight, S::SideLeft,
         S::SideRight},
    };
    static const std::vector<std::vector<Speaker>> vorbis = {
        {S::Centre},
        {S::Left, S::Right},
        {S::Left, S::Centre, S::Right},
        {S::Left, S::Right, S::BackLeft, S::BackRight},
        {S::Left, S::Centre, S::Right, S::BackLeft, S::BackRight},
        {S::Left, S::Centre, S::Right, S::BackLeft, S::BackRight, S::Lfe},
        {S::Left, S::Centre, S::Right, S::SideLeft, S::SideRight, S::BackCentre, S::Lfe},
        {S::Left, S::Centre, S::Right, S::SideLeft, S::SideRight, S::BackLeft, S::BackRight,
         S::Lfe},
    };
    const auto& table = vorbisOrder ? vorbis : wav;
    if (channels >= 1 && channels <= int(table.size()))
        return table[std::size_t(channels - 1)];
    // Beyond eight: the first eight as WAV orders them, the rest unknown.
    std::vector<Speaker> layout = wav.back();
    layout.resize(std::size_t(std::max(channels, 0)), S::Other);
    return layout;
}

std::vector<double> channelMatrix(const std::vector<Speaker>& layout, int outChannels) {
    const std::size_t in = layout.size(), out = std::size_t(std::max(outChannels, 0));
    std::vector<double> m(in * out, 0.0);
    if (in == 0 || out == 0)
        return m;
    if (in == 1 || out >= in) {
        // Mono on the front pair (or the one output); else file channel o on
        // output o. The other outputs stay silent: a mono recording must not
        // come out of the centre, the surrounds and the subwoofer as well.
        for (std::size_t o = 0; o < out; ++o)
            if (in == 1 ? o < 2 : o < in)
                m[o * in + (in == 1 ? 0 : o)] = 1.0;
        return m;
    }
    // Folded to stereo on the first two outputs (mono: their sum); any
    // further outputs stay silent.
    std::array<std::vector<double>, 2> lr{std::vector<double>(in), std::vector<double>(in)};
    for (std::size_t i = 0; i < in; ++i) {
        const auto share = stereoShare(layout[i]);
        lr[0][i] = share[0];
        lr[1][i] = share[1];
    }
    std::vector<std::vector<double>> rows;
    if (out == 1) {
        std::vector<double> mono(in);
        for (std::size_t i = 0; i < in; ++i)
            mono[i] = lr[0][i] + lr[1][i];
        rows.push_back(std::move(mono));
    } else {
        rows = {lr[0], lr[1]};
    }
    // Every input at full scale in phase reaches at most full scale.
    double loudest = 0.0;
    for (const auto& row : rows) {
        double sum = 0.0;
        for (double g : row)
            sum += std::abs(g);
        loudest = std::max(loudest, sum);
    }
    const double scale = loudest > 1.0 ? 1.0 / loudest : 1.0;
    for (std::size_t o = 0; o < rows.size(); ++o)
        for (std::size_t i = 0; i < in; ++i)
            m[o * in + i] = rows[o][i] * scale;
    return m;
}

void applyMatrix(const double* in, int inCh, double* out, int outCh, const double* matrix,
                 std::size_t frames) {
    for (std::size_t f = 0; f < frames; ++f) {
        const double* s = in + f * std::size_t(inCh);
        double* d = out + f * std::size_t(outCh);
        for (int o = 0; o < outCh; ++o) {
            const double* row = matrix + std::size_t(o) * std::size_t(inCh);
            double sum = 0.0;
            for (int i = 0; i < inCh; ++i)
                sum += row[i] * s[i];
            d[o] = sum;
        }
    }
}

} // namespace ql::platform
