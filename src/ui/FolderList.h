// The music folders of the catalog: every folder that directly holds tracks,
// with its track count and a short label, in the order the folder pop-up
// lists them.
//
// Pure unit. A label is the folder's name, or, when other folders share that
// name, the name, " — " (U+2014 between blanks) and just enough of the parent
// folders, joined by "/", to tell it apart:
//   /Music/Albums/Jazz, /Downloads/Jazz, /Music/Rock -> "Jazz — Albums",
//   "Jazz — Downloads", "Rock";  /x/Jazz, /y/x/Jazz -> "Jazz — x", "Jazz — y/x".
// Folders sort by label as the locale collates text, case aside and digit
// runs by value ("CD 2" before "CD 10"), as a person reads names; equal
// labels by path, so the order is stable.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

namespace ql {

inline constexpr char16_t kFolderLabelSeparator[] = u" \u2014 ";

struct FolderEntry {
    QString path;  // folderOf of its tracks
    QString label; // folderLabel(path, every folder path)
    int count = 0; // tracks directly in it
};

// The label of one folder path among all folder paths, by the rule above:
// the shortest run k >= 2 of trailing components that only this path of the
// same-named ones ends with (a path with fewer than k parts takes all of
// them); when none is unique, all parts before the name.
QString folderLabel(const QString& path, const QStringList& all);

// The label of every path of `all`, the same as folderLabel gives, computed
// once for the whole list: paths are grouped by name and only a group of two
// or more is compared, one trailing run at a time through a hash.
QHash<QString, QString> folderLabels(const QStringList& all);

// The folders of the catalog, sorted for the pop-up (collation of `locale`).
// Tracks without any folder in their path are counted in no entry.
std::vector<FolderEntry> folderList(const std::vector<Track>& rows,
                                    const QLocale& locale = QLocale());

} // namespace ql
