// The user's own download script ("flac.py" in Downloads) as one open file.
//
// Its checks come from the descriptor it was opened by (no link followed), and
// its bytes are read once, into a sealed in-memory copy from which the hash
// and the first lines are taken and which the run reads ("/proc/self/fd/N").
// The file itself may be rewritten in place after the user agreed (the
// interpreter would read it again): what runs is still exactly what was hashed
// and shown.
//
// A script is some kilobytes: one larger than kMaxBytes is refused by its size
// before anything is copied, and reading stops one byte past the bound, so a
// file that grows while it is read is refused too and never costs the window
// more than that bound of reading or memory.
//
// Main thread (the file is small by then); not copyable.
#pragma once

#include <QByteArray>
#include <QString>

class QCryptographicHash;

namespace ql {

class ScriptFile {
public:
    static constexpr qint64 kMaxBytes = qint64(1) << 20;

    ScriptFile() = default;
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    ~ScriptFile();

    // Opens `path` without following a link. False when nothing is there;
    // otherwise `reason` is empty when the file may run, else why not (a
    // translated "⚠ …: " prefix for the path).
    bool open(const QString& path, QString& reason);

    // The sealed copy the child inherits and runs; -1 unless the file may run.
    int descriptor() const { return m_copy; }
    QString runPath() const { return QStringLiteral("/proc/self/fd/%1").arg(m_copy); }
    const QByteArray& sha256() const { return m_sha256; } // hex
    const QString& firstLines() const { return m_firstLines; }

private:
    bool copyContents(QString& reason);

    int m_fd = -1;   // the file as opened
    int m_copy = -1; // its sealed copy
    QByteArray m_sha256;
    QString m_firstLines;
};

// How reading a script into its copy ended.
enum class ScriptCopy { Whole, TooLarge, Failed };

// Reads `from`, from its offset to its end, and writes the bytes to `to`,
// adding them to `hash` and the first 8192 of them to `head`. It reads at most
// `limit` + 1 bytes, whatever size the file claimed: one byte more than
// `limit` is TooLarge. Failed on a read or write error.
ScriptCopy copyBounded(int from, int to, qint64 limit, QCryptographicHash& hash, QByteArray& head);

} // namespace ql
