// The parts of a track's file path that the browser compares and shows.
//
// Pure unit. Paths are taken as POSIX file paths. A path is cleaned only when it
// needs it ("//", "/./", "/../", a trailing slash), so the common absolute path
// costs one scan.
#pragma once

#include <QString>
#include <QStringList>

namespace ql {

// The folder that holds the file, in standard form without a trailing slash:
// "/Music/A/01.flac" -> "/Music/A"; a file at the root -> "/"; a bare file name
// without any folder -> "".
QString folderOf(const QString& path);

// How long folderOf(path) is as the start of the path itself, which it is
// unless the path needs cleaning first ("//", "/./", "/../", a trailing
// slash): then -1.
qsizetype folderLength(const QString& path);

// The last path component: "/Music/A/01 Intro.flac" -> "01 Intro.flac";
// "/" -> "/".
QString lastPathComponent(const QString& path);

// The file's extension without its dot, as written: "Song.FLAC" -> "FLAC".
// A name without a dot, with a dot only in first place (".hidden") or only in
// last place ("name.") has none: "".
QString fileExtension(const QString& fileName);

// The components of a path without the root: "/Music/Albums/Jazz" ->
// {Music, Albums, Jazz}; "/" -> {}.
QStringList pathParts(const QString& path);

} // namespace ql
