// Decodes the library backend's reply lines as `Library` values.
//
// The backend answers the 2 s poll with the whole catalog, and most answers
// repeat the previous one byte for byte. A line equal to the last line that
// decoded gives the same reply again without decoding (equal bytes decode to
// equal values), so a steady catalog of 100,000 tracks costs one comparison of
// bytes per poll instead of a parse. The repeated reply also shares its texts
// with the catalog it was assigned to, which makes comparing the two cheap.
//
// Decoding is JsonCodec's strict one, the tracks read in batches
// (app/JsonPieces) so that a large reply does not take ten times its size in
// parser memory: not JSON, not an object, a value of the wrong type or one
// bad track gives nothing.
//
// Not thread-safe: one owner (the main thread).
#pragma once

#include "app/Records.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace ql {

class ReplyReader {
public:
    // The reply the line holds, or null when it does not decode. The value
    // stays valid until the next call.
    const Library* read(QByteArrayView line);
    // The same, keeping `line` itself as the last line instead of a copy;
    // `line` then holds an array the caller may fill again (the line itself
    // when it repeated the last one, else the last line it replaced).
    const Library* read(QByteArray& line);
    // The last call gave the remembered reply without decoding.
    bool lastWasRepeat() const { return m_repeat; }

private:
    const Library* read(QByteArrayView line, QByteArray* owned);

    QByteArray m_line; // the last line that decoded
    std::optional<Library> m_reply;
    bool m_repeat = false;
};

} // namespace ql
