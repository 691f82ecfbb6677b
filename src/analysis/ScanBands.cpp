#include "analysis/ScanBands.h"

#include "playback/RateText.h"

#include <fftw3.h>

#include <QByteArray>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

namespace ql {

namespace {

constexpr int kBins = kScanPoints / 2;
constexpr int kMaxFrames = 240;

// FFTW's planner is not thread-safe; execution on distinct plans is.
std::mutex& planLock() {
    static std::mutex lock;
    return lock;
}

// One transform with its buffers, made once per measurement and reused for
// every frame.
class PowerTransform {
public:
    PowerTransform() {
        const std::lock_guard guard(planLock());
        m_in = fftwf_alloc_real(kScanPoints);
        m_out = fftwf_alloc_complex(kBins + 1);
        if (m_in && m_out)
            m_plan = fftwf_plan_dft_r2c_1d(kScanPoints, m_in, m_out, FFTW_ESTIMATE);
    }
    ~PowerTransform() {
        const std::lock_guard guard(planLock());
        if (m_plan)
            fftwf_destroy_plan(m_plan);
        fftwf_free(m_in);
        fftwf_free(m_out);
    }
    PowerTransform(const PowerTransform&) = delete;
    PowerTransform& operator=(const PowerTransform&) = delete;

    bool valid() const { return m_plan != nullptr; }
    float* input() { return m_in; }

    // Transforms the input and adds its 4096 power values to `acc`. The
    // factor 4 and the Nyquist term folded into bin 0 follow the packed
    // format the thresholds were set on.
    void addPower(float* acc) {
        fftwf_execute(m_plan);
        const float re0 = m_out[0][0];
        const float reNyq = m_out[kBins][0];
        acc[0] += 4.0f * (re0 * re0 + reNyq * reNyq);
        for (int k = 1; k < kBins; ++k) {
            const float re = m_out[k][0];
            const float im = m_out[k][1];
            acc[k] += 4.0f * (re * re + im * im);
        }
    }

private:
    float* m_in = nullptr;
    fftwf_complex* m_out = nullptr;
    fftwf_plan m_plan = nullptr;
};

// The periodic Hann window normalised to a mean square of 1.
const std::vector<float>& window() {
    static const std::vector<float> w = [] {
        std::vector<float> v(kScanPoints);
        for (int i = 0; i < kScanPoints; ++i)
            v[std::size_t(i)] = float(0.8165 * (1.0 - std::cos(2.0 * M_PI * i / kScanPoints)));
        return v;
    }();
    return w;
}

} // namespace

QString scanStartText(double duration) {
    return fixedText(std::max(0.0, duration / 2.0 - 15.0), 1);
}

QStringList scanDecodeArguments(const QString& start, const QString& input) {
    return {QStringLiteral("-v"),
            QStringLiteral("error"),
            QStringLiteral("-ss"),
            start,
            QStringLiteral("-t"),
            QStringLiteral("30"),
            QStringLiteral("-i"),
            input,
            QStringLiteral("-map"),
            QStringLiteral("0:a:0"),
            QStringLiteral("-vn"),
            QStringLiteral("-af"),
            QStringLiteral("pan=mono|c0=c0"),
            QStringLiteral("-f"),
            QStringLiteral("s32le"),
            QStringLiteral("-")};
}

std::vector<std::int32_t> scanSamples(const QByteArray& raw) {
    std::vector<std::int32_t> samples(std::size_t(raw.size()) / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto* b = reinterpret_cast<const unsigned char*>(raw.constData()) + 4 * i;
        samples[i] = std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                  std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
    }
    return samples;
}

std::vector<float> framePower(const std::vector<float>& frame) {
    PowerTransform transform;
    if (!transform.valid() || frame.size() != std::size_t(kScanPoints))
        return {};
    std::copy(frame.begin(), frame.end(), transform.input());
    std::vector<float> power(kBins, 0.0f);
    transform.addPower(power.data());
    return power;
}

std::optional<ScanBands> scanSpectrum(const std::vector<std::int32_t>& samples) {
    const auto n = std::int64_t(samples.size());
    if (n < kScanMinSamples)
        return std::nullopt;

    ScanBands out;
    std::uint32_t bits = 0;
    double sum = 0;
    for (const std::int32_t s : samples) {
        bits |= std::uint32_t(s);
        sum += double(s);
    }
    out.usedBits = bits == 0 ? 0 : 32 - std::countr_zero(bits);
    out.dc = std::abs(sum / double(n)) / 2147483648.0 > 0.01;

    PowerTransform transform;
    if (!transform.valid())
        return std::nullopt;
    out.frames = int(std::min<std::int64_t>(kMaxFrames, n / kScanPoints));
    out.hop = int((n - kScanPoints) / std::max(1, out.frames - 1));
    const std::vector<float>& w = window();
    constexpr float kScale = 1.0f / 2147483648.0f;
    std::vector<float> acc(kBins, 0.0f);
    for (int f = 0; f < out.frames; ++f) {
        const std::int64_t offset =
            std::min<std::int64_t>(std::int64_t(f) * out.hop, n - kScanPoints);
        float* x = transform.input();
        for (int i = 0; i < kScanPoints; ++i)
            x[i] = float(samples[std::size_t(offset + i)]) * kScale * w[std::size_t(i)];
        transform.addPower(acc.data());
    }

    out.bandPower.resize(kScanBands);
    out.curve.resize(kScanBands);
    const float perBand = float(out.frames * 8);
    float peak = -1e30f;
    for (int b = 0; b < kScanBands; ++b) {
        float p = 0;
        for (int k = 0; k < 8; ++k)
            p += acc[std::size_t(8 * b + k)];
        p /= perBand;
        out.bandPower[std::size_t(b)] = p;
        out.curve[std::size_t(b)] = 10.0f * std::log10(p + 1e-20f);
        peak = std::max(peak, out.curve[std::size_t(b)]);
    }
    for (float& level : out.curve)
        level -= peak;
    return out;
}

} // namespace ql
