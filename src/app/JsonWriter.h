// A compact JSON writer: one line, UTF-8, no spaces, keys in the order given.
//
// Written by hand rather than through QJsonDocument for two reasons: Qt writes
// a non-finite number as null (which no strict decoder reads back), and
// building a QJsonObject of tens of thousands of keys is quadratic. Here a
// non-finite number marks the writer failed, and the caller throws the whole
// output away. Numbers are formatted in the C locale, doubles in the shortest
// form that reads back to the same value.
//
// The caller keeps the structure balanced (every begin has its end, a key
// precedes each object member); the writer only places the separators.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace ql {

class JsonWriter {
public:
    explicit JsonWriter(qsizetype reserve = 0);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    void key(QStringView name);
    void key(QLatin1String name);
    void string(QStringView text);
    void integer(qint64 value);
    void number(double value); // non-finite: the writer fails
    void boolean(bool value);
    void null();

    // False once a value could not be written.
    bool ok() const { return m_ok; }
    // The text written so far.
    QByteArray take() { return std::move(m_out); }

private:
    void separate();
    void quoted(QByteArrayView utf8);

    QByteArray m_out;
    bool m_needComma = false;
    bool m_ok = true;
};

} // namespace ql
