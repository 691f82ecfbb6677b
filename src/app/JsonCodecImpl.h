// The machinery behind JsonCodec<T>: strict readers over a parsed document
// and writers into a JsonWriter, one overload pair per type, and the generic
// definitions that the codec's instantiations use.
//
// Only the .cpp files that instantiate a codec include this header (it pulls
// in simdjson). A record type gets its codec by declaring
//     bool readJson(JsonElement, Record&);
//     void writeJson(JsonWriter&, const Record&);
// in namespace ql and instantiating `template struct JsonCodec<Record>;`.
//
// Parsing is simdjson's: it validates the whole document (UTF-8 included)
// before anything is read, so a reader only has to check shapes and types.
#pragma once

#include "app/JsonCodec.h"
#include "app/JsonWriter.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <simdjson.h>

#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace ql {

using JsonElement = simdjson::dom::element;

// ---- scalars ---------------------------------------------------------------
// Each reader fails on null and on any other JSON type.

bool readJson(JsonElement e, QString& out);
bool readJson(JsonElement e, bool& out);
bool readJson(JsonElement e, double& out);  // any number
bool readJson(JsonElement e, qint64& out);  // a whole number within range (3.0 counts)
bool readJson(JsonElement e, quint32& out); // a whole number 0 … 4294967295

inline void writeJson(JsonWriter& w, const QString& v) {
    w.string(v);
}
inline void writeJson(JsonWriter& w, bool v) {
    w.boolean(v);
}
inline void writeJson(JsonWriter& w, double v) {
    w.number(v);
}
inline void writeJson(JsonWriter& w, qint64 v) {
    w.integer(v);
}
inline void writeJson(JsonWriter& w, quint32 v) {
    w.integer(v);
}

// ---- objects -----------------------------------------------------------------

// Writes one member: its key (plain ASCII) and its value.
template <class T> void writeMember(JsonWriter& w, const char* name, const T& value) {
    w.key(QLatin1String(name));
    writeJson(w, value);
}

// Walks the members of an object. `names` lists the keys of the form; other
// keys are skipped. `member(i, value)` reads the member named names[i] and
// returns false to fail the whole object. Fails when `e` is not an object or
// a key whose bit is set in `required` is absent. A key given twice is read
// twice; the last one wins.
template <class Member>
bool readMembers(JsonElement e, std::initializer_list<std::string_view> names, unsigned required,
                 Member&& member) {
    simdjson::dom::object obj;
    if (e.get_object().get(obj) != simdjson::SUCCESS)
        return false;
    unsigned seen = 0;
    for (const simdjson::dom::key_value_pair kv : obj) {
        unsigned i = 0;
        for (std::string_view n : names) {
            if (kv.key == n)
                break;
            ++i;
        }
        if (i == names.size())
            continue;
        if (!member(i, kv.value))
            return false;
        seen |= 1u << i;
    }
    return (seen & required) == required;
}

// Every key required: the mask for the first n names.
constexpr unsigned allOf(unsigned n) {
    return n >= 32 ? ~0u : (1u << n) - 1u;
}

// An optional member: absent or null gives nothing, anything else must read.
template <class T> bool readJson(JsonElement e, std::optional<T>& out) {
    if (e.is_null()) {
        out.reset();
        return true;
    }
    T value{};
    if (!readJson(e, value))
        return false;
    out = std::move(value);
    return true;
}

// ---- containers (forward declarations, so records and containers nest) ------

template <class T> bool readJson(JsonElement e, std::vector<T>& out);
template <class T> void writeJson(JsonWriter& w, const std::vector<T>& v);
template <class T> bool readJson(JsonElement e, QHash<QString, T>& out);
template <class T> void writeJson(JsonWriter& w, const QHash<QString, T>& v);
bool readJson(JsonElement e, QSet<QString>& out);
void writeJson(JsonWriter& w, const QSet<QString>& v);

template <class T> bool readJson(JsonElement e, std::vector<T>& out) {
    simdjson::dom::array arr;
    if (e.get_array().get(arr) != simdjson::SUCCESS)
        return false;
    out.clear();
    out.reserve(arr.size());
    for (JsonElement item : arr) {
        T value{};
        if (!readJson(item, value))
            return false;
        out.push_back(std::move(value));
    }
    return true;
}

template <class T> void writeJson(JsonWriter& w, const std::vector<T>& v) {
    w.beginArray();
    for (const T& item : v)
        writeJson(w, item);
    w.endArray();
}

template <class T> bool readJson(JsonElement e, QHash<QString, T>& out) {
    simdjson::dom::object obj;
    if (e.get_object().get(obj) != simdjson::SUCCESS)
        return false;
    out.clear();
    out.reserve(qsizetype(obj.size()));
    for (const simdjson::dom::key_value_pair kv : obj) {
        T value{};
        if (!readJson(kv.value, value))
            return false;
        out.insert(QString::fromUtf8(kv.key.data(), qsizetype(kv.key.size())), std::move(value));
    }
    return true;
}

template <class T> void writeJson(JsonWriter& w, const QHash<QString, T>& v) {
    w.beginObject();
    for (auto it = v.cbegin(); it != v.cend(); ++it) {
        w.key(it.key());
        writeJson(w, it.value());
    }
    w.endObject();
}

// ---- the codec -----------------------------------------------------------------

// Parses one whole document; false when the bytes are not valid JSON.
bool parseJson(simdjson::dom::parser& parser, QByteArrayView json, JsonElement& root);

template <class T> std::optional<QByteArray> JsonCodec<T>::encode(const T& value) {
    JsonWriter w;
    writeJson(w, value);
    if (!w.ok())
        return std::nullopt;
    return w.take();
}

template <class T> std::optional<T> JsonCodec<T>::decode(QByteArrayView json) {
    simdjson::dom::parser parser;
    JsonElement root;
    if (!parseJson(parser, json, root))
        return std::nullopt;
    T value{};
    if (!readJson(root, value))
        return std::nullopt;
    return value;
}

} // namespace ql
