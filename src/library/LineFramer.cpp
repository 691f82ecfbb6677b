#include "library/LineFramer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ql {

LineFramer::LineFramer(qsizetype maxLine) : m_maxLine(maxLine) {}

void LineFramer::append(QByteArrayView chunk) {
    if (m_dropping) {
        const qsizetype end = chunk.indexOf('\n');
        if (end < 0)
            return;
        m_dropping = false;
        m_tooLongEnded = true;
        chunk = chunk.sliced(end + 1);
    }
    m_buf.append(chunk);
}

std::optional<FramedLine> LineFramer::next() {
    if (m_tooLongEnded) {
        m_tooLongEnded = false;
        return FramedLine{{}, true};
    }
    const char* data = m_buf.constData();
    if (const void* feed = std::memchr(data + m_scan, '\n', size_t(m_buf.size() - m_scan))) {
        const qsizetype end = static_cast<const char*>(feed) - data;
        const FramedLine line{QByteArrayView(data + m_start, end - m_start), false};
        m_start = m_scan = end + 1;
        return line;
    }
    m_scan = m_buf.size();
    // Every complete line is out: move the unfinished one to the front. The
    // buffer keeps its capacity, so the next catalog reply of the same size
    // is read without growing it again.
    // (Moved, not removed from the front: that would only move the array's
    // start and leave the space before it unused until the next growth.)
    if (m_start > 0) {
        const qsizetype kept = m_buf.size() - m_start;
        std::memmove(m_buf.data(), m_buf.constData() + m_start, size_t(kept));
        m_buf.truncate(kept);
        m_scan -= m_start;
        m_start = 0;
    }
    if (m_buf.size() > m_maxLine) {
        m_buf = QByteArray();
        m_scan = 0;
        m_dropping = true;
    }
    return std::nullopt;
}

void LineFramer::reuse(QByteArray spare) {
    if (m_buf.isEmpty()) {
        m_buf = std::move(spare);
        m_buf.resize(0); // its capacity stays
        m_start = m_scan = 0;
    } else {
        m_reuse = std::move(spare);
    }
}

qsizetype LineFramer::room(qsizetype n) {
    const qsizetype size = m_buf.size();
    const qsizetype free = m_buf.capacity() - size;
    if (free > 0)
        return std::min(n, free); // the rest when the next read comes
    m_buf.reserve(std::max(size + n, size + size / 4));
    return n;
}

QByteArray LineFramer::take(const FramedLine& line) {
    if (line.bytes.constData() != m_buf.constData() || m_start != m_buf.size())
        return line.bytes.toByteArray();
    QByteArray whole = std::exchange(m_buf, std::exchange(m_reuse, QByteArray()));
    m_buf.resize(0); // its capacity stays
    m_start = m_scan = 0;
    const qsizetype size = line.bytes.size();
    if (whole.capacity() > size + 2 * kSlack) {
        // Shrunk in place: the allocator gives the tail back without a copy.
        whole.resize(size + kSlack);
        whole.squeeze();
    }
    whole.truncate(size);
    return whole;
}

} // namespace ql
