#include "app/JsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace ql {

JsonWriter::JsonWriter(qsizetype reserve) {
    if (reserve > 0)
        m_out.resize(reserve);
}

void JsonWriter::reserve(qsizetype bytes) {
    if (m_len + bytes > m_out.size())
        m_out.resize(m_len + bytes);
}

QByteArray JsonWriter::take() {
    m_out.resize(m_len);
    m_len = 0;
    return std::move(m_out);
}

char* JsonWriter::room(qsizetype n) {
    if (m_len + n > m_out.size())
        m_out.resize(std::max(m_len + n, m_out.size() * 2 + 256));
    return m_out.data() + m_len;
}

void JsonWriter::put(const char* text, qsizetype n) {
    std::memcpy(room(n), text, size_t(n));
    m_len += n;
}

void JsonWriter::separate() {
    if (m_needComma)
        put(',');
    m_needComma = true;
}

void JsonWriter::beginObject() {
    separate();
    put('{');
    m_needComma = false;
}

void JsonWriter::endObject() {
    put('}');
    m_needComma = true;
}

void JsonWriter::beginArray() {
    separate();
    put('[');
    m_needComma = false;
}

void JsonWriter::endArray() {
    put(']');
    m_needComma = true;
}

// UTF-16 straight to escaped UTF-8 in one pass. A lone surrogate (not valid
// text) becomes U+FFFD, as Qt's own conversion does.
void JsonWriter::quoted(QStringView text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // At most 6 bytes per unit (a \u00XX escape), plus the quotes.
    char* const start = room(text.size() * 6 + 2);
    char* p = start;
    *p++ = '"';
    const char16_t* u = text.utf16();
    const char16_t* const end = u + text.size();
    while (u != end) {
        const char16_t c = *u++;
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\') {
                *p++ = char(c);
                continue;
            }
            *p++ = '\\';
            switch (c) {
            case '"':
                *p++ = '"';
                break;
            case '\\':
                *p++ = '\\';
                break;
            case '\n':
                *p++ = 'n';
                break;
            case '\r':
                *p++ = 'r';
                break;
            case '\t':
                *p++ = 't';
                break;
            case '\b':
                *p++ = 'b';
                break;
            case '\f':
                *p++ = 'f';
                break;
            default:
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 0xF];
            }
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && u != end && QChar::isLowSurrogate(*u)) {
            const char32_t cp = QChar::surrogateToUcs4(c, *u++);
            *p++ = char(0xF0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3F));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        } else {
            const char16_t bmp = QChar::isSurrogate(c) ? char16_t(0xFFFD) : c;
            *p++ = char(0xE0 | (bmp >> 12));
            *p++ = char(0x80 | ((bmp >> 6) & 0x3F));
            *p++ = char(0x80 | (bmp & 0x3F));
        }
    }
    *p++ = '"';
    m_len += p - start;
}

void JsonWriter::key(QStringView name) {
    separate();
    quoted(name);
    put(':');
    m_needComma = false;
}

void JsonWriter::key(QLatin1String name) {
    // Our own key names are plain ASCII: no escape can be needed.
    separate();
    put('"');
    put(name.data(), name.size());
    put("\":", 2);
    m_needComma = false;
}

void JsonWriter::string(QStringView text) {
    separate();
    quoted(text);
}

void JsonWriter::integer(qint64 value) {
    separate();
    char* p = room(24);
    m_len += std::to_chars(p, p + 24, value).ptr - p;
}

void JsonWriter::number(double value) {
    separate();
    if (!std::isfinite(value)) {
        m_ok = false;
        return;
    }
    char* p = room(32);
    // The shortest form of a whole number beyond 64 bits is a long run of
    // digits ("18446744073709552000"), which JSON readers take as an integer
    // too big to hold and refuse: such a store would not read back. An
    // exponent keeps it a number with a fraction's type.
    const auto written = std::abs(value) >= 0x1p63
                             ? std::to_chars(p, p + 32, value, std::chars_format::scientific)
                             : std::to_chars(p, p + 32, value);
    m_len += written.ptr - p;
}

void JsonWriter::boolean(bool value) {
    separate();
    if (value)
        put("true", 4);
    else
        put("false", 5);
}

void JsonWriter::null() {
    separate();
    put("null", 4);
}

} // namespace ql
