// The records shared across the program. Plain values: copied on assignment,
// no identity, no behaviour beyond construction. Their JSON forms are in
// RecordsJson.h.
//
// `Track`: one catalog entry. `art` holds an https address when cover art is
// to be fetched for a file without an embedded picture, else "".
// `Library`: one reply line of the library backend; every field optional.
// `OpenReply`: the reply of a one-shot file import; every field optional.
// `PlayStat`: play statistics of one file, keyed by `Track::path`.
// `Sonic`: measured sonic features of one file, keyed by `Track::path`.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace ql {

struct Track {
    qint64 id = 0;
    QString path;
    QString title;
    QString artist;
    QString album;
    double duration = 0; // seconds
    QString art;
    bool operator==(const Track&) const = default;
};

struct Library {
    std::optional<std::vector<Track>> tracks; // the catalog, when the reply carries it
    std::optional<bool> scanning;             // the backend is scanning folders
    std::optional<QString> error;             // a message of the backend
    bool operator==(const Library&) const = default;
};

struct OpenReply {
    std::optional<Track> opened;  // the imported file as a catalog entry
    std::optional<QString> error; // why the import failed
    bool operator==(const OpenReply&) const = default;
};

struct PlayStat {
    qint64 plays = 0; // counted plays
    double last = 0;  // seconds since 1970 of the last counted play; 0 = never
    bool operator==(const PlayStat&) const = default;
};

struct Sonic {
    double bpm = 0;  // tempo, beats per minute
    double db = 0;   // mean frame loudness, dBFS
    double dyn = 0;  // standard deviation of the frame loudness, dB
    double zcr = 0;  // zero crossings per sample, 0…1
    qint64 year = 0; // release year from the tags; 0 = none
    bool ok = false; // the record holds a measurement
    bool operator==(const Sonic&) const = default;
};

} // namespace ql
