#include "library/ReplyReader.h"

#include "app/JsonPieces.h"

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
    // The old reply goes before the new one is read: two whole catalogs
    // need not be held at once.
    m_reply.reset();
    m_reply = jsonpieces::readLibrary(line);
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
