// What tells one version of a file from another without reading it: which
// file it is (device and inode), its size, and when it was last changed, to
// the nanosecond (its contents, and its state: a file written again with its
// old modification time put back still reads differently). A file replaced
// under the same path, or written again, reads differently; one left alone
// reads the same.
//
// Pure unit (one stat). Any thread.
#pragma once

#include <QString>
#include <QtGlobal>

struct stat;

namespace ql {

struct FileStamp {
    qint64 size = -1;      // -1: the file could not be looked at
    qint64 modifiedNs = 0; // last change of its contents, since the epoch
    qint64 changedNs = 0;  // last change of its state (contents, times, mode, links)
    quint64 device = 0;
    quint64 inode = 0;

    bool exists() const { return size >= 0; }
    // The time of the last change in whole milliseconds since the epoch.
    qint64 modifiedMs() const;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of `path` (a link is followed), read against `currentDir` when
// relative (empty: the process's own); none (size -1) when it cannot be
// looked at.
FileStamp fileStamp(const QString& path, const QString& currentDir = QString());
// The stamp of the file `st` describes (as stat or fstat filled it).
FileStamp fileStamp(const struct stat& st);

} // namespace ql
