#include "app/JsonPieces.h"

#include "app/JsonCodecImpl.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ql {
// The record readers and the whole-document codecs live in RecordsJson.cpp.
bool readJson(JsonElement e, Track& t);
void writeJson(JsonWriter& w, const Track& t);
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

// True when `text` now shares the data of `same`.
bool shareText(QString& text, const QString& same) {
    if (text.constData() == same.constData())
        return true;
    if (text != same)
        return false;
    text = same;
    return true;
}

// `track`, about to follow `before`, takes the equal texts of the same row
// of `like` instead of its own copies, and else those of its neighbour.
void shareTexts(Track& track, const std::vector<Track>& before, const std::vector<Track>* like) {
    const Track* was = like && before.size() < like->size() ? &(*like)[before.size()] : nullptr;
    const Track* previous = before.empty() ? nullptr : &before.back();
    if (was) {
        shareText(track.path, was->path);
        shareText(track.title, was->title);
    }
    for (QString Track::*text : {&Track::artist, &Track::album, &Track::art})
        if (!(was && shareText(track.*text, was->*text)) && previous)
            shareText(track.*text, previous->*text);
}

// The tracks of `array` (from its "[" to its "]"), in `out` (empty), or
// with `out` left empty and `same` set when they equal `like` row for row.
bool readTracks(QByteArrayView array, std::vector<Track>& out, qsizetype batch,
                const std::vector<Track>* like, bool* same) {
    if (array.size() < 2 || array.front() != '[' || array.back() != ']')
        return false;
    // First the elements' bounds, cut into batches, and their number: the
    // list is then grown once, not doubled batch after batch.
    std::vector<std::pair<qsizetype, qsizetype>> batches;
    size_t count = 0;
    qsizetype i = skipSpace(array, 1);
    if (i == array.size() - 1) { // []
        if (same)
            *same = like && like->empty();
        return true;
    }
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
    // While every track read equals the same row of `like`, none is kept:
    // a reply that repeats the catalog held is not held a second time, not
    // even while it is read.
    bool matching = like && same;
    std::size_t matched = 0;
    const auto keepFromHere = [&] {
        matching = false;
        out.reserve(count);
        out.assign(like->begin(), like->begin() + std::ptrdiff_t(matched));
    };
    if (!matching)
        out.reserve(count);
    simdjson::dom::parser parser;
    QByteArray piece;
    for (const auto& [from, to] : batches) {
        piece.clear();
        piece.append('[').append(array.sliced(from, to - from)).append(']');
        JsonElement root;
        simdjson::dom::array items;
        if (!parseJson(parser, piece, root) || root.get_array().get(items) != simdjson::SUCCESS)
            return false;
        for (const JsonElement item : items) {
            Track track;
            if (!readJson(item, track))
                return false;
            if (matching) {
                if (matched < like->size() && track == (*like)[matched]) {
                    ++matched;
                    continue;
                }
                keepFromHere();
            }
            shareTexts(track, out, like);
            out.push_back(std::move(track));
        }
    }
    if (same)
        *same = matching && matched == like->size();
    if (matching && matched != like->size())
        keepFromHere(); // the start of the rows held, and no more
    return true;
}

} // namespace

std::optional<Library> readLibrary(QByteArrayView json, qsizetype batch,
                                   const std::vector<Track>* like, bool* same) {
    if (same)
        *same = false;
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
        !readTracks(json.sliced(arrayStart, arrayEnd - arrayStart), *reply->tracks, batch, like,
                    same))
        return std::nullopt;
    return reply;
}

FilePieces writeTrackList(const std::vector<Track>& rows, std::size_t batch) {
    return [&rows, batch, at = std::size_t(0), done = false](QByteArray& piece) mutable {
        if (done)
            return true; // no piece: the end
        // Each batch is written as an array of its own: "[a,b]". Its opening
        // bracket becomes the comma after the batch before, and only the last
        // batch keeps its closing one.
        const bool first = at == 0;
        JsonWriter w;
        w.beginArray();
        for (const std::size_t end = std::min(rows.size(), at + batch); at < end; ++at)
            writeJson(w, rows[at]);
        w.endArray();
        if (!w.ok())
            return false;
        piece = w.take();
        done = at == rows.size();
        if (!first)
            piece[0] = ',';
        if (!done)
            piece.chop(1);
        return true;
    };
}

std::optional<std::vector<Track>> readTrackList(QByteArrayView json, qsizetype batch) {
    if (json.size() <= batch)
        return JsonCodec<std::vector<Track>>::decode(json);
    const qsizetype start = skipSpace(json, 0);
    qsizetype end = json.size();
    while (end > start && isSpace(json[end - 1]))
        --end;
    std::vector<Track> tracks;
    if (!readTracks(json.sliced(start, end - start), tracks, batch, nullptr, nullptr))
        return std::nullopt;
    return tracks;
}

} // namespace ql::jsonpieces
