#include "library/ReplyReader.h"

#include "app/JsonCodec.h"

#include <utility>

namespace ql {

const Library* ReplyReader::read(QByteArrayView line) {
    return read(line, nullptr);
}

const Library* ReplyReader::read(QByteArray& line) {
    return read(QByteArrayView(line), &line);
}

const Library* ReplyReader::read(QByteArrayView line, QByteArray* owned) {
    m_repeat = m_reply && line == QByteArrayView(m_line);
    if (m_repeat)
        return &*m_reply;
    m_reply = JsonCodec<Library>::decode(line);
    if (!m_reply) {
        m_line.clear();
        return nullptr;
    }
    if (owned)
        std::swap(m_line, *owned);
    else
        m_line = line.toByteArray();
    return &*m_reply;
}

} // namespace ql
