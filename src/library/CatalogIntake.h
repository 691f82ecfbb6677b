// What the catalog worker makes of the backend's reply lines and of the
// catalog cache, away from the main thread.
//
// An intake remembers the catalog the window shows (its "shown" catalog, with
// the generation the main thread knows it by) and turns each reply line into
// an update: decoded (a line equal to the last one is not decoded again, see
// ReplyReader), compared with the shown catalog (CatalogChange.h) and, when
// the reply replaces the catalog, with the search text of every row folded
// (only rows whose texts changed are folded again, see SearchMemo) and, when
// it changed, with the folder list built. A reply is decoded with its texts
// shared with the shown catalog's, and a reply equal to the shown catalog is
// not kept beside it: at rest the worker holds one catalog, not two. Whether a reply replaces the
// catalog follows the catalog's rules (see AppCatalog.cpp): a partial list
// of a scan still running is not taken in, an identical one changes nothing.
//
// The update's generations say which catalog it was made against and which
// it becomes; the main thread drops an update made against a catalog it no
// longer shows.
//
// Not thread-safe: one owner at a time (the catalog worker's thread).
#pragma once

#include "app/JSONStore.h"
#include "app/Records.h"
#include "library/CatalogChange.h"
#include "library/ReplyReader.h"
#include "ui/FolderList.h"
#include "ui/SearchMemo.h"
#include "ui/ShuffleOrder.h"

#include <QByteArrayView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ql {

struct CatalogUpdate {
    quint64 fromGeneration = 0; // the shown catalog it was compared with
    quint64 toGeneration = 0;   // the catalog once taken (= from when nothing is taken)
    bool repeat = false;        // the line repeated the last one byte for byte
    bool hasTracks = false;     // the reply carried a catalog
    bool partial = false;       // a scan's list shorter than the catalog shown
    bool scanning = false;
    std::optional<QString> error;
    CatalogComparison comparison;
    bool restored = false;     // read from the cache file (rows, then texts and folders)
    bool taken = false;        // `tracks` replaces the catalog
    std::vector<Track> tracks; // the new catalog, when taken
    // When taken: each row's search text, made from `tracks`.
    // Shared with the worker, which copies it before it changes it again.
    std::shared_ptr<SearchMemo> memo;
    bool distinctIds = false; // with the memo: no id appears twice
    // With the memo and with restored rows: the row of each id, for passes
    // that keep a shuffled order.
    std::shared_ptr<const IdRows> idRows;
    // When the catalog changed: its folders in the pop-up's order.
    std::optional<std::vector<FolderEntry>> folders;
    // The worker's own catalog of `toGeneration`, equal to `tracks` and never
    // changed: the visible list points into it instead of copying tracks.
    std::shared_ptr<const std::vector<Track>> shared;
};

// How a write of the catalog cache ended.
enum class CatalogSave { Written, BadDuration, NotWritable };

// Encodes the catalog and writes it atomically as the store's cache file.
CatalogSave writeCatalogFile(const JSONStore& store, const std::vector<Track>& rows);

// A fresh generation number, never given out before in this process.
quint64 nextCatalogGeneration();

class CatalogIntake {
public:
    // The catalog shown from now on, known as `generation`.
    void rebase(std::vector<Track> shown, quint64 generation);
    // The same without a copy: `shown` must outlive the next take().
    void follow(const std::vector<Track>& shown, quint64 generation);
    // The update one reply line makes; none when the line does not decode.
    // `decoded` is called once the line has been read, before the comparing
    // and folding: from then on `line` is not read again, and its array may
    // be filled with the next reply (see ReplyReader).
    std::optional<CatalogUpdate> take(QByteArray& line, const std::function<void()>& decoded = {});
    // The cache file's catalog, taken as the shown one; none when the file is
    // missing, damaged or empty (the shown catalog is then kept). The rows
    // come alone, so the window can show them at once; restoreTexts() then
    // gives their search texts and folders.
    std::optional<CatalogUpdate> restore(const QString& path);
    // The search texts of the shown catalog (after a rebase), and the catalog
    // itself shared.
    CatalogUpdate fold();
    // The search texts and the folders of the catalog restore() read.
    CatalogUpdate restoreTexts();

    // The shown catalog, shared with whoever writes it out.
    const std::shared_ptr<const std::vector<Track>>& shown() const { return m_shown; }
    quint64 generation() const { return m_generation; }

private:
    // Takes `tracks` as the shown catalog and fills the update's memo.
    void adopt(CatalogUpdate& update, std::shared_ptr<const std::vector<Track>> tracks);
    // Takes `rows` as the shown catalog: not the reader's last reply, its id
    // table still to make; `owned` when it is not the window's own rows.
    void show(std::shared_ptr<const std::vector<Track>> rows, bool owned);
    // fold() without the shared catalog.
    CatalogUpdate foldTexts();
    // The row of each id of the shown catalog.
    const std::shared_ptr<const IdRows>& idRows();

    ReplyReader m_reader;
    std::shared_ptr<const std::vector<Track>> m_shown = std::make_shared<std::vector<Track>>();
    quint64 m_generation = 0;
    bool m_shownIsReply = false;            // m_shown holds exactly the reader's last reply
    bool m_shownOwned = true;               // m_shown is shared, not the window's rows (follow())
    std::shared_ptr<const IdRows> m_idRows; // of m_shown, once made
    std::shared_ptr<SearchMemo> m_memo = std::make_shared<SearchMemo>();
};

} // namespace ql
