// Decodes the library backend's reply lines.
//
// The backend answers the 2 s poll with the whole catalog, and most answers
// repeat the previous one byte for byte. A line of the same length and the
// same 128-bit digest (XXH3) as the last line that decoded
// gives the same reply again without decoding, so a steady catalog of 100,000
// tracks costs one hashing pass per poll instead of a parse. The reader keeps
// the digest, not the line: a 21 MB reply is not held a second time, and the
// line's array goes straight back to whoever fills the next one.
//
// A large catalog is held once, not twice: a reply is read against the
// catalog its owner already holds (`like`, see app/JsonPieces). Tracks equal
// to it row for row are not kept at all, the reply then holding `like`
// itself; a reply that differs shares every equal text with it.
// Comparing the reply with the owner's catalog is then cheap as well.
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
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace ql {

// A decoded reply; its tracks are shared, never changed.
struct CatalogReply {
    std::shared_ptr<const std::vector<Track>> tracks; // null when the reply carried none
    std::optional<bool> scanning;
    std::optional<QString> error;
};

class ReplyReader {
public:
    // The reply the line holds, or null when it does not decode. The value
    // stays valid until the next call; the line is not kept. A new reply
    // equal to `like` holds `like` as its tracks.
    const CatalogReply* read(QByteArrayView line,
                             const std::shared_ptr<const std::vector<Track>>& like = nullptr);
    // The last call gave the remembered reply without decoding.
    bool lastWasRepeat() const { return m_repeat; }

private:
    struct Digest {
        qsizetype size = -1;
        quint64 low = 0, high = 0;
        bool operator==(const Digest&) const = default;
    };
    static Digest digestOf(QByteArrayView line);

    Digest m_last; // of the last line that decoded
    std::optional<CatalogReply> m_reply;
    bool m_repeat = false;
};

} // namespace ql
