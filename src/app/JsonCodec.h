// Strict JSON coding of the values the program stores and receives.
//
// `JsonCodec<T>::decode` takes the bytes of exactly one JSON document and
// gives the value, or nothing when anything is wrong: invalid JSON, trailing
// bytes, a missing key, a null where a value is required, a value of the
// wrong type, an integer field holding a fraction or a number outside its
// range. One bad element fails the whole document; keys that are not part
// of the form are ignored.
//
// `JsonCodec<T>::encode` gives compact UTF-8 JSON, or nothing when the value
// holds a non-finite number (JSON has no form for it).
//
// The codec exists for the types instantiated in RecordsJson.cpp (the shared
// records and the store shapes: maps from path to a record, number or text,
// sets and lists of paths, lists of tracks) and beside each further record
// that has a JSON form (for example FXState). Using it for another type is a
// link error.
//
// Thread: any; no shared state.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace ql {

template <class T> struct JsonCodec {
    static std::optional<QByteArray> encode(const T& value);
    static std::optional<T> decode(QByteArrayView json);
};

} // namespace ql
