#include "library/CatalogIntake.h"

#include "app/JsonPieces.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace ql {

CatalogSave writeCatalogFile(const JSONStore& store, const std::vector<Track>& rows) {
    // Checked before a byte is written: a duration that cannot be stored
    // leaves the old file alone without counting as a failure to write it.
    if (!std::ranges::all_of(rows, [](const Track& t) { return std::isfinite(t.duration); }))
        return CatalogSave::BadDuration;
    return store.writePieces(QString::fromLatin1(stores::kCatalog),
                             jsonpieces::writeTrackList(rows))
               ? CatalogSave::Written
               : CatalogSave::NotWritable;
}

quint64 nextCatalogGeneration() {
    static std::atomic<quint64> last{0};
    return ++last;
}

void CatalogIntake::show(std::shared_ptr<const std::vector<Track>> rows, bool owned) {
    m_shown = std::move(rows);
    m_shownIsReply = false;
    m_shownOwned = owned;
    m_idRows.reset();
}

void CatalogIntake::rebase(std::vector<Track> shown, quint64 generation) {
    show(std::make_shared<const std::vector<Track>>(std::move(shown)), true);
    m_generation = generation;
}

void CatalogIntake::follow(const std::vector<Track>& shown, quint64 generation) {
    show(std::shared_ptr<const std::vector<Track>>(std::shared_ptr<void>(), &shown), false);
    m_generation = generation;
}

void CatalogIntake::adopt(CatalogUpdate& update, std::shared_ptr<const std::vector<Track>> tracks) {
    // The worker compares the next reply with the reply it decoded, kept
    // as it is; the update's copy goes to the window. Both share their texts.
    show(std::move(tracks), true);
    m_generation = nextCatalogGeneration();
    update.toGeneration = m_generation;
    update.taken = true;
    CatalogUpdate folded = fold();
    update.memo = std::move(folded.memo);
    update.distinctIds = folded.distinctIds;
    update.idRows = std::move(folded.idRows);
    update.shared = std::move(folded.shared);
}

CatalogUpdate CatalogIntake::restoreTexts() {
    CatalogUpdate update = foldTexts(); // restore() already shared the catalog
    update.restored = true;
    update.folders = folderList(*m_shown);
    return update;
}

CatalogUpdate CatalogIntake::fold() {
    CatalogUpdate update = foldTexts();
    update.shared = m_shown;
    return update;
}

CatalogUpdate CatalogIntake::foldTexts() {
    const std::vector<Track>& rows = *m_shown;
    // The window may still read the memo last handed over: it is copied
    // before it changes, and the finished one is shared, not copied.
    SearchMemo& memo = ownMemo(m_memo);
    memo.fit(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        memo.at(i, rows[i]);
    memo.arena();
    CatalogUpdate update;
    update.fromGeneration = update.toGeneration = m_generation;
    update.memo = m_memo;
    update.idRows = idRows();
    update.distinctIds = update.idRows->distinct();
    return update;
}

const std::shared_ptr<const IdRows>& CatalogIntake::idRows() {
    // Made once per shown catalog: the rows restored and their search texts
    // go out in two updates, and the window keeps the first table until the
    // second replaces it.
    if (!m_idRows)
        m_idRows = std::make_shared<const IdRows>(*m_shown);
    return m_idRows;
}

std::optional<CatalogUpdate> CatalogIntake::take(QByteArray& line,
                                                 const std::function<void()>& decoded) {
    // Rows the window still changes (follow()) are not the reader's to hold.
    const CatalogReply* reply = m_reader.read(line, m_shownOwned ? m_shown : nullptr);
    if (decoded)
        decoded();
    if (!reply)
        return std::nullopt;
    CatalogUpdate update;
    update.fromGeneration = update.toGeneration = m_generation;
    update.repeat = m_reader.lastWasRepeat();
    update.error = reply->error;
    if (!reply->tracks)
        return update;
    const std::vector<Track>& tracks = *reply->tracks;
    const std::vector<Track>& shown = *m_shown;
    update.hasTracks = true;
    update.scanning = reply->scanning.value_or(false);
    // The idle poll: the same bytes again, and the shown catalog is still
    // the one they decoded to. Nothing to compare field by field.
    if (update.repeat && m_shownIsReply) {
        update.comparison = {.changed = false, .identical = true};
        return update;
    }
    // While scanning, a list shorter than the one shown is a fraction of the
    // library: it is not taken in.
    const bool partial = update.scanning && tracks.size() < shown.size();
    update.partial = partial;
    update.comparison = partial ? CatalogComparison{.changed = false, .identical = true}
                                : compareCatalogs(shown, tracks);
    m_shownIsReply = !partial && update.comparison.identical;
    if (update.comparison.identical)
        return update;
    update.tracks = tracks;
    adopt(update, reply->tracks);
    m_shownIsReply = true;
    if (update.comparison.changed)
        update.folders = folderList(update.tracks);
    return update;
}

std::optional<CatalogUpdate> CatalogIntake::restore(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // A damaged cache is left where it is; the next change overwrites it.
    std::optional<std::vector<Track>> tracks = jsonpieces::readTrackList(bytes);
    if (!tracks || tracks->empty())
        return std::nullopt;
    CatalogUpdate update;
    update.fromGeneration = m_generation;
    update.restored = true;
    update.hasTracks = true;
    update.comparison = {.changed = true, .identical = false};
    update.tracks = std::move(*tracks);
    // The rows go out first, with the worker's catalog shared but without
    // their search texts and folders: those follow in restoreTexts().
    show(std::make_shared<const std::vector<Track>>(update.tracks), true);
    m_generation = nextCatalogGeneration();
    update.toGeneration = m_generation;
    update.taken = true;
    update.shared = m_shown;
    // A kept shuffle order is followed through this table from the first
    // pass on, before the search texts come.
    update.idRows = idRows();
    update.distinctIds = update.idRows->distinct();
    return update;
}

} // namespace ql
