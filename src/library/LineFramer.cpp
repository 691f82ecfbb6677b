#include "library/LineFramer.h"

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
    if (m_start > 0) {
        m_buf.remove(0, m_start);
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

QByteArray LineFramer::take(const FramedLine& line) {
    if (line.bytes.constData() != m_buf.constData() || m_start != m_buf.size())
        return line.bytes.toByteArray();
    QByteArray whole = std::exchange(m_buf, std::exchange(m_reuse, QByteArray()));
    m_buf.resize(0); // its capacity stays
    m_start = m_scan = 0;
    whole.truncate(line.bytes.size());
    return whole;
}

} // namespace ql
