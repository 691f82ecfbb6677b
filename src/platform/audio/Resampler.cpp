#include "platform/audio/Resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace ql::platform {

Resampler::Resampler(double inRate, double outRate, int channels, int threads)
    : m_inRate(inRate), m_outRate(outRate), m_channels(channels) {
    if (!(inRate > 0) || !(outRate > 0) || channels <= 0) {
        m_error = QStringLiteral("Cannot convert between these sample rates.");
        return;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(unsigned(std::max(1, threads)));
    soxr_error_t err = nullptr;
    m_soxr = soxr_create(inRate, outRate, unsigned(channels), &err, &io, &q, &runtime);
    if (err || !m_soxr) {
        m_error = QStringLiteral("Cannot start the sample-rate converter: %1")
                      .arg(QString::fromUtf8(err ? err : "unknown error"));
        if (m_soxr)
            soxr_delete(m_soxr);
        m_soxr = nullptr;
    }
}

Resampler::~Resampler() {
    if (m_soxr)
        soxr_delete(m_soxr);
}

std::size_t Resampler::maxOutput(std::size_t inFrames) const {
    return std::size_t(std::ceil(double(inFrames) * ratio())) + 64;
}

Resampler::Step Resampler::process(const double* in, std::size_t inFrames, double* out,
                                   std::size_t outCapacity) {
    Step s;
    if (!m_soxr)
        return s;
    size_t idone = 0, odone = 0;
    soxr_process(m_soxr, in, in ? inFrames : 0, in ? &idone : nullptr, out, outCapacity, &odone);
    s.consumed = idone;
    s.produced = odone;
    return s;
}

} // namespace ql::platform
