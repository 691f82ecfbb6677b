// Decodes the library backend's reply lines as `Library` values.
//
// The backend answers the 2 s poll with the whole catalog, and most answers
// repeat the previous one byte for byte. A line of the same length and the
// same 128-bit digest (XXH3) as the last line that decoded
// gives the same reply again without decoding, so a steady catalog of 100,000
// tracks costs one hashing pass per poll instead of a parse. The reader keeps
// the digest, not the line: a 21 MB reply is not held a second time, and the
// line's array goes straight back to whoever fills the next one. The repeated
// reply also shares its texts with the catalog it was assigned to, which makes
// comparing the two cheap.
//
// Decoding is JsonCodec's strict one, the tracks read in batches
// (app/JsonPieces) so that a large reply does not take ten times its size in
// parser memory: not JSON, not an object, a value of the wrong type or one
// bad track gives nothing.
//
// Not thread-safe: one owner (the catalog worker's intake).
#pragma once

#include "app/Records.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>
#include <vector>

namespace ql {

class ReplyReader {
public:
    // The reply the line holds, or null when it does not decode. The value
    // stays valid until the next call; the line is not kept.
    const Library* read(QByteArrayView line);
    // The last call gave the remembered reply without decoding.
    bool lastWasRepeat() const { return m_repeat; }
    // The tracks of the last reply read, shared rather than copied: they
    // outlive the next read for whoever keeps them.
    std::shared_ptr<const std::vector<Track>> sharedTracks() const;

private:
    struct Digest {
        qsizetype size = -1;
        quint64 low = 0, high = 0;
        bool operator==(const Digest&) const = default;
    };
    static Digest digestOf(QByteArrayView line);

    Digest m_last; // of the last line that decoded
    std::shared_ptr<Library> m_reply;
    bool m_repeat = false;
};

} // namespace ql
