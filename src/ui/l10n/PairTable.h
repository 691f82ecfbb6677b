// The table of (Korean phrase, English text) rows that interface texts are
// translated with, held in the order replacements are tried.
//
// Many Korean phrases lie inside longer ones ("곡" inside "자주 들은 곡"), so
// the longest phrase is tried first: rows are ordered by the length of their
// Korean key in Unicode scalar values, longest first; rows of equal length keep
// the order they have in the data. Keys and English texts keep their leading
// and trailing blanks: many rows are fragments of messages assembled around
// numbers and names.
//
// The data is JSON: {"pairs": [[korean, english], …], "extra": [[…], …]}.
// "pairs" is the interface's own phrase list; "extra" holds the rows for the
// program's texts the phrase list leaves out or words otherwise (those that
// name the system's parts: its password, packages, sound path). Both arrays are
// merged into one order. A row is refused when a key holds no Hangul syllable,
// when an English text holds one (a later, shorter key would then rewrite it),
// or when a key repeats.
//
// Pure: values in, values out. The built-in table is compiled into the program
// as the resource ":/l10n/pairs.json".
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace ql {

struct Pair {
    QString korean;
    QString english;
};

struct PairTable {
    QList<Pair> rows;     // replacement order
    qsizetype listed = 0; // how many rows came from "pairs"

    // Parses and orders a table; nullopt with a reason in *error when the data
    // is not a valid table.
    static std::optional<PairTable> fromJson(const QByteArray& json, QString* error = nullptr);

    // The table compiled into the program, parsed once. Empty only if the
    // compiled-in data were broken, which the table tests rule out.
    static const PairTable& builtIn();
};

// Length in Unicode scalar values (a surrogate pair counts once).
qsizetype scalarLength(QStringView text);

} // namespace ql
