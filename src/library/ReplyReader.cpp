#include "library/ReplyReader.h"

#include "app/JsonCodec.h"

namespace ql {

const Library* ReplyReader::read(QByteArrayView line) {
    m_repeat = m_reply && line == QByteArrayView(m_line);
    if (m_repeat)
        return &*m_reply;
    m_reply = JsonCodec<Library>::decode(line);
    if (!m_reply) {
        m_line.clear();
        return nullptr;
    }
    m_line = line.toByteArray();
    return &*m_reply;
}

} // namespace ql
