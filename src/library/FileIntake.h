// The pure rules of file intake: which entries are local files, and how the
// imported tracks join the catalog.
//
// Pure functions, any thread.
#pragma once

#include "app/Records.h"

#include <QStringList>

#include <vector>

namespace ql {

// The local files among `entries`, in order: an absolute path as it is, a
// "file:" URL as its local path. Every other entry (an address of another
// scheme, a relative path) is dropped without a word.
QStringList localFiles(const QStringList& entries);

// Takes the imported tracks into `rows`, in order: each replaces the first row
// with its id, or is appended when there is none.
void mergeImported(std::vector<Track>& rows, const std::vector<Track>& imported);

} // namespace ql
