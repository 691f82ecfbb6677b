// The rules that decide what a new catalog from the library backend changes.
//
// A catalog changed when its tracks differ, position by position, in any of
// `id`, `path`, `title`, `artist`, `album` or `art`; `duration` alone is not a
// change (it is taken in without rewriting the cache or rebuilding the
// lists). Fields are compared one by one, so no two different catalogs can
// look alike the way texts joined without a separator would ("ab" + "c" and
// "a" + "bc").
//
// Pure functions, any thread.
#pragma once

#include "app/Records.h"

#include <QString>

#include <vector>

namespace ql {

struct CatalogComparison {
    bool changed = false;   // the tracks differ in a field other than duration
    bool identical = false; // the tracks are equal in every field
};

CatalogComparison compareCatalogs(const std::vector<Track>& before,
                                  const std::vector<Track>& after);

// The first track of `rows` with the current track's id, when its title or its
// cover address differs from the current track's: the entry to show in place
// of the current one. None when nothing is to be refreshed (no such id, or
// only the artist, album, path or duration changed).
const Track* refreshedCurrent(const std::vector<Track>& rows, const Track& current);
// The same when `entry` is already known to be the first track with the
// current track's id.
const Track* refreshedCurrent(const Track& entry, const Track& current);

// The automatic status text: "12곡 / 전체 340곡", with
// " · 홈 폴더와 외장 디스크 검색 중…" while the backend is still scanning.
// Korean; the caller translates it whole.
QString catalogCountText(qsizetype visible, qsizetype total, bool scanning);

} // namespace ql
