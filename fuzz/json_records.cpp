// Every JSON form the program reads from disk or from the backend, given
// arbitrary bytes: the first byte picks the form, the rest is the document.
// What decodes must encode and decode back to the same value; what does not
// decode must not crash or leak.
#include "FuzzInput.h"

#include "app/JsonCodec.h"
#include "app/Records.h"
#include "effects/FXState.h"
#include "library/GenreMap.h"

#include <QHash>
#include <QSet>

#include <vector>

using namespace ql;
using ql::fuzz::require;

namespace {

template <class T> void roundTrip(QByteArrayView document) {
    const std::optional<T> value = JsonCodec<T>::decode(document);
    if (!value)
        return;
    const std::optional<QByteArray> encoded = JsonCodec<T>::encode(*value);
    require(encoded.has_value());
    const std::optional<T> again = JsonCodec<T>::decode(*encoded);
    require(again && *again == *value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const std::uint8_t form = in.byte();
    const QByteArrayView document = in.rest();
    switch (form % 12) {
    case 0:
        roundTrip<Track>(document);
        break;
    case 1:
        roundTrip<Library>(document);
        break; // a backend reply
    case 2:
        roundTrip<OpenReply>(document);
        break; // the backend's answer to an open
    case 3:
        roundTrip<std::vector<Track>>(document);
        break; // the catalog cache
    case 4:
        roundTrip<PlayStat>(document);
        break;
    case 5:
        roundTrip<QHash<QString, PlayStat>>(document);
        break; // "play-stats.json"
    case 6:
        roundTrip<Sonic>(document);
        break;
    case 7:
        roundTrip<QHash<QString, Sonic>>(document);
        break; // "sonic.json"
    case 8:
        roundTrip<QHash<QString, double>>(document);
        break; // "loudness.json"
    case 9: {
        roundTrip<QHash<QString, QString>>(document); // "quality.json"
        roundTrip<GenreMap>(document);                // "genres.json"
        // Both read a file of genres alike, entry for entry.
        const auto plain = JsonCodec<QHash<QString, QString>>::decode(document);
        const auto genres = JsonCodec<GenreMap>::decode(document);
        require(plain.has_value() == genres.has_value());
        require(!plain || genres->toHash() == *plain);
        break;
    }
    case 10:
        roundTrip<QSet<QString>>(document);
        break; // "favorites.json"
    default:
        roundTrip<FXState>(document);
        break; // "fx.json"
    }
    return 0;
}
