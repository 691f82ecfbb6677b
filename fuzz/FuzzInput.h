// What every fuzz target shares: a check that aborts (so libFuzzer keeps the
// input) and a reader that takes small numbers off the front of the input to
// steer the target (chunk sizes, a cap, a record type).
#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <cstdlib>

namespace ql::fuzz {

inline void require(bool condition) {
    if (!condition)
        std::abort();
}

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_bytes(reinterpret_cast<const char*>(data), qsizetype(size)) {}

    // One byte off the front, 0 when the input is used up.
    std::uint8_t byte() {
        if (m_bytes.isEmpty())
            return 0;
        const auto b = std::uint8_t(m_bytes.front());
        m_bytes = m_bytes.sliced(1);
        return b;
    }
    // The next `n` bytes (fewer at the end).
    QByteArrayView take(qsizetype n) {
        n = qMin(n, m_bytes.size());
        const QByteArrayView out = m_bytes.first(n);
        m_bytes = m_bytes.sliced(n);
        return out;
    }
    // A chunk of 1 … limit bytes, its size steered by its own first byte.
    QByteArrayView chunk(qsizetype limit) {
        if (m_bytes.isEmpty())
            return {};
        return take(1 + std::uint8_t(m_bytes.front()) % limit);
    }
    QByteArrayView rest() const { return m_bytes; }

private:
    QByteArrayView m_bytes;
};

} // namespace ql::fuzz
