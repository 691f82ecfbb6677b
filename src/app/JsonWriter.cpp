#include "app/JsonWriter.h"

#include <charconv>
#include <cmath>

namespace ql {

JsonWriter::JsonWriter(qsizetype reserve) {
    if (reserve > 0)
        m_out.reserve(reserve);
}

void JsonWriter::separate() {
    if (m_needComma)
        m_out += ',';
    m_needComma = true;
}

void JsonWriter::beginObject() {
    separate();
    m_out += '{';
    m_needComma = false;
}

void JsonWriter::endObject() {
    m_out += '}';
    m_needComma = true;
}

void JsonWriter::beginArray() {
    separate();
    m_out += '[';
    m_needComma = false;
}

void JsonWriter::endArray() {
    m_out += ']';
    m_needComma = true;
}

void JsonWriter::quoted(QByteArrayView utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    m_out += '"';
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    const char* run = p; // start of the bytes that need no escape
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        m_out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"':
            m_out += "\\\"";
            break;
        case '\\':
            m_out += "\\\\";
            break;
        case '\n':
            m_out += "\\n";
            break;
        case '\r':
            m_out += "\\r";
            break;
        case '\t':
            m_out += "\\t";
            break;
        case '\b':
            m_out += "\\b";
            break;
        case '\f':
            m_out += "\\f";
            break;
        default: {
            const char esc[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            m_out.append(esc, sizeof esc);
        }
        }
    }
    m_out.append(run, end - run);
    m_out += '"';
}

void JsonWriter::key(QStringView name) {
    separate();
    quoted(name.toUtf8());
    m_out += ':';
    m_needComma = false;
}

void JsonWriter::key(QLatin1String name) {
    // Our own key names are plain ASCII: no escape can be needed.
    separate();
    m_out += '"';
    m_out.append(name.data(), name.size());
    m_out += "\":";
    m_needComma = false;
}

void JsonWriter::string(QStringView text) {
    separate();
    quoted(text.toUtf8());
}

void JsonWriter::integer(qint64 value) {
    separate();
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    m_out.append(buf, r.ptr - buf);
}

void JsonWriter::number(double value) {
    separate();
    if (!std::isfinite(value)) {
        m_ok = false;
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    m_out.append(buf, r.ptr - buf);
}

void JsonWriter::boolean(bool value) {
    separate();
    m_out += value ? "true" : "false";
}

void JsonWriter::null() {
    separate();
    m_out += "null";
}

} // namespace ql
