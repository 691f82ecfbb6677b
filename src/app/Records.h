// The records shared across the program.
//
// `Track`: one catalog entry. `art` holds an https address when cover art is
// to be fetched for a file without an embedded picture, else "".
#pragma once

#include <QString>

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

} // namespace ql
