// The backend's output as the player reads it: bytes in chunks of any size
// through the line framer, each line through the reply reader. Every line
// feed gives exactly one line (or one "too long"), a handed-out line never
// holds a line feed and is the input's own bytes, the framer never keeps more
// than its cap, and a reply that decodes re-encodes to itself and reads again
// as a repeat.
#include "FuzzInput.h"

#include "app/JsonCodec.h"
#include "library/LineFramer.h"
#include "library/ReplyReader.h"

#include <QList>

using namespace ql;
using ql::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const qsizetype cap = 1 + in.byte() * 16;
    const qsizetype chunkLimit = 1 + in.byte();
    const QByteArrayView stream = in.rest();
    const QList<QByteArrayView> expected = [&] {
        QList<QByteArrayView> lines;
        for (qsizetype from = 0, feed; (feed = stream.indexOf('\n', from)) >= 0; from = feed + 1)
            lines << stream.sliced(from, feed - from);
        return lines;
    }();

    LineFramer framer(cap);
    ReplyReader reader;
    qsizetype handedOut = 0;
    fuzz::FuzzInput chunks(reinterpret_cast<const std::uint8_t*>(stream.data()),
                           std::size_t(stream.size()));
    while (!chunks.rest().isEmpty()) {
        framer.append(chunks.chunk(chunkLimit));
        while (auto line = framer.next()) {
            require(handedOut < expected.size());
            const QByteArrayView want = expected[handedOut++];
            if (line->tooLong) {
                require(want.size() > cap);
                continue;
            }
            require(line->bytes == want);
            const CatalogReply* reply = reader.read(line->bytes);
            if (!reply)
                continue;
            Library value{std::nullopt, reply->scanning, reply->error};
            if (reply->tracks)
                value.tracks = *reply->tracks;
            const auto encoded = JsonCodec<Library>::encode(value);
            require(encoded && JsonCodec<Library>::decode(*encoded) == value);
            require(reader.read(line->bytes) && reader.lastWasRepeat());
        }
        require(framer.pendingBytes() <= cap);
    }
    require(handedOut == expected.size());
    return 0;
}
