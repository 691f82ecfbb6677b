// JSON forms of the shared records and the store shapes.
//
// Track: all seven keys required and written. PlayStat: "plays" (whole
// number) and "last" (number), both required. Sonic: all six keys required.
// Library and OpenReply: every key optional; absent and null both give
// nothing, a present value must have its type, and one bad track fails the
// whole reply.
#include "app/JsonCodecImpl.h"
#include "app/Records.h"

#include <cmath>

namespace ql {

// ---- scalars ---------------------------------------------------------------

bool readJson(JsonElement e, QString& out) {
    std::string_view s;
    if (e.get_string().get(s) != simdjson::SUCCESS)
        return false;
    out = QString::fromUtf8(s.data(), qsizetype(s.size()));
    return true;
}

bool readJson(JsonElement e, bool& out) {
    return e.get_bool().get(out) == simdjson::SUCCESS;
}

bool readJson(JsonElement e, double& out) {
    // simdjson widens whole numbers to double here and fails on any non-number.
    return e.get_double().get(out) == simdjson::SUCCESS;
}

bool readJson(JsonElement e, qint64& out) {
    int64_t i = 0;
    switch (e.type()) {
    case simdjson::dom::element_type::INT64:
        if (e.get_int64().get(i) != simdjson::SUCCESS)
            return false;
        out = i;
        return true;
    case simdjson::dom::element_type::DOUBLE: {
        // A whole number written with a fraction part ("3.0") is still whole.
        double d = 0;
        if (e.get_double().get(d) != simdjson::SUCCESS)
            return false;
        constexpr double kLimit = 9223372036854775808.0; // 2^63
        if (!(d >= -kLimit && d < kLimit) || std::trunc(d) != d)
            return false;
        out = qint64(d);
        return true;
    }
    default: // UINT64 is above the signed range
        return false;
    }
}

bool readJson(JsonElement e, quint32& out) {
    qint64 v = 0;
    if (e.type() == simdjson::dom::element_type::UINT64 || !readJson(e, v))
        return false;
    if (v < 0 || v > qint64(0xFFFFFFFFu))
        return false;
    out = quint32(v);
    return true;
}

bool readJson(JsonElement e, QSet<QString>& out) {
    simdjson::dom::array arr;
    if (e.get_array().get(arr) != simdjson::SUCCESS)
        return false;
    out.clear();
    out.reserve(qsizetype(arr.size()));
    for (JsonElement item : arr) {
        QString s;
        if (!readJson(item, s))
            return false;
        out.insert(std::move(s));
    }
    return true;
}

void writeJson(JsonWriter& w, const QSet<QString>& v) {
    w.beginArray();
    for (const QString& s : v)
        w.string(s);
    w.endArray();
}

bool parseJson(simdjson::dom::parser& parser, QByteArrayView json, JsonElement& root) {
    // No bytes are no document (and simdjson must not be handed a null
    // pointer). Otherwise the parser copies them into its own padded buffer.
    if (json.isEmpty())
        return false;
    return parser.parse(json.data(), size_t(json.size())).get(root) == simdjson::SUCCESS;
}

// ---- records -----------------------------------------------------------------

bool readJson(JsonElement e, Track& t) {
    return readMembers(e, {"id", "path", "title", "artist", "album", "duration", "art"}, allOf(7),
                       [&t](unsigned i, JsonElement v) {
                           switch (i) {
                           case 0:
                               return readJson(v, t.id);
                           case 1:
                               return readJson(v, t.path);
                           case 2:
                               return readJson(v, t.title);
                           case 3:
                               return readJson(v, t.artist);
                           case 4:
                               return readJson(v, t.album);
                           case 5:
                               return readJson(v, t.duration);
                           default:
                               return readJson(v, t.art);
                           }
                       });
}

void writeJson(JsonWriter& w, const Track& t) {
    w.beginObject();
    writeMember(w, "id", t.id);
    writeMember(w, "path", t.path);
    writeMember(w, "title", t.title);
    writeMember(w, "artist", t.artist);
    writeMember(w, "album", t.album);
    writeMember(w, "duration", t.duration);
    writeMember(w, "art", t.art);
    w.endObject();
}

bool readJson(JsonElement e, PlayStat& s) {
    return readMembers(e, {"plays", "last"}, allOf(2), [&s](unsigned i, JsonElement v) {
        return i == 0 ? readJson(v, s.plays) : readJson(v, s.last);
    });
}

void writeJson(JsonWriter& w, const PlayStat& s) {
    w.beginObject();
    writeMember(w, "plays", s.plays);
    writeMember(w, "last", s.last);
    w.endObject();
}

bool readJson(JsonElement e, Sonic& s) {
    return readMembers(e, {"bpm", "db", "dyn", "zcr", "year", "ok"}, allOf(6),
                       [&s](unsigned i, JsonElement v) {
                           switch (i) {
                           case 0:
                               return readJson(v, s.bpm);
                           case 1:
                               return readJson(v, s.db);
                           case 2:
                               return readJson(v, s.dyn);
                           case 3:
                               return readJson(v, s.zcr);
                           case 4:
                               return readJson(v, s.year);
                           default:
                               return readJson(v, s.ok);
                           }
                       });
}

void writeJson(JsonWriter& w, const Sonic& s) {
    w.beginObject();
    writeMember(w, "bpm", s.bpm);
    writeMember(w, "db", s.db);
    writeMember(w, "dyn", s.dyn);
    writeMember(w, "zcr", s.zcr);
    writeMember(w, "year", s.year);
    writeMember(w, "ok", s.ok);
    w.endObject();
}

bool readJson(JsonElement e, Library& l) {
    return readMembers(e, {"tracks", "scanning", "error"}, 0, [&l](unsigned i, JsonElement v) {
        switch (i) {
        case 0:
            return readJson(v, l.tracks);
        case 1:
            return readJson(v, l.scanning);
        default:
            return readJson(v, l.error);
        }
    });
}

// Backend replies are only ever decoded by the program; the encoder serves
// tests and tools that stand in for the backend. Absent fields are left out.
void writeJson(JsonWriter& w, const Library& l) {
    w.beginObject();
    if (l.tracks) {
        writeMember(w, "tracks", *l.tracks);
    }
    if (l.scanning) {
        writeMember(w, "scanning", *l.scanning);
    }
    if (l.error) {
        writeMember(w, "error", *l.error);
    }
    w.endObject();
}

bool readJson(JsonElement e, OpenReply& r) {
    return readMembers(e, {"opened", "error"}, 0, [&r](unsigned i, JsonElement v) {
        return i == 0 ? readJson(v, r.opened) : readJson(v, r.error);
    });
}

void writeJson(JsonWriter& w, const OpenReply& r) {
    w.beginObject();
    if (r.opened) {
        writeMember(w, "opened", *r.opened);
    }
    if (r.error) {
        writeMember(w, "error", *r.error);
    }
    w.endObject();
}

// ---- the codecs this program uses ---------------------------------------------

template struct JsonCodec<Track>;
template struct JsonCodec<PlayStat>;
template struct JsonCodec<Sonic>;
template struct JsonCodec<Library>;
template struct JsonCodec<OpenReply>;
template struct JsonCodec<std::vector<Track>>;       // the catalog cache
template struct JsonCodec<QHash<QString, PlayStat>>; // "play-stats.json"
template struct JsonCodec<QHash<QString, double>>;   // "loudness.json"
template struct JsonCodec<QHash<QString, QString>>;  // "quality.json", "genres.json"
template struct JsonCodec<QHash<QString, Sonic>>;    // "sonic.json"
template struct JsonCodec<QSet<QString>>;            // "favorites.json"

} // namespace ql
