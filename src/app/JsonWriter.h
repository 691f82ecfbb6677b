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
    // Room for at least `bytes` more bytes without growing again.
    void reserve(qsizetype bytes);

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
    QByteArray take();

private:
    // Room for `n` more bytes; returns where they go. Commit with m_len.
    char* room(qsizetype n);
    void put(char c) { *room(1) = c, ++m_len; }
    void put(const char* text, qsizetype n);
    void separate();
    void quoted(QStringView text);

    // The buffer runs ahead of the text: m_out.size() is its capacity, m_len
    // the bytes written. Writing through a pointer keeps a 50,000-entry store
    // well inside its time budget.
    QByteArray m_out;
    qsizetype m_len = 0;
    bool m_needComma = false;
    bool m_ok = true;
};

} // namespace ql
