#include "app/JsonPieces.h"

#include "app/JsonCodecImpl.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace ql {
// The record readers and the whole-document codecs live in RecordsJson.cpp.
bool readJson(JsonElement e, Track& t);
extern template struct JsonCodec<Library>;
extern template struct JsonCodec<std::vector<Track>>;
} // namespace ql

namespace ql::jsonpieces {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One past the closing quote of the string whose opening quote is at `i`.
qsizetype stringEnd(QByteArrayView text, qsizetype i) {
    const char* data = text.data();
    qsizetype from = i + 1;
    for (;;) {
        const void* quote = std::memchr(data + from, '"', size_t(text.size() - from));
        if (!quote)
            return -1;
        const qsizetype at = static_cast<const char*>(quote) - data;
        qsizetype slashes = 0;
        while (at - slashes - 1 > i && data[at - slashes - 1] == '\\')
            ++slashes;
        if (slashes % 2 == 0)
            return at + 1;
        from = at + 1;
    }
}

// The index of the first byte at or after `i` that is not JSON white space.
qsizetype skipSpace(QByteArrayView text, qsizetype i) {
    while (i < text.size() && isSpace(text[i]))
        ++i;
    return i;
}

// One past the end of the value that starts at `i`, or -1 when none does.
qsizetype valueEnd(QByteArrayView text, qsizetype i) {
    if (i >= text.size())
        return -1;
    const char first = text[i];
    if (first == '"')
        return stringEnd(text, i);
    if (first == '{' || first == '[') {
        qsizetype depth = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == '"') {
                i = stringEnd(text, i);
                if (i < 0)
                    return -1;
                continue;
            }
            if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && --depth == 0)
                return i + 1;
            ++i;
        }
        return -1;
    }
    // A number, true, false or null: up to the next separator; the strict
    // parse judges it.
    const qsizetype start = i;
    while (i < text.size() && !isSpace(text[i]) && text[i] != ',' && text[i] != ']' &&
           text[i] != '}')
        ++i;
    return i > start ? i : -1;
}

// The tracks of `array` (from its "[" to its "]"), appended to `out`.
bool readTracks(QByteArrayView array, std::vector<Track>& out, qsizetype batch) {
    if (array.size() < 2 || array.front() != '[' || array.back() != ']')
        return false;
    // First the elements' bounds, cut into batches, and their number: the
    // list is then grown once, not doubled batch after batch.
    std::vector<std::pair<qsizetype, qsizetype>> batches;
    size_t count = 0;
    qsizetype i = skipSpace(array, 1);
    if (i == array.size() - 1)
        return true; // []
    for (qsizetype start = i;;) {
        const qsizetype end = valueEnd(array, i);
        if (end < 0)
            return false;
        ++count;
        const qsizetype next = skipSpace(array, end);
        if (next >= array.size() || (array[next] != ',' && array[next] != ']'))
            return false;
        if (array[next] == ']') {
            if (next != array.size() - 1)
                return false;
            batches.emplace_back(start, end);
            break;
        }
        i = skipSpace(array, next + 1);
        if (end - start >= batch) {
            batches.emplace_back(start, end);
            start = i;
        }
    }
    out.reserve(out.size() + count);
    simdjson::dom::parser parser;
    QByteArray piece;
    std::vector<Track> part;
    for (const auto& [from, to] : batches) {
        piece.clear();
        piece.append('[').append(array.sliced(from, to - from)).append(']');
        JsonElement root;
        if (!parseJson(parser, piece, root) || !readJson(root, part))
            return false;
        out.insert(out.end(), std::make_move_iterator(part.begin()),
                   std::make_move_iterator(part.end()));
    }
    return true;
}

} // namespace

std::optional<Library> readLibrary(QByteArrayView json, qsizetype batch) {
    static constexpr QByteArrayView kTracks("\"tracks\"");
    if (json.size() <= batch)
        return JsonCodec<Library>::decode(json);
    // The members of the top object: where the one "tracks" array is.
    qsizetype arrayStart = -1, arrayEnd = -1;
    qsizetype i = skipSpace(json, 0);
    bool scanned = i < json.size() && json[i] == '{';
    if (scanned) {
        i = skipSpace(json, i + 1);
        scanned = i < json.size();
        while (scanned && json[i] != '}') {
            const qsizetype keyEnd = json[i] == '"' ? valueEnd(json, i) : -1;
            const qsizetype colon = keyEnd < 0 ? -1 : skipSpace(json, keyEnd);
            scanned = colon >= 0 && colon < json.size() && json[colon] == ':';
            if (!scanned)
                break;
            const qsizetype value = skipSpace(json, colon + 1);
            const qsizetype end = valueEnd(json, value);
            scanned = end >= 0;
            if (!scanned)
                break;
            const QByteArrayView key = json.sliced(i, keyEnd - i);
            if (key == kTracks || key.contains('\\')) { // an escape might spell "tracks"
                scanned = arrayStart < 0 && key == kTracks && json[value] == '[';
                arrayStart = value;
                arrayEnd = end;
            }
            i = skipSpace(json, end);
            if (scanned && i < json.size() && json[i] == ',')
                i = skipSpace(json, i + 1);
            else
                scanned = scanned && i < json.size() && json[i] == '}';
        }
    }
    if (!scanned || arrayStart < 0)
        return JsonCodec<Library>::decode(json);
    QByteArray rest;
    rest.reserve(json.size() - (arrayEnd - arrayStart) + 2);
    rest.append(json.first(arrayStart)).append("[]").append(json.sliced(arrayEnd));
    std::optional<Library> reply = JsonCodec<Library>::decode(rest);
    if (!reply || !reply->tracks ||
        !readTracks(json.sliced(arrayStart, arrayEnd - arrayStart), *reply->tracks, batch))
        return std::nullopt;
    return reply;
}

std::optional<std::vector<Track>> readTrackList(QByteArrayView json, qsizetype batch) {
    if (json.size() <= batch)
        return JsonCodec<std::vector<Track>>::decode(json);
    const qsizetype start = skipSpace(json, 0);
    qsizetype end = json.size();
    while (end > start && isSpace(json[end - 1]))
        --end;
    std::vector<Track> tracks;
    if (!readTracks(json.sliced(start, end - start), tracks, batch))
        return std::nullopt;
    return tracks;
}

} // namespace ql::jsonpieces
