// The tile grid's model: one row per tile of the owner's vector (the
// browser's tile list), each row's AlbumCell configured by the owner when the
// row is first asked for after a reload, then kept until the next reload.
// So a tile is configured when it first comes into view, as a reused cell
// would be, and a repaint configures nothing again.
//
// Later news reaches one configured row at a time: setCover only while the
// row still shows the cover's key (a late cover for a tile no longer there
// changes nothing), setBadge for a new quality label; each repaints that row
// alone (dataChanged). Rows not configured yet are left alone: their
// configuration will read the news.
//
// A configured row holds a cover hold (ui/CoverTicket.h) and hands its
// ticket to the configuration: the row's cover request stays wanted until a
// reload, or until the row leaves the view (keepRows), which also forgets its
// cell, so it is configured afresh, and asks again, when it comes back.
//
// Roles: CellRole the AlbumCell; DisplayRole its title.
// Main thread only.
#pragma once

#include "ui/AlbumCell.h"
#include "ui/AlbumItem.h"
#include "ui/CoverTicket.h"

#include <QAbstractListModel>

#include <functional>
#include <optional>
#include <vector>

namespace ql {

class AlbumGridModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int CellRole = Qt::UserRole + 1;
    using Configure = std::function<AlbumCell(int row, const CoverTicket& ticket)>;

    explicit AlbumGridModel(QObject* parent = nullptr);

    // The tiles (null: none) and how a row's cell is made; resets.
    void setSource(const std::vector<AlbumItem>* tiles, Configure configure);
    // The tiles changed: a reset; every cell is configured afresh.
    void reload();
    // The configured cell of a row; null when not configured or out of range.
    const AlbumCell* cell(int row) const;
    // Shows the cover in the row if the row shows `key` now and the image
    // exists; otherwise nothing changes.
    void setCover(int row, const QString& key, const QImage& image);
    // The badge of a configured row; others are left alone.
    void setBadge(int row, bool badge);
    // The rows shown now are first … last (none when last < first): every
    // other row's cell is forgotten and its cover request let go. Nothing is
    // repainted: those rows are not on screen.
    void keepRows(int first, int last);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const AlbumCell* configured(int row) const;

    const std::vector<AlbumItem>* m_tiles = nullptr;
    Configure m_configure;
    // Made on first use, with the hold of its cover request; reset by
    // reload().
    mutable std::vector<std::optional<AlbumCell>> m_cells;
    mutable std::vector<CoverHold> m_holds;
};

} // namespace ql
