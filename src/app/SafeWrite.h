// Replacing a file only once its new content is known to be on the disk.
//
// QSaveFile alone is not enough: its commit() flushes its write buffer,
// ignores a failed flush (a full disk, a file-size limit) and renames the
// short temporary file over the good one. Here the bytes go straight to the
// temporary file's descriptor, every byte is accounted for and forced to the
// disk, and any error cancels the write: the old file stays as it was.
//
// Thread: any (no GUI, no shared state); two writers of one file at once
// each replace it whole, the last one winning.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace ql {

// Replaces `path` with `bytes`. `mode` (e.g. 0600) sets the new file's
// permission bits; without it an existing file's bits are kept. False, with
// the system's description in `error` when given, on any failure.
bool replaceFileChecked(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                        std::optional<unsigned> mode = std::nullopt);

// Gives the next piece of a file's content in `piece`; an empty piece ends
// the content, false abandons the write.
using FilePieces = std::function<bool(QByteArray& piece)>;

// The pieces of a content already whole: `bytes`, then the end.
FilePieces wholeContent(const QByteArray& bytes);

// The same with the content written as `next` makes it, so a large file is
// never held whole. Abandoned, the write changes nothing.
bool replaceFileChecked(const QString& path, const FilePieces& next, QString* error = nullptr,
                        std::optional<unsigned> mode = std::nullopt);

// Makes `path` and any missing parent folder, each new one with mode 0700
// (folders that exist are left as they are). True when the folder exists.
bool makeFoldersPrivate(const QString& path);

} // namespace ql
