// Music-like test audio for the benchmarks: two tones and a little noise in
// every channel (stereo unless asked), so FLAC has real work to do. Header only; libsndfile.
#pragma once

#include <QFile>
#include <QString>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace ql::bench {

// Writes `seconds` of it at `path` as FLAC with the given subformat; false on
// failure.
inline bool writeMusicFlac(const QString& path, int rate, int subformat, double seconds,
                           int channels = 2) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_FLAC | subformat;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.02);
    const auto frames = std::int64_t(seconds * rate);
    const auto ch = std::size_t(channels);
    std::vector<double> buf(ch * 8192);
    bool ok = true;
    for (std::int64_t at = 0; at < frames && ok; at += 8192) {
        const std::int64_t n = std::min<std::int64_t>(8192, frames - at);
        for (std::int64_t i = 0; i < n; ++i) {
            const double t = double(at + i) / rate;
            const double x =
                0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 3300 * t);
            for (std::size_t c = 0; c < ch; ++c)
                buf[std::size_t(i) * ch + c] = (1.0 - 0.2 * double(c % 2)) * x + noise(rng);
        }
        ok = sf_writef_double(f, buf.data(), n) == n;
    }
    sf_close(f);
    return ok;
}

} // namespace ql::bench
