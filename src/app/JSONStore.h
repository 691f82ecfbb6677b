// The JSON stores: one file per store in one folder (by default the
// application-support folder, $XDG_DATA_HOME/Quavelark), each read whole
// and replaced whole.
//
// load(name): the decoded value of the file, or nothing when it is missing,
// unreadable or does not decode (JsonCodec's strict rules). Never creates the
// folder, never touches the file.
//
// save(name, value): creates the folder when needed (mode 0700) and replaces
// the file atomically (a temporary file in the same folder, written whole and
// forced to the disk, then moved over the old one), so a reader never sees
// half a store and a full disk never empties one. Returns whether the file now
// holds the value; a failure is also kept for takeOutcomes(), which the
// program's tick turns into one status-line message per cause, and a good
// write after a failure is kept too, so the program can say it was saved.
// Nothing is written, and the old file stays, when:
//   - the value holds a non-finite number (JSON cannot hold it);
//   - the existing file is read-only (the move would replace it anyway);
//   - the folder is read-only or cannot be written.
// Read-only means the mode bits say so, even for a user (root) whom the
// system would let write anyway.
// A store that exists but did not load (damaged, a zero-byte file after a
// crash) is kept beside the new file as "<name>.corrupt-<epoch seconds>":
// at launch by setAsideDamaged(), which tells the program what to tell the
// user, else before the first save over it, so starting empty never destroys
// what the user had. The list of such files is
// process-wide, so a save by any JSONStore on the same folder keeps the copy.
//
// Thread: any; calls on one file are expected from one thread at a time (the
// program saves on the main thread).
#pragma once

#include "app/AppPaths.h"
#include "app/JsonCodec.h"
#include "app/SafeWrite.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace ql {

// The store files of the application-support folder.
namespace stores {
inline constexpr const char* kPlayStats = "play-stats.json";
inline constexpr const char* kLoudness = "loudness.json";
inline constexpr const char* kQuality = "quality.json";
inline constexpr const char* kFavorites = "favorites.json";
inline constexpr const char* kSonic = "sonic.json";
inline constexpr const char* kGenres = "genres.json";
inline constexpr const char* kFX = "fx.json";
inline constexpr const char* kCatalog = "native-catalog.json"; // written by App::saveCatalog
} // namespace stores

class JSONStore {
public:
    explicit JSONStore(QString dir = appSupportDir());

    const QString& dir() const { return m_dir; }
    QString filePath(const QString& name) const;

    template <class T> std::optional<T> load(const QString& name) const {
        const std::optional<QByteArray> bytes = readBytes(name);
        if (!bytes)
            return std::nullopt;
        std::optional<T> value = JsonCodec<T>::decode(*bytes);
        noteLoaded(name, value.has_value());
        return value;
    }

    template <class T> bool save(const QString& name, const T& value) const {
        const std::optional<QByteArray> bytes = JsonCodec<T>::encode(value);
        if (!bytes) {
            // The file on disk stays as it was, but the change is lost: the
            // user hears of it like any other failed save.
            noteWriteFailure(name, QStringLiteral("A value is not a finite number"));
            return false;
        }
        return writeBytes(name, *bytes);
    }

    // The raw steps, for stores whose coding lives elsewhere. readBytes gives
    // nothing for a missing file and notes an unreadable one as damaged; the
    // caller of readBytes notes whether the bytes decoded. writeBytes puts the
    // platform's description of a failure in `error` when one is given.
    std::optional<QByteArray> readBytes(const QString& name) const;
    // `mode`: the new file's permission bits (else those of the file it
    // replaces). Usable from any thread.
    bool writeBytes(const QString& name, const QByteArray& bytes, QString* error = nullptr,
                    std::optional<unsigned> mode = std::nullopt) const;
    // The same with the bytes made piece by piece (see SafeWrite.h).
    bool writePieces(const QString& name, const FilePieces& next, QString* error = nullptr,
                     std::optional<unsigned> mode = std::nullopt) const;
    // Keeps a failure to write `name` found before writeBytes could be asked.
    void noteWriteFailure(const QString& name, const QString& error) const;
    void noteLoaded(const QString& name, bool decoded) const;

    // Moves every file of this folder noted as damaged aside now; the name of
    // each file and of its kept copy. One that cannot be moved stays noted,
    // so no save writes over it.
    struct SetAside {
        QString file;
        QString copy;
    };
    std::vector<SetAside> setAsideDamaged() const;

    // Writes that failed since the last call, in any folder and on any
    // thread, in the order they happened (the file's absolute path and the
    // system's description), with, as `saved`, each file written again after
    // its last write had failed (so the user who was told of the failure can
    // be told it is over).
    struct WriteOutcome {
        QString path;
        QString error; // empty when saved
        bool saved = false;
    };
    static std::vector<WriteOutcome> takeOutcomes();

private:
    QString m_dir;
};

} // namespace ql
